#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "e2e_support.h"
#include "zip_archive_builder.h"

namespace {

namespace fs = std::filesystem;

const char kFailed[] = "\nERROR: package assembly failed\n\n";

class BuildFailure : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  std::string stub = e2e::StubPath("stub64_full");
  std::string output = dir.File("SETUP42.exe");

  std::string Archive(const std::string& name, std::map<std::string, std::string> files) {
    return e2e::MakeArchive(dir, name, files);
  }
  std::string GoodArchive() {
    return Archive("data.zip", {{"SETUP42.xml", e2e::Definition("Sound Driver", "2.1")}});
  }
  std::string Verifying(const std::string& stubPath, const std::string& archive) const {
    return e2e::Banner() + "\n- verifying '" + stubPath + "'\n- loading package definition from '" +
           archive + "'";
  }

  // Runs a build that must fail with the given output, and checks that the
  // inputs are untouched and no temporary file is left.
  void ExpectFailure(const std::vector<std::string>& args, const std::string& expected) {
    std::vector<uint64_t> digests;
    for (size_t i = 0; i < 2; ++i) digests.push_back(testsupport::FileDigest(args[i]));
    const auto run = e2e::RunZipgraft(args);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.stdoutText, e2e::Stdout(expected));
    for (size_t i = 0; i < 2; ++i) EXPECT_EQ(testsupport::FileDigest(args[i]), digests[i]);
    EXPECT_FALSE(fs::is_regular_file(args[2] + ".tmp"));
  }
};

TEST_F(BuildFailure, PackageStepsRefuseBadInput) {
  const std::string good = GoodArchive();
  // A stub that already carries a package named after itself.
  const std::string carrier = dir.File("carrier.exe");
  const std::string own = Archive("own.zip", {{"CARRIER.XML", e2e::Definition("C", "1")}});
  ASSERT_EQ(e2e::RunZipgraft({stub, own, carrier}).exitCode, 0);
  ExpectFailure({carrier, good, output},
                e2e::Banner() + "\n- verifying '" + carrier +
                    "'\nERROR: the stub already has a .zip payload" + kFailed);
  // ...while a stub carrying a package under another name is accepted.
  const std::string renamed = dir.File("renamed.exe");
  fs::copy_file(carrier, renamed);
  EXPECT_EQ(e2e::RunZipgraft({renamed, good, output}).exitCode, 0);
  fs::remove(output);

  const std::string other = Archive("other.zip", {{"OTHER.xml", e2e::Definition("O", "1")}});
  ExpectFailure({stub, other, output},
                Verifying(stub, other) +
                    "\nERROR: unable to load the zip file or locate a package definition file "
                    "('SETUP42.xml') in '" + other + "'" + kFailed);
  fs::remove(output);
  const std::string protectedBad = Archive(
      "bad.zip", {{"SETUP42.xml", e2e::Definition("P", "1")},
                  {"tv_data.xml",
                   "<tv_pkg_data><configuration><config_file><filename encrypt=\"1\">c.bin"
                   "</filename></config_file></configuration></tv_pkg_data>"},
                  {"c.bin", std::string(30, 'A')}});
  ExpectFailure({stub, protectedBad, output}, Verifying(stub, protectedBad) + kFailed);
  EXPECT_FALSE(fs::exists(output));
}

// Every archive the package steps cannot use is refused with a line naming
// the cause, in front of the line a refusal always ends with.
TEST_F(BuildFailure, ArchiveRefusalsNameTheirCause) {
  using ziptest::Member;
  const auto archive = [](const std::function<void(ziptest::Archive&, Member&)>& change) {
    ziptest::Archive a;
    a.members.push_back(ziptest::Make("SETUP42.xml", e2e::Definition("P", "1"), 8));
    change(a, a.members[0]);
    return ziptest::Build(a);
  };
  const std::string config =
      "<tv_pkg_data><configuration><config_file><filename>c.bin</filename></config_file>"
      "</configuration></tv_pkg_data>";
  const std::string damaged = "the archive is damaged: ";
  const std::pair<std::string, std::string> cases[] = {
      {std::string(3000, 'x'),
       "the file is not a ZIP archive: it has no end of central directory record"},
      {archive([](auto& a, auto&) { a.disk = 1; }),
       "the archive is split over several disks; only a single-file archive can be used"},
      {archive([](auto&, auto& m) { m.localName = "SETUP42.xmL"; }),
       damaged + "its headers disagree or point where no record is"},
      {archive([](auto&, auto& m) {
         m.dataDescriptor = true, m.descriptor = ziptest::Descriptor::kSigned, m.descriptorCrcXor = 4;
       }),
       damaged + "a member's data descriptor disagrees with its central header"},
      // Placeholders in the end record, without the ZIP64 records they stand for.
      {[&] {
         std::string bytes = archive([](auto& a, auto&) { a.zip64End = true; });
         return bytes.erase(bytes.size() - 22 - 56 - 20, 56 + 20);
       }(),
       damaged + "its headers disagree or point where no record is"},
      {archive([](auto&, auto& m) { m.flags = 1; }),
       "member 'SETUP42.xml' is encrypted, and encrypted members cannot be read"},
      {archive([](auto&, auto& m) { m.method = 12; }),
       "member 'SETUP42.xml' uses compression method 12 (BZip2); only stored and Deflate "
       "members can be read"},
      {archive([](auto&, auto& m) { m.method = 9; }),
       "member 'SETUP42.xml' uses compression method 9 (Deflate64); only stored and Deflate "
       "members can be read"},
      {archive([](auto&, auto& m) { m.crcXor = 1; }),
       damaged + "member 'SETUP42.xml' fails its CRC-32 check"},
      {archive([](auto&, auto& m) { m.storedCut = 20; }),
       damaged + "member 'SETUP42.xml' cannot be read whole"},
      {archive([](auto&, auto& m) { m.method = 0, m.declaredSize = 100000; }),
       "member 'SETUP42.xml' declares a size that its archive cannot hold, or larger than 16 MiB"},
      {archive([&](auto& a, auto&) {
         a.members.push_back(ziptest::Make("tv_data.xml", config));
         a.members.push_back(ziptest::Make("c.bin", "settings", 93));
       }),
       "member 'c.bin' uses compression method 93 (Zstandard); only stored and Deflate members "
       "can be read"},
      {archive([&](auto& a, auto&) {
         a.members.push_back(ziptest::Make("tv_data.xml", config));
         ziptest::Member cut = ziptest::Make("c.bin", "settings");
         cut.declaredSize = 9;  // one stored byte fewer than declared
         a.members.push_back(cut);
       }),
       "member 'c.bin' declares a size that its archive cannot hold, or larger than 16 MiB"},
  };
  int index = 0;
  for (const auto& [bytes, cause] : cases) {
    SCOPED_TRACE(cause);
    const std::string path = dir.File("cause" + std::to_string(++index) + ".zip");
    testsupport::WriteFile(path, bytes);
    ExpectFailure({stub, path, output},
                  Verifying(stub, path) + "\nERROR: " + cause +
                      "\nERROR: unable to load the zip file or locate a package definition file "
                      "('SETUP42.xml') in '" + path + "'" + kFailed);
    EXPECT_FALSE(fs::exists(output));
  }
}

TEST_F(BuildFailure, StubWithoutVersionInformation) {
  const std::string good = GoodArchive();
  const std::string bare = e2e::StubPath("stub64_noversion");
  ExpectFailure({bare, good, output},
                e2e::BuildPrelude(bare, good, "Sound Driver", "2.1") +
                    "\nERROR: unable to obtain version information from '" + output +
                    "'\nERROR: unable to update the stub version information" + kFailed);
  EXPECT_EQ(testsupport::ReadFile(output), testsupport::ReadFile(bare));
}

TEST_F(BuildFailure, FileStepsReportTheirPaths) {
  const std::string good = GoodArchive();
  const std::string prelude = e2e::BuildPrelude(stub, good, "Sound Driver", "2.1");

  const std::string nowhere = dir.File("missing/dir/SETUP42.exe");
  ExpectFailure({stub, good, nowhere},
                Verifying(stub, good) + "\n- copying stub from '" + stub +
                    "'\nERROR: unable to copy '" + stub + "' to '" + nowhere + "'" + kFailed);

  ::chmod(good.c_str(), 0444);
  ExpectFailure({stub, good, output},
                prelude + "\n- modifying offsets in the .zip file '" + good +
                    "'\nERROR: unable to open '" + good + "'" + kFailed);
  // A file that happens to bear the temporary name is only the tool's once
  // the rewrite has begun.
  testsupport::WriteFile(output + ".tmp", std::string("somebody's notes"));
  EXPECT_EQ(e2e::RunZipgraft({stub, good, output}).exitCode, 1);
  EXPECT_EQ(testsupport::ReadFile(output + ".tmp").size(), 16u);
  fs::remove(output + ".tmp");
  ::chmod(good.c_str(), 0644);

  fs::create_directory(output + ".tmp");
  ExpectFailure({stub, good, output},
                prelude + "\n- modifying offsets in the .zip file '" + good +
                    "'\nERROR: unable to save and update '" + output + ".tmp'" + kFailed);
  fs::remove(output + ".tmp");
}

// Links planted at either name are replaced, never written through. Wine
// shows a Linux symbolic link to Windows programs as the file it points at,
// and deletes the target through it: there the name is refused instead.
TEST_F(BuildFailure, SymbolicLinksAtEitherNameNeverReachTheirTarget) {
  const std::string good = GoodArchive();
  const std::string precious = dir.File("precious.txt");
  testsupport::WriteFile(precious, std::string("precious"));
  const std::string refusedCopy = "\nERROR: unable to copy '" + stub + "' to '" + output + "'";
  const std::string refusedSave = "\nERROR: unable to save and update '" + output + ".tmp'";
  for (const auto& [link, refusal] : {std::pair{output + ".tmp", refusedSave},
                                      std::pair{output, refusedCopy}}) {
    SCOPED_TRACE(link);
    fs::create_symlink(precious, link);
    const auto run = e2e::RunZipgraft({stub, good, output});
    if (e2e::WindowsTool()) {
      EXPECT_EQ(run.exitCode, 1);
      EXPECT_NE(run.stdoutText.find(e2e::Stdout(refusal + kFailed)), std::string::npos)
          << run.stdoutText;
      EXPECT_TRUE(fs::is_symlink(link));
    } else {
      EXPECT_EQ(run.exitCode, 0);
      EXPECT_FALSE(fs::is_symlink(output));
    }
    EXPECT_EQ(testsupport::ReadText(precious), "precious");
    EXPECT_FALSE(fs::is_regular_file(fs::symlink_status(output + ".tmp")));
    fs::remove(link);
    fs::remove(output);
  }
}

// What stands at either name and may not be replaced (a read-only file, a
// file another process holds, a pipe) stays as it was: neither the failed
// create nor the undo after it removes it.
TEST_F(BuildFailure, EntriesThatAreRefusedStay) {
  const std::string good = GoodArchive();
  const std::string notes = "somebody's notes";
  enum class Entry { ReadOnly, Held, Pipe };
  for (const std::string& name : {output, output + ".tmp"}) {
    for (const Entry entry : {Entry::ReadOnly, Entry::Held, Entry::Pipe}) {
      // Wine knows nothing of a Linux lock.
      if (entry == Entry::Held && e2e::WindowsTool()) continue;
      SCOPED_TRACE(name + " " + std::to_string(static_cast<int>(entry)));
      int held = -1;
      if (entry == Entry::Pipe) {
        ASSERT_EQ(::mkfifo(name.c_str(), 0644), 0);
      } else {
        testsupport::WriteFile(name, notes);
        if (entry == Entry::ReadOnly) ::chmod(name.c_str(), 0444);
        held = ::open(name.c_str(), O_RDONLY);
        if (entry == Entry::Held) {
          ASSERT_EQ(::flock(held, LOCK_EX), 0);
        }
      }
      const auto run = e2e::RunZipgraft({stub, good, output});
      EXPECT_EQ(run.exitCode, 1);
      const std::string refusal = name == output ? "\nERROR: unable to copy '"
                                                 : "\nERROR: unable to save and update '";
      EXPECT_NE(run.stdoutText.find(e2e::Stdout(refusal)), std::string::npos) << run.stdoutText;
      if (entry == Entry::Pipe) {
        EXPECT_TRUE(fs::is_fifo(name));
      } else {
        EXPECT_EQ(testsupport::ReadText(name), notes);
        ::close(held);
      }
      fs::remove(output + ".tmp");
      fs::remove(output);
    }
  }
}

TEST_F(BuildFailure, SecondNamesOfAFileAreReplacedNeverWrittenThrough) {
  const std::string good = GoodArchive();
  const std::string precious = dir.File("precious.txt");
  testsupport::WriteFile(precious, std::string("precious"));
  fs::create_hard_link(precious, output + ".tmp");
  EXPECT_EQ(e2e::RunZipgraft({stub, good, output}).exitCode, 0);
  // ...and so is a second name of somebody's file at the output path.
  fs::remove(output);
  fs::create_hard_link(precious, output);
  EXPECT_EQ(e2e::RunZipgraft({stub, good, output}).exitCode, 0);
  EXPECT_EQ(testsupport::ReadFile(precious).size(), 8u);
  EXPECT_FALSE(fs::exists(output + ".tmp"));
}

TEST_F(BuildFailure, OutputMayNotBeAnInput) {
  const std::string good = GoodArchive();
  const std::string copy = dir.File("SETUP42.exe");
  fs::copy_file(stub, copy);
  ExpectFailure({copy, good, copy},
                e2e::Banner() + "\nERROR: '" + copy + "' is an input file and cannot be written" +
                    kFailed);
  // The archive as the output, and as its temporary file: each holds the
  // definition the output's name asks for, so only the refusal stops them.
  fs::remove(copy);
  const std::string zipAsOutput =
      Archive("SETUP42.exe", {{"SETUP42.xml", e2e::Definition("Self", "1")}});
  const std::string zipAsTemp =
      Archive("pkg.exe.tmp", {{"pkg.xml", e2e::Definition("Temp", "1")}});
  for (const auto& [archive, out] : {std::pair{zipAsOutput, zipAsOutput},
                                     std::pair{zipAsTemp, dir.File("pkg.exe")}}) {
    const uint64_t digest = testsupport::FileDigest(archive);
    const auto run = e2e::RunZipgraft({stub, archive, out});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.stdoutText, e2e::Stdout(e2e::Banner() + "\nERROR: '" + archive +
                                          "' is an input file and cannot be written" + kFailed));
    EXPECT_EQ(testsupport::FileDigest(archive), digest);
  }
  EXPECT_FALSE(fs::exists(dir.File("pkg.exe")));
}

TEST_F(BuildFailure, DefinitionWithoutNameOrVersion) {
  const std::string noVersion = Archive(
      "nov.zip", {{"SETUP42.xml", "<trv_package><name><name_xlate lang=\"en\">N</name_xlate>"
                                  "</name></trv_package>"}});
  const auto run = e2e::RunZipgraft({stub, noVersion, output});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.stdoutText.find(e2e::Stdout("\nERROR: unable to update the stub version information")),
            std::string::npos);
  EXPECT_EQ(testsupport::ReadFile(output), testsupport::ReadFile(stub));
}

}  // namespace

namespace {

// Whatever archive it is given, the tool ends with its verdict and leaves the
// archive as it was: no crash, no hang, no half-written success.
TEST(BuildRobustness, EveryCorpusArchiveEndsInAVerdict) {
  testsupport::TempDir dir;
  const std::string stub = e2e::StubPath("stub64_full");
  testsupport::WriteFile(dir.File("OUT.xml"), e2e::Definition("Robust", "1.0"));
  int runs = 0, built = 0, seen = 0;
  // Under Wine every run costs a second: the Windows tool takes a sample.
  const int every = e2e::WindowsTool() ? 4 : 1;
  for (const auto& entry : fs::directory_iterator(testsupport::CorpusDir() + "/zip")) {
    if (entry.path().extension() != ".zip" || seen++ % every != 0) continue;
    SCOPED_TRACE(entry.path().string());
    // A writable copy with a definition added where Info-ZIP manages to, so
    // that the rewrite and the verification are reached as well.
    const std::string archive = dir.File("in.zip");
    fs::copy_file(entry.path(), archive, fs::copy_options::overwrite_existing);
    fs::permissions(archive, fs::perms::owner_read | fs::perms::owner_write);
    testsupport::RunCommand("cd " + testsupport::ShellQuote(dir.Path().string()) +
                            " && zip -q in.zip OUT.xml", true);
    const auto digest = testsupport::FileDigest(archive);
    const std::string output = dir.File("OUT.exe");
    const auto run = e2e::RunZipgraft({stub, archive, output}, e2e::Recheck::kNo);
    EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.exitCode;
    EXPECT_TRUE(run.stdoutText.ends_with(e2e::Stdout("\n\n")));
    EXPECT_EQ(run.exitCode == 1, run.stdoutText.find("\nERROR: ") != std::string::npos);
    EXPECT_EQ(testsupport::FileDigest(archive), digest);
    EXPECT_FALSE(fs::exists(output + ".tmp"));
    ++runs;
    built += run.exitCode == 0;
  }
  EXPECT_GT(runs, 100 / every);
  EXPECT_GT(built, 30 / every);
}

}  // namespace
