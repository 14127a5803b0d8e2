// Rewriting archives behind a prefix, and the limits of 32-bit offsets.

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "test_support.h"
#include "zip/zip_file.h"
#include "zip_test_archive.h"

namespace {

using trvzip::ZIP_File;
using ziptest::Archive;
using ziptest::Member;

Archive Sample() {
  Archive a;
  a.comment = "archive comment";
  Member first = ziptest::Make("a.txt", testsupport::Pattern(5000, 1), 8);
  first.extra = "UT\x05";
  first.centralExtra = "central";
  first.memberComment = "mc";
  a.members.push_back(first);
  a.members.push_back(ziptest::Make("empty", ""));
  a.members.push_back(ziptest::Make("b.bin", testsupport::Pattern(70000, 2)));
  return a;
}

class ZipSaveTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    testsupport::WriteFile(dir.File(name), bytes);
    return dir.File(name);
  }
  testsupport::TempDir dir;
};

TEST_F(ZipSaveTest, SavedBehindAPrefixOpensWithShiftedOffsets) {
  const std::string source = Write("src.zip", ziptest::Build(Sample()));
  const uint64_t digest = testsupport::FileDigest(source);
  ZIP_File zip;
  ASSERT_EQ(zip.Open(source, false), 0);
  EXPECT_FALSE(zip.HasPrefix());
  EXPECT_EQ(zip.GetPrefixSize(), 0u);
  std::vector<uint32_t> dataOffsets;
  for (auto* e : zip.Entries()) dataOffsets.push_back(e->dataOffset);
  zip.SetPrefixSize(40960);
  ASSERT_EQ(zip.Save(dir.File("out.tmp"), false), 0);
  EXPECT_FALSE(zip.IsOpen());
  EXPECT_EQ(testsupport::FileDigest(source), digest);

  const std::string out = testsupport::ReadText(dir.File("out.tmp"));
  EXPECT_EQ(ziptest::Le32(out, 0), 0x04034b50u);  // no prefix bytes copied
  // Member comments and differing central extra fields are not carried.
  EXPECT_EQ(out.find("central"), std::string::npos);
  EXPECT_EQ(out.find("mc"), std::string::npos);
  const std::string combined = std::string(40960, 'S') + out;
  EXPECT_EQ(ziptest::CheckOffsets(combined), "");
  EXPECT_EQ(ziptest::Le32(combined, combined.size() - 22 - 15 + 16), 40960 + out.find("PK\x01\x02"));
  ASSERT_EQ(zip.Open(Write("combined.exe", combined), true), 0);
  EXPECT_TRUE(zip.HasPrefix());
  EXPECT_EQ(zip.GetPrefixSize(), 40960u);
  EXPECT_STREQ(zip.GetComment(), "archive comment");
  const auto entries = zip.Entries();
  ASSERT_EQ(entries.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(entries[i]->dataOffset, dataOffsets[i] + 40960);
    std::string data(entries[i]->uncompressedSize, '\0');
    EXPECT_EQ(entries[i]->Extract(data.data(), static_cast<uint32_t>(data.size())), 0);
    EXPECT_EQ(data, Sample().members[i].data);
  }
  EXPECT_EQ(entries[0]->ExtraField(), "UT\x05");
}

TEST_F(ZipSaveTest, ReopenAndPrefixCopies) {
  const std::string plain = ziptest::Build(Sample());
  ZIP_File zip;
  ASSERT_EQ(zip.Open(Write("src.zip", plain), false), 0);
  ASSERT_EQ(zip.Save(dir.File("same.zip"), true), 0);
  EXPECT_TRUE(zip.IsOpen());
  EXPECT_EQ(zip.GetEntryCount(), 3u);
  EXPECT_EQ(zip.Entries()[2]->crc32, ziptest::Crc(Sample().members[2].data));

  // A source with a prefix: saved unchanged it keeps its prefix and layout.
  Archive shifted = Sample();
  shifted.members[0].centralExtra.reset();
  shifted.members[0].memberComment.clear();
  shifted.shift = 40960;
  const std::string withPrefix = testsupport::Pattern(40960, 3) + ziptest::Build(shifted);
  const std::string source = Write("pfx.exe", withPrefix);
  ASSERT_EQ(zip.Open(source, false), 0);
  ASSERT_TRUE(zip.HasPrefix());
  ASSERT_EQ(zip.Save(dir.File("unchanged.exe"), false), 0);
  EXPECT_EQ(testsupport::ReadText(dir.File("unchanged.exe")), withPrefix);

  ASSERT_EQ(zip.Open(source, false), 0);
  zip.SetPrefixSize(8192);
  ASSERT_EQ(zip.Save(dir.File("short.exe"), true), 0);
  EXPECT_EQ(zip.GetPrefixSize(), 8192u);
  EXPECT_EQ(zip.GetEntryCount(), 3u);
  EXPECT_EQ(testsupport::ReadText(dir.File("short.exe")).substr(0, 8192), withPrefix.substr(0, 8192));

  // A prefix larger than the source cannot be copied in full.
  ASSERT_EQ(zip.Open(source, false), 0);
  zip.SetPrefixSize(static_cast<uint32_t>(withPrefix.size() + 1));
  EXPECT_EQ(zip.Save(dir.File("toolong.exe"), false), trvzip::kZipErrorRead);
}

TEST_F(ZipSaveTest, RefusedSavesLeaveTheSourceAlone) {
  const std::string source = Write("src.zip", ziptest::Build(Sample()));
  const uint64_t digest = testsupport::FileDigest(source);
  for (bool readOnly : {true, false}) {
    ZIP_File zip;
    ASSERT_EQ(zip.Open(source, readOnly), 0);
    EXPECT_EQ(zip.Save(source, false), trvzip::kZipErrorWrite);
    // Offsets past 32 bits are no refusal: they get ZIP64 (see zip_zip64_test).
    zip.SetPrefixSize(0xFFFFFF00u);
    ASSERT_EQ(zip.Save(dir.File("wrapped.zip"), false), 0);
    ASSERT_EQ(zip.Open(source, readOnly), 0);
    ASSERT_TRUE(zip.IsOpen());
    std::string data(5000, '\0');
    EXPECT_EQ(zip.Entries()[0]->Extract(data.data(), 5000), 0);
    EXPECT_EQ(testsupport::FileDigest(source), digest);
  }
}

// A long extra field is read again when written: one that changed since the
// open (its private block turned into a ZIP64 one) fails the save instead of
// giving headers whose lengths are wrong.
TEST_F(ZipSaveTest, ExtraFieldChangedSinceTheOpenFailsTheSave) {
  Archive a;
  Member m = ziptest::Make("long.txt", "data");
  m.extra = std::string("\x99\x99\xc8\x00", 4) + std::string(200, 'e');
  a.members.push_back(m);
  const std::string source = Write("long.zip", ziptest::Build(a));
  ZIP_File zip;
  ASSERT_EQ(zip.Open(source, true), 0);
  EXPECT_EQ(zip.Entries()[0]->ExtraField(), m.extra);
  {
    std::fstream file(source, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(30 + 8);
    file.write("\x01\x00", 2);
    // Windows lets no writer at a file held for reading only.
    if (!file.flush()) GTEST_SKIP() << "the open archive cannot be written here";
  }
  EXPECT_EQ(zip.Save(dir.File("out.zip"), false), trvzip::kZipErrorSourceChanged);
  EXPECT_EQ(zip.Entries()[0]->ExtraField(), "");
}

TEST_F(ZipSaveTest, FailedWritesFailTheSave) {
  // A file size limit makes the writes fail part way, as a full disk would.
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  const std::string source = Write("src.zip", ziptest::Build(Sample()));
  int results[2];
  for (int i = 0; i < 2; ++i) {
    ZIP_File zip;
    ASSERT_EQ(zip.Open(source, true), 0);
    struct rlimit limit = saved;
    limit.rlim_cur = i == 0 ? 20 : 60000;  // inside the first header, inside the data
    setrlimit(RLIMIT_FSIZE, &limit);
    results[i] = zip.Save(dir.File("limited.zip"), false);
    setrlimit(RLIMIT_FSIZE, &saved);
  }
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(results[0], trvzip::kZipErrorWrite);
  EXPECT_EQ(results[1], trvzip::kZipErrorWrite);
}

TEST_F(ZipSaveTest, EmptyClosedObjectWritesAnEndRecordAlone) {
  ZIP_File zip;
  zip.SetPrefixSize(100);
  ASSERT_EQ(zip.Save(dir.File("empty.zip"), false), 0);
  EXPECT_EQ(testsupport::ReadText(dir.File("empty.zip")),
            std::string("PK\x05\x06\0\0\0\0\0\0\0\0\0\0\0\0\x64\0\0\0\0\0", 22));
  // At byte 0 the record cannot be told from none.
  EXPECT_EQ(zip.Save(dir.File("zero.zip"), true), trvzip::kZipErrorNoEndRecord);
  EXPECT_EQ(testsupport::ReadText(dir.File("zero.zip")).size(), 22u);
}

TEST_F(ZipSaveTest, MaximumMemberCountRoundTrips) {
  Archive a;
  for (int i = 0; i < 65535; ++i) a.members.push_back(ziptest::Make(std::to_string(i) + ".m", "x"));
  const std::string source = Write("many.zip", ziptest::Build(a));
  ZIP_File zip;
  ASSERT_EQ(zip.Open(source, false), 0);
  EXPECT_EQ(zip.GetEntryCount(), 65535u);
  zip.SetPrefixSize(40960);
  ASSERT_EQ(zip.Save(dir.File("many.tmp"), false), 0);
  EXPECT_EQ(ziptest::CheckOffsets(std::string(40960, '\0') + testsupport::ReadText(dir.File("many.tmp"))), "");
}

// Sparse files make the 32-bit limits cheap to reach.
bool AppendAfterHole(const std::string& path, uint64_t hole, const std::string& bytes) {
  std::error_code ec;
  { std::ofstream create(path, std::ios::binary); }
  std::filesystem::resize_file(path, hole, ec);
  if (ec) return false;
  std::ofstream(path, std::ios::binary | std::ios::app).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return std::filesystem::file_size(path) == hole + bytes.size();
}

TEST_F(ZipSaveTest, LargeFiles) {
  Archive a = Sample();
  a.shift = 0xC0000000u;  // 3 GiB: beyond a signed 32-bit seek
  if (!AppendAfterHole(dir.File("3g.exe"), a.shift, ziptest::Build(a))) GTEST_SKIP() << "no sparse files";
  ZIP_File zip;
  ASSERT_EQ(zip.Open(dir.File("3g.exe"), true), 0);
  EXPECT_EQ(zip.GetPrefixSize(), 0xC0000000u);
  std::string data(70000, '\0');
  EXPECT_EQ(zip.Entries()[2]->Extract(data.data(), 70000), 0);
  EXPECT_EQ(data, a.members[2].data);
  // Past 4 GiB, 32-bit offsets that do not count the bytes in front lead to
  // none of the records: damaged (a sound archive there has ZIP64 offsets).
  ASSERT_TRUE(AppendAfterHole(dir.File("5g.exe"), 5ull << 30, ziptest::Build(Sample())));
  EXPECT_EQ(zip.Open(dir.File("5g.exe"), true), trvzip::kZipErrorDamaged);
}

}  // namespace
