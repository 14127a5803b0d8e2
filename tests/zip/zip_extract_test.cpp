// Extraction: stored and deflated members, CRC checks, partial and damaged data.

#include <gtest/gtest.h>

#include "test_support.h"
#include "zip/zip_file.h"
#include "zip_test_archive.h"

namespace {

using trvzip::ZIP_File;
using trvzip::ZIP_FileEntry;
using ziptest::Archive;
using ziptest::Member;

class ZipExtractTest : public ::testing::Test {
 protected:
  ZIP_FileEntry& OpenMember(const Member& m) {
    Archive a;
    a.members = {ziptest::Make("other", testsupport::Pattern(40000, 9), 8), m};
    const std::string path = dir.File(std::to_string(++counter) + ".zip");
    testsupport::WriteFile(path, ziptest::Build(a));
    EXPECT_EQ(zip.Open(path, true), 0);
    return *zip.Entries().at(1);
  }
  static int Extract(ZIP_FileEntry& e, std::string& out, uint32_t size) {
    out.assign(size, '#');
    return e.Extract(out.data(), size);
  }
  testsupport::TempDir dir;
  ZIP_File zip;
  int counter = 0;
};

TEST_F(ZipExtractTest, WholeMembersExtract) {
  for (const Member& m : {ziptest::Make("s", "stored"),
                          ziptest::Make("d", "deflated deflated deflated", 8),
                          ziptest::Make("0", ""), ziptest::Make("0d", "", 8),
                          ziptest::Make("100k", testsupport::Pattern(100000, 4)),
                          ziptest::Make("6m", testsupport::Pattern(6 << 20, 5), 8)}) {
    SCOPED_TRACE(m.name);
    ZIP_FileEntry& e = OpenMember(m);
    std::string out;
    ASSERT_EQ(Extract(e, out, e.uncompressedSize), 0);
    EXPECT_EQ(out, m.data);
    // A larger buffer receives the member and nothing more.
    ASSERT_EQ(Extract(e, out, e.uncompressedSize + 3), 0);
    EXPECT_EQ(out, m.data + "###");
  }
}

TEST_F(ZipExtractTest, DamagedMembersFail) {
  const std::string text = testsupport::Pattern(50000, 6);
  struct Case {
    Member member;
    int expected;
  };
  std::vector<Case> cases = {{ziptest::Make("crc", text, 8), trvzip::kZipErrorCrc},
                             {ziptest::Make("crc stored", text), trvzip::kZipErrorCrc},
                             {ziptest::Make("method 12", text, 12), trvzip::kZipErrorMethod},
                             {ziptest::Make("truncated deflate", text, 8), trvzip::kZipErrorDataEnded},
                             {ziptest::Make("stored bytes run out", text), trvzip::kZipErrorStoredShort},
                             {ziptest::Make("stream shorter than declared", text, 8), trvzip::kZipErrorDataEnded}};
  cases[0].member.crcXor = 0x10;
  cases[1].member.crcXor = 1;
  cases[3].member.storedCut = 3000;
  cases[4].member.storedCut = 20000;
  cases[5].member.declaredSize = 50001;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.member.name);
    ZIP_FileEntry& e = OpenMember(c.member);
    std::string out;
    EXPECT_EQ(Extract(e, out, e.uncompressedSize), c.expected);
  }
  // Garbage that is not a deflate stream at all.
  ZIP_FileEntry& e = OpenMember(ziptest::Make("garbage", std::string(100, '\xff'), 12));
  e.method = 8;
  std::string out;
  EXPECT_NE(Extract(e, out, 100), 0);
}

TEST_F(ZipExtractTest, SmallerBufferGetsTheFirstBytes) {
  const std::string text = testsupport::Pattern(100000, 7);
  for (uint16_t method : {0, 8}) {
    ZIP_FileEntry& e = OpenMember(ziptest::Make("m", text, method));
    std::string out;
    EXPECT_EQ(Extract(e, out, 33333), 0);
    EXPECT_EQ(out, text.substr(0, 33333));
  }
}

TEST_F(ZipExtractTest, InterleavedReadsResumeWhereTheyStopped) {
  const std::string text = testsupport::Pattern(300000, 8);
  for (uint16_t method : {0, 8}) {
    ZIP_FileEntry& e = OpenMember(ziptest::Make("m", text, method));
    ZIP_FileEntry& other = *zip.Entries()[0];
    trvzip::ZipReadState state;
    std::string out(text.size(), '\0');
    uint32_t produced = 0;
    ASSERT_EQ(e.OpenRead(&state), 0);
    ASSERT_EQ(e.ReadData(out.data(), 150000, &state, &produced), 0);
    EXPECT_EQ(produced, 150000u);
    std::string scratch;
    ASSERT_EQ(Extract(other, scratch, other.uncompressedSize), 0);
    ASSERT_EQ(e.ReadData(out.data() + 150000, 150000, &state, &produced), 0);
    EXPECT_EQ(produced, 150000u);
    EXPECT_EQ(e.CloseRead(&state), 0);
    EXPECT_EQ(out, text);
  }
}

}  // namespace
