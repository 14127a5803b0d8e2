// Archives written by other tools, rewritten behind a prefix and checked by
// other tools' readers.

#include <gtest/gtest.h>

#include "test_support.h"
#include "zip/zip_file.h"
#include "zip_test_archive.h"

namespace {

using testsupport::RunCommand;
using testsupport::ShellQuote;
using trvzip::ZIP_File;

constexpr uint32_t kPrefix = 40960;

const char* kPythonWriter = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    z.comment = b'python comment'
    z.writestr(zipfile.ZipInfo('stored.txt'), b'stored ' * 500)
    z.writestr('deflated.txt', b'deflated ' * 5000, compress_type=zipfile.ZIP_DEFLATED)
    z.writestr('empty', b'')
    info = zipfile.ZipInfo('extra.bin')
    info.extra = b'\x99\x99\x04\x00abcd'
    z.writestr(info, bytes(range(256)) * 40, compress_type=zipfile.ZIP_DEFLATED)
    for i in range(300):
        z.writestr('many/%03d.txt' % i, ('member %d ' % i) * i)
)";

const char* kPythonChecker = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    bad = z.testzip()
    assert bad is None, bad
    print(len(z.infolist()), sum(len(z.read(i)) for i in z.infolist()))
)";

class ZipInteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testsupport::HaveProgram("zip") || !testsupport::HaveProgram("unzip")) GTEST_SKIP();
  }
  std::string Run(const std::string& command) {
    const auto r = RunCommand(command, true);
    EXPECT_EQ(r.exitCode, 0) << command << "\n" << r.output;
    return r.output;
  }
  void MakeInfoZipArchives() {
    const std::string src = dir.File("src");
    Run("mkdir -p " + ShellQuote(src + "/sub") + " && cd " + ShellQuote(src) +
        " && head -c 300000 /usr/bin/python3 > bin && : > empty && seq 1 20000 > numbers" +
        " && for i in $(seq 1 150); do echo file $i > sub/f$i.txt; done");
    Run("cd " + ShellQuote(src) + " && echo 'info comment' | zip -q -r -z ../infozip.zip .");
    Run("cd " + ShellQuote(src) + " && zip -q -0 -X -r ../stored.zip .");
  }
  // Rewrites source behind a prefix and checks the result with every reader.
  // Members lie back to back in these sources, so each moves by the prefix
  // exactly, and each keeps its local extra field whole in both headers.
  void CheckRewrite(const std::string& name, bool backToBack = true) {
    SCOPED_TRACE(name);
    const std::string source = dir.File(name);
    const uint64_t digest = testsupport::FileDigest(source);
    ZIP_File zip;
    ASSERT_EQ(zip.Open(source, false), 0);
    std::vector<uint32_t> offsets;
    for (auto* e : zip.Entries()) offsets.push_back(e->dataOffset + kPrefix);
    zip.SetPrefixSize(kPrefix);
    ASSERT_EQ(zip.Save(source + ".tmp", false), 0);
    EXPECT_EQ(testsupport::FileDigest(source), digest);
    const std::string combined = source + ".combined";  // not .exe: 7-Zip would look for a PE image
    testsupport::WriteFile(combined, testsupport::Pattern(kPrefix, 1) + testsupport::ReadText(source + ".tmp"));
    ziptest::ExpectSameExtraFields(ziptest::StoredMembers(testsupport::ReadText(source)),
                                   ziptest::StoredMembers(testsupport::ReadText(combined)));
    if (testsupport::HaveProgram("7zz")) {
      const std::string report = Run("7zz t " + ShellQuote(combined));
      EXPECT_NE(report.find("Everything is Ok"), std::string::npos) << report;
      EXPECT_EQ(report.find("Characteristics"), std::string::npos) << report;
      EXPECT_EQ(report.find("WARNING"), std::string::npos) << report;
    }

    const std::string test = Run("unzip -t " + ShellQuote(combined));
    EXPECT_NE(test.find("No errors detected"), std::string::npos) << test;
    EXPECT_EQ(test.find("extra bytes"), std::string::npos) << test;
    EXPECT_EQ(test.find("warning"), std::string::npos) << test;
    const std::string listed = Run("/usr/bin/python3 -c " + ShellQuote(kPythonChecker) + " " + ShellQuote(combined));
    EXPECT_EQ(listed.substr(0, listed.find(' ')), std::to_string(offsets.size()));
    EXPECT_EQ(ziptest::CheckOffsets(testsupport::ReadText(combined)), "");

    ASSERT_EQ(zip.Open(combined, true), 0);
    EXPECT_EQ(zip.GetPrefixSize(), kPrefix);
    const auto entries = zip.Entries();
    ASSERT_EQ(entries.size(), offsets.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (backToBack) {
        EXPECT_EQ(entries[i]->dataOffset, offsets[i]);
      }
      std::string data(entries[i]->uncompressedSize, '\0');
      EXPECT_EQ(entries[i]->Extract(data.data(), entries[i]->uncompressedSize), 0) << entries[i]->GetName();
    }
  }
  testsupport::TempDir dir;
};

TEST_F(ZipInteropTest, InfoZipArchivesSurviveTheRewrite) {
  MakeInfoZipArchives();
  CheckRewrite("infozip.zip");
  CheckRewrite("stored.zip");
}

TEST_F(ZipInteropTest, PythonArchivesSurviveTheRewrite) {
  Run("/usr/bin/python3 -c " + ShellQuote(kPythonWriter) + " " + ShellQuote(dir.File("py.zip")));
  ZIP_File zip;
  ASSERT_EQ(zip.Open(dir.File("py.zip"), true), 0);
  EXPECT_STREQ(zip.GetComment(), "python comment");
  ASSERT_NE(zip.FindEntry(u"EXTRA.BIN"), nullptr);
  const auto* extra = zip.FindEntry(u"EXTRA.BIN");
  EXPECT_EQ(extra->ExtraField(),
            std::string("\x99\x99\x04\x00" "abcd", 8));
  zip.Close();
  CheckRewrite("py.zip");
}

const char* kPythonPipeWriter = R"(
import sys, zipfile
with zipfile.ZipFile(sys.stdout.buffer, 'w') as z:
    z.writestr('stored.txt', b'stored ' * 500)
    z.writestr('deflated.txt', b'deflated ' * 5000, compress_type=zipfile.ZIP_DEFLATED)
    with z.open('streamed.bin', 'w') as f:
        f.write(bytes(range(256)) * 40)
)";

// Writers that stream (data descriptors), mark ZIP64 where values fit, or both.
TEST_F(ZipInteropTest, StreamingAndZip64WritersSurviveTheRewrite) {
  MakeInfoZipArchives();
  const std::string src = "cd " + ShellQuote(dir.File("src")) + " && ";
  Run(src + "zip -q -fd -r ../fd.zip .");
  Run(src + "zip -q -fz -r ../fz.zip .");
  Run(src + "zip -q -r - . | cat > ../pipe.zip");
  Run("/usr/bin/python3 -c " + ShellQuote(kPythonPipeWriter) + " | cat > " +
      ShellQuote(dir.File("pypipe.zip")));
  // ZIP64 blocks and descriptors are dropped: members move by less than the prefix.
  for (const char* name : {"fd.zip", "fz.zip", "pipe.zip", "pypipe.zip"}) CheckRewrite(name, false);
  if (!testsupport::HaveProgram("bsdtar")) GTEST_SKIP() << "no bsdtar (libarchive-tools)";
  Run(src + "bsdtar -a -cf ../bsdtar.zip .");
  Run(src + "bsdtar --format zip --options zip:compression=store -cf ../bsdstore.zip .");
  CheckRewrite("bsdtar.zip", false);
  CheckRewrite("bsdstore.zip", false);
}

// Archives made once by writers too heavy for CI (Java, Go, node); fflate's
// streaming writer sets the descriptor flag in the local headers alone.
TEST_F(ZipInteropTest, CommittedWriterArchivesSurviveTheRewrite) {
  for (const char* name : {"writer-java-jar-cf.zip", "writer-java-zipoutputstream.zip",
                           "writer-go-archive-zip.zip", "writer-node-yazl-addfile.zip",
                           "writer-node-fflate-zip.zip"}) {
    testsupport::WriteFile(dir.File(name),
                           testsupport::ReadText(testsupport::CorpusDir() + "/zip/" + name));
    CheckRewrite(name, false);
  }
}

const char* kPythonDecrypter = R"(
import sys, zipfile, hashlib
with zipfile.ZipFile(sys.argv[1]) as z:
    for i in z.infolist():
        try:
            print(i.filename, hashlib.sha256(z.read(i, pwd=b'secret')).hexdigest())
        except Exception as e:
            print(i.filename, type(e).__name__)
)";

// Encrypted members decrypt with the same password in the package as in the
// input, in every reader: Info-ZIP's (with descriptors, the check byte taken
// from the time), 7-Zip's ZipCrypto and AES ones; a reader that cannot read
// AES fails alike on both.
TEST_F(ZipInteropTest, EncryptedMembersDecryptAsBeforeTheRewrite) {
  if (!testsupport::HaveProgram("7zz")) GTEST_SKIP() << "no 7zz (7zip)";
  MakeInfoZipArchives();
  const std::string src = "cd " + ShellQuote(dir.File("src")) + " && ";
  const struct {
    const char* name;
    std::string command;
    bool aes;
  } writers[] = {
      {"infozip.enc", src + "zip -q -r -P secret ../infozip.enc .", false},
      // Into a pipe: zero CRC-32 and sizes in the local headers.
      {"infopipe.enc", src + "zip -q -r -P secret - . | cat > ../infopipe.enc", false},
      {"zipcrypto.enc", src + "7zz a -bso0 -bsp0 -psecret -tzip ../zipcrypto.enc .", false},
      {"aes.enc", src + "7zz a -bso0 -bsp0 -psecret -tzip -mem=AES256 ../aes.enc .", true},
  };
  // Each prints its exit code and a digest of what it extracted.
  const struct {
    const char* name;
    std::string command;
  } readers[] = {
      {"unzip", "unzip -P secret -p %s"},
      {"7zz", "7zz x -psecret -so %s"},
      {"python", "/usr/bin/python3 -c " + ShellQuote(kPythonDecrypter) + " %s"},
  };
  for (const auto& w : writers) {
    SCOPED_TRACE(w.name);
    Run(w.command);
    const std::string source = dir.File(w.name);
    ZIP_File zip;
    ASSERT_EQ(zip.Open(source, true), 0);
    zip.SetPrefixSize(kPrefix);
    ASSERT_EQ(zip.Save(source + ".tmp", false), 0);
    const std::string package = source + ".combined";
    testsupport::WriteFile(package, testsupport::Pattern(kPrefix, 1) +
                                        testsupport::ReadText(source + ".tmp"));
    for (const auto& r : readers) {
      SCOPED_TRACE(r.name);
      const auto read = [&](const std::string& file) {
        std::string command = r.command;
        command.replace(command.find("%s"), 2, ShellQuote(file));
        const std::string out = ShellQuote(dir.File("out"));
        const std::string digest =
            RunCommand(command + " > " + out + " 2>/dev/null; echo $?; sha256sum < " + out).output;
        // Python names the exceptions it met.
        const std::string text = testsupport::ReadText(dir.File("out"));
        const bool python = std::string(r.name) == "python";
        const bool failed =
            digest.substr(0, 2) != "0\n" || (python && text.find("Error") != std::string::npos);
        return std::pair{digest, failed};
      };
      const auto before = read(source);
      EXPECT_EQ(read(package), before);
      // Every reader decrypts ZipCrypto; only 7-Zip reads AES.
      const bool readable = !w.aes || std::string(r.name) == "7zz";
      EXPECT_EQ(before.second, !readable) << before.first;
    }
  }
}

TEST_F(ZipInteropTest, SelfExtractorAdjustedByInfoZip) {
  MakeInfoZipArchives();
  const std::string stub = testsupport::Pattern(12345, 2);
  testsupport::WriteFile(dir.File("stub"), stub);
  Run("cd " + ShellQuote(dir.Path().string()) + " && cat stub infozip.zip > sfx && zip -q -A sfx");
  ZIP_File zip;
  ASSERT_EQ(zip.Open(dir.File("sfx"), true), 0);
  EXPECT_EQ(zip.GetPrefixSize(), stub.size());
  EXPECT_TRUE(zip.HasPrefix());
  EXPECT_STREQ(zip.GetComment(), "info comment");
  const auto* numbers = zip.FindEntry(u"numbers");
  ASSERT_NE(numbers, nullptr);
  std::string data(numbers->uncompressedSize, '\0');
  EXPECT_EQ(zip.FindEntry(u"numbers")->Extract(data.data(), numbers->uncompressedSize), 0);
  EXPECT_EQ(data.substr(0, 8), "1\n2\n3\n4\n");
}

}  // namespace
