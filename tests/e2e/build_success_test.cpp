#include <gtest/gtest.h>
#include <strings.h>

#include <filesystem>
#include <functional>
#include <map>

#include "e2e_support.h"
#include "package/tv_pkg.h"
#include "zip/zip_file.h"
#include "zip_archive_builder.h"
#include "zip_test_archive.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ShellQuote;

using Files = std::vector<std::pair<std::string, std::string>>;

// The members of the packages built here.
Files PackageFiles() {
  return {{"SETUP42.xml", e2e::Definition("Sound Driver", "1.00.0.12")},
          {"tv_data.xml", "<tv_pkg_data><configuration><config_file><filename>cfg.ini</filename>"
                          "</config_file></configuration></tv_pkg_data>"},
          {"cfg.ini", "volume=80\n"},
          {"readme.txt", std::string(5000, 'r')},
          {"empty.bin", ""}};
}

class BuildSuccess : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  std::string archive = ziptest::WriteArchive(dir.File("data.zip"), PackageFiles(), 8);
  std::string output = dir.File("SETUP42.exe");

  std::string ExpectedOutput(const std::string& stub) const {
    return e2e::BuildPrelude(stub, archive, "Sound Driver", "1.00.0.12") +
           "\n- modifying offsets in the .zip file '" + archive +
           "'\n- opening temporary file '" + output + ".tmp'\n- opening output file '" + output +
           "'\n- writing .zip data to '" + output +
           "'\n- package assembled.  verifying...\n- package was created successfully.\n\n";
  }
};

using Strings = std::vector<std::pair<std::string, std::string>>;

// The strings the new block must hold, in key order, for a stub whose
// 040904b0 strings are given.
Strings ExpectedStrings(const std::map<std::string, std::string>& stub, const std::string& pass) {
  auto get = [&](const std::string& k) {
    auto it = stub.find(k);
    return it == stub.end() ? std::string() : it->second;
  };
  std::map<std::string, std::string> m;
  for (const char* k : {"CompanyName", "LegalCopyright", "LegalTrademarks"})
    if (stub.count(k)) m[k] = get(k);
  // Read under "OriginalFileName", whatever the stub's spelling, and written back so.
  for (const auto& [k, v] : stub)
    if (k == "OriginalFilename" || k == "OriginalFileName") m["OriginalFileName"] = v;
  m["Comments"] = "Created using " + get("InternalName") + " version " + get("FileVersion");
  m["InternalName"] = get("InternalName");
  m["FileDescription"] = m["ProductName"] = "Sound Driver Package";
  m["FileVersion"] = m["ProductVersion"] = "1.00.0.12";
  m["PrivateBuild"] = pass;
  return Strings(m.begin(), m.end());
}

// The stub's strings of its "040904b0" table (letter case ignored), whatever
// resource holds it; of its first table when it has none (these stubs name
// that one in their translation too).
std::map<std::string, std::string> StubStrings(const PefileDump& stub) {
  std::string table = stub.strings.empty() ? "" : stub.strings.front().table;
  for (const auto& s : stub.strings)
    if (strcasecmp(s.table.c_str(), "040904b0") == 0) table = s.table;
  std::map<std::string, std::string> m;
  for (const auto& s : stub.strings)
    if (s.table == table) m[s.key] = s.value;
  return m;
}

void ExpectReadableByOtherTools(const std::string& output) {
  auto unzip = testsupport::RunCommand("unzip -t " + ShellQuote(output), true);
  EXPECT_EQ(unzip.exitCode, 0) << unzip.output;
  EXPECT_EQ(unzip.output.find("extra bytes"), std::string::npos) << unzip.output;
  auto py = testsupport::RunCommand(
      "/usr/bin/python3 -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
      "assert z.testzip() is None; [z.read(n) for n in z.namelist()]; print(len(z.namelist()))' " +
          ShellQuote(output), true);
  EXPECT_EQ(py.exitCode, 0) << py.output;
  EXPECT_EQ(py.output, "5\n");
}

TEST_F(BuildSuccess, BuildsVerifiableePackagesOnEveryStubKind) {
  struct Case {
    const char* stub;
    std::vector<std::string> args;  // after the three paths
    std::string pass;
  };
  const std::vector<Case> cases = {
      {"stub64_full", {"secret-7"}, "secret-7"},
      {"stub32_full", {}, ""},
      {"stub64_full", {"ignored", "too"}, ""},
      {"stub64_partial", {"p"}, "p"},
      {"stub64_german", {}, ""},
      {"stub64_rich", {"x"}, "x"},
      {"stub64_emptyvalue", {}, ""},
      {"stub64_overlay", {}, ""},
      {"stub64_extrasection", {}, ""},
      {"stub64_signed", {}, ""},
      {"stub64_twolang", {}, ""},
      {"stub64_neutral", {}, ""},
      {"stub64_dotnet", {}, ""},
      {"stub64_delphi", {"d"}, "d"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stub);
    const std::string stub = e2e::StubPath(c.stub);
    const auto stubDigest = testsupport::FileDigest(stub);
    const auto zipDigest = testsupport::FileDigest(archive);
    std::vector<std::string> args = {stub, archive, output};
    args.insert(args.end(), c.args.begin(), c.args.end());

    const auto run = e2e::RunZipgraft(args);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.stdoutText, e2e::Stdout(ExpectedOutput(stub)));
    EXPECT_FALSE(std::filesystem::exists(output + ".tmp"));
    EXPECT_EQ(testsupport::FileDigest(stub), stubDigest);
    EXPECT_EQ(testsupport::FileDigest(archive), zipDigest);

    ExpectReadableByOtherTools(output);
    const PefileDump before = ReadWithPefile(stub);
    const PefileDump after = ReadWithPefile(output);
    EXPECT_TRUE(after.warnings.empty());
    EXPECT_EQ(after.Strings(1033), ExpectedStrings(StubStrings(before), c.pass));
    EXPECT_EQ(e2e::OtherResources(after), e2e::OtherResources(before));

    TVPkg package;
    EXPECT_TRUE(package.Load(output.c_str(), u"SETUP42.xml", u"en"));
  }
}

// Archives from streaming writers, ZIP64-marked ones and one with the longest
// comment give packages every reader reads whole.
TEST_F(BuildSuccess, ArchivesOfEveryKindGiveSoundPackages) {
  const Files files = PackageFiles();
  using ziptest::Descriptor;
  const std::pair<const char*, std::function<void(ziptest::Archive&, ziptest::Member&)>> kinds[] = {
      {"descriptor", [](auto&, auto& m) { m.dataDescriptor = true, m.descriptor = Descriptor::kSigned; }},
      {"unsigned descriptor", [](auto&, auto& m) { m.dataDescriptor = true, m.descriptor = Descriptor::kPlain; }},
      {"64-bit descriptor", [](auto&, auto& m) { m.dataDescriptor = true, m.descriptor = Descriptor::kPlain64; }},
      {"ZIP64", [](auto& a, auto& m) { a.zip64End = m.zip64Central = m.zip64Local = true; }},
      {"long comment", [](auto& a, auto&) { a.comment = std::string(65535, 'c'); }},
  };
  int index = 0;
  for (const auto& [what, change] : kinds) {
    SCOPED_TRACE(what);
    ziptest::Archive a;
    for (const auto& [name, data] : files) {
      a.members.push_back(ziptest::Make(name, data, 8));
      change(a, a.members.back());
    }
    archive = dir.File("kind" + std::to_string(++index) + ".zip");
    testsupport::WriteFile(archive, ziptest::Build(a));
    const auto run = e2e::RunZipgraft({e2e::StubPath("stub64_full"), archive, output});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.stdoutText, e2e::Stdout(ExpectedOutput(e2e::StubPath("stub64_full"))));
    ExpectReadableByOtherTools(output);
    if (testsupport::HaveProgram("7zz")) {
      const auto test = testsupport::RunCommand("7zz t " + ShellQuote(output), true);
      EXPECT_NE(test.output.find("Everything is Ok"), std::string::npos) << test.output;
      EXPECT_EQ(test.output.find("WARNING"), std::string::npos) << test.output;
    }
    fs::remove(output);
  }
}

// An archive behind other bytes, its offsets counted from the start of its
// file (a finished package, a self-extractor, any prefix), gives a package
// of its members alone, right behind the stub: what stood in front is left
// out, and the build says so.
TEST_F(BuildSuccess, ArchiveBehindAPrefixIsPackagedWithoutIt) {
  const std::string stub = e2e::StubPath("stub64_full");
  const std::string plain = archive;
  const auto updated = e2e::UpdatedStubCopy(stub, plain, output);
  ASSERT_FALSE(updated.empty());
  fs::create_directory(dir.File("first"));
  const std::string finished = dir.File("first/SETUP42.exe");
  ASSERT_EQ(e2e::RunZipgraft({stub, plain, finished}).exitCode, 0);
  ziptest::Archive shifted;
  for (const auto& [name, data] : PackageFiles()) {
    shifted.members.push_back(ziptest::Make(name, data, 8));
  }
  shifted.shift = 4096;
  const std::string junk = dir.File("junk.zip");
  testsupport::WriteFile(junk, testsupport::Pattern(4096, 3) + ziptest::Build(shifted));
  std::vector<std::pair<std::string, uint32_t>> inputs = {
      {finished, static_cast<uint32_t>(updated.size())}, {junk, 4096}};
  if (testsupport::HaveProgram("zip")) {
    const std::string sfx = dir.File("sfx.exe");
    const auto made = testsupport::RunCommand("cat " + ShellQuote(stub) + " " + ShellQuote(plain) +
                                              " > " + ShellQuote(sfx) + " && zip -q -A " +
                                              ShellQuote(sfx), true);
    ASSERT_EQ(made.exitCode, 0) << made.output;
    inputs.emplace_back(sfx, static_cast<uint32_t>(fs::file_size(stub)));
  }
  for (const auto& [input, prefix] : inputs) {
    SCOPED_TRACE(input);
    archive = input;
    std::string expected = ExpectedOutput(stub);
    const std::string modifying = "\n- modifying offsets in the .zip file '" + input + "'";
    expected.insert(expected.find(modifying) + modifying.size(),
                    "\n- leaving out the " + std::to_string(prefix) +
                        " bytes in front of the archive");
    const uint64_t digest = testsupport::FileDigest(input);
    const auto run = e2e::RunZipgraft({stub, input, output});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.stdoutText, e2e::Stdout(expected));
    EXPECT_EQ(testsupport::FileDigest(input), digest);
    ExpectReadableByOtherTools(output);
    // The same members as the plain archive's give the same package.
    EXPECT_EQ(testsupport::ReadFile(output), testsupport::ReadFile(finished));
    fs::remove(output);
  }
}

// pefile's reading of the header checksum: "holds" when it is the one the
// system computes over the whole file.
std::string Checksum(const std::string& path) {
  const auto run = RunPefileTool({"checksum", path});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  return run.output.substr(run.output.find(' ') + 1);
}

// A stub that carries a checksum gives a package whose checksum holds over
// the whole file, archive included; a build that fails after the version
// update leaves a stub copy whose checksum holds as well.
TEST_F(BuildSuccess, ChecksumsHoldOverWhatIsWritten) {
  int checked = 0;
  for (const char* name : {"stub64_full", "stub32_full", "stub64_rich", "stub64_overlay",
                           "stub64_extrasection", "stub64_signed", "stub64_twolang"}) {
    SCOPED_TRACE(name);
    const std::string stub = e2e::StubPath(name);
    ASSERT_EQ(Checksum(stub), "holds\n");
    ASSERT_EQ(e2e::RunZipgraft({stub, archive, output}).exitCode, 0);
    EXPECT_EQ(Checksum(output), "holds\n");
    // A read-only archive stops the build right after the version update.
    fs::permissions(archive, fs::perms::owner_write, fs::perm_options::remove);
    EXPECT_EQ(e2e::RunZipgraft({stub, archive, output}).exitCode, 1);
    fs::permissions(archive, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_NE(testsupport::ReadFile(output), testsupport::ReadFile(stub));
    EXPECT_EQ(Checksum(output), "holds\n");
    ++checked;
  }
  EXPECT_EQ(checked, 7);
}

// An archive of several MiB reaches the output through many writes of the
// rewrite's buffer, some of them at odd lengths, and then through the append:
// the checksum must still have seen every byte once, in order.
TEST_F(BuildSuccess, ChecksumHoldsOverAnArchiveOfManyBufferFuls) {
  const std::string noise = testsupport::Pattern((5 << 20) + 7);
  const std::string large = e2e::MakeArchive(
      dir, "large.zip",
      {{"SETUP42.xml", e2e::Definition("Sound Driver", "1.00.0.12")},
       {"a.bin", noise},
       {"b.bin", noise.substr(1)}});
  const std::string stub = e2e::StubPath("stub64_full");
  ASSERT_EQ(e2e::RunZipgraft({stub, large, output}).exitCode, 0);
  EXPECT_GT(fs::file_size(output), uintmax_t{3} << 20);
  EXPECT_EQ(Checksum(output), "holds\n");
}

TEST_F(BuildSuccess, AppendedArchiveStartsWhereItsOffsetsSay) {
  const std::string stub = e2e::StubPath("stub64_full");
  testsupport::WriteFile(output, std::string(100000, 'x'));  // replaced, not appended to
  ASSERT_EQ(e2e::RunZipgraft({stub, archive, output}).exitCode, 0);

  const auto bytes = testsupport::ReadFile(output);
  trvzip::ZIP_File zip;
  ASSERT_EQ(zip.Open(output, true), 0);
  const uint32_t prefix = zip.GetPrefixSize();
  EXPECT_TRUE(zip.HasPrefix());
  ASSERT_LT(prefix + 4u, bytes.size());
  EXPECT_EQ(std::string(bytes.begin() + prefix, bytes.begin() + prefix + 4), "PK\x03\x04");
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 2), "MZ");
  // The fixed record carries the package's version numbers (file, then product).
  const std::string fixed = ReadWithPefile(output).FixedRecordHex(1033);
  ASSERT_EQ(fixed.size(), 104u);
  EXPECT_EQ(fixed.substr(16, 32), "000001000c000000000001000c000000");
}

}  // namespace
