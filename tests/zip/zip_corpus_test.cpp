// Every archive of the test corpus opens or fails cleanly, and so does
// extraction of every member of those that open; those that open are
// rewritten with their extra fields whole.

#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.h"
#include "zip/zip_file.h"
#include "zip_test_archive.h"

namespace {

using trvzip::ZIP_File;

constexpr uint32_t kMaxExtract = 64u << 20;

std::string CorpusZip(const std::string& name) { return testsupport::CorpusDir() + "/zip/" + name; }

bool IsResultCode(int r) { return r <= 0 && r >= trvzip::kZipResultLowest; }

// Opens path and extracts every member into a bounded buffer; returns the
// open result.
int Exercise(const std::string& path) {
  const uint64_t digest = testsupport::FileDigest(path);
  ZIP_File zip;
  const int opened = zip.Open(path, true);
  EXPECT_TRUE(IsResultCode(opened)) << opened;
  std::vector<uint8_t> buffer;
  for (auto* e : zip.Entries()) {
    if (e->uncompressedSize > kMaxExtract) continue;
    buffer.resize(e->uncompressedSize);
    const int r = e->Extract(buffer.data(), e->uncompressedSize);
    EXPECT_TRUE(IsResultCode(r)) << r;
  }
  zip.Close();
  EXPECT_EQ(testsupport::FileDigest(path), digest);
  return opened;
}

TEST(ZipCorpusTest, EveryFileOpensOrFailsWithACode) {
  const auto dir = std::filesystem::path(testsupport::CorpusDir()) / "zip";
  if (!std::filesystem::exists(dir)) GTEST_SKIP() << "no corpus";
  int opened = 0, files = 0;
  for (const auto& item : std::filesystem::directory_iterator(dir)) {
    if (item.path().filename() == "MANIFEST.tsv") continue;
    SCOPED_TRACE(item.path().filename().string());
    ++files;
    opened += Exercise(item.path().string()) == 0;
  }
  std::printf("%d of %d corpus files open\n", opened, files);
  EXPECT_GT(opened, 20);
}

TEST(ZipCorpusTest, RewrittenMembersKeepTheirLocalExtraFieldsWhole) {
  const auto dir = std::filesystem::path(testsupport::CorpusDir()) / "zip";
  testsupport::TempDir out;
  int compared = 0;
  for (const auto& item : std::filesystem::directory_iterator(dir)) {
    if (item.path().extension() != ".zip") continue;
    SCOPED_TRACE(item.path().filename().string());
    ZIP_File zip;
    if (zip.Open(item.path().string(), true) != 0 || zip.HasPrefix()) continue;
    const auto source = ziptest::StoredMembers(testsupport::ReadText(item.path().string()));
    zip.SetPrefixSize(4096);
    if (zip.Save(out.File("saved"), false) != 0) continue;
    const std::string combined = testsupport::Pattern(4096, 5) + testsupport::ReadText(out.File("saved"));
    EXPECT_EQ(ziptest::CheckOffsets(combined), "");
    ziptest::ExpectSameExtraFields(source, ziptest::StoredMembers(combined));
    ++compared;
  }
  EXPECT_GT(compared, 40);
}

TEST(ZipCorpusTest, FuzzCorpusMembersAsArchives) {
  const std::string container = CorpusZip("go-fuzz-corpus-raw.zip");
  if (!std::filesystem::exists(container)) GTEST_SKIP() << "no corpus";
  testsupport::TempDir dir;
  ZIP_File zip;
  ASSERT_EQ(zip.Open(container, true), 0);
  int index = 0;
  for (auto* e : zip.Entries()) {
    std::string bytes(e->uncompressedSize, '\0');
    ASSERT_EQ(e->Extract(bytes.data(), e->uncompressedSize), 0) << e->GetName();
    const std::string path = dir.File(std::to_string(index++));
    testsupport::WriteFile(path, bytes);
    SCOPED_TRACE(e->GetName());
    Exercise(path);
  }
  EXPECT_EQ(index, 364);
}

TEST(ZipCorpusTest, PinnedExpectations) {
  if (!std::filesystem::exists(CorpusZip("go-test.zip"))) GTEST_SKIP() << "no corpus";
  const std::string png = testsupport::ReadText(CorpusZip("go-gophercolor16x16.png"));
  // Archives whose offsets count from the start of the file, with or without
  // bytes in front, open with the base archive's members.
  for (const char* name : {"go-test.zip", "go-test-trailing-junk.zip", "gen-sfx-offsets-adjusted.zip",
                           "gen-sfx-decoy-signatures-in-stub.zip"}) {
    SCOPED_TRACE(name);
    ZIP_File zip;
    ASSERT_EQ(zip.Open(CorpusZip(name), true), 0);
    ASSERT_EQ(zip.GetEntryCount(), 2u);
    EXPECT_STREQ(zip.GetComment(), "This is a zipfile comment.");
    EXPECT_EQ(zip.GetPrefixSize(), std::string(name).find("sfx") != std::string::npos ? 4096u : 0u);
    std::string text(26, '\0'), image(785, '\0');
    EXPECT_EQ(zip.FindEntry(u"TEST.TXT")->Extract(text.data(), 26), 0);
    EXPECT_EQ(text, "This is a test text file.\n");
    EXPECT_EQ(zip.FindEntry(u"gophercolor16x16.png")->Extract(image.data(), 785), 0);
    EXPECT_EQ(image, png);
  }
  struct Pinned {
    const char* name;
    int expected;
    uint32_t members;
  };
  const Pinned pinned[] = {
      // Offsets not shifted for the bytes in front point into the prefix.
      {"go-test-prefix.zip", trvzip::kZipErrorDamaged, 0},
      {"gen-sfx-offsets-unadjusted.zip", trvzip::kZipErrorDamaged, 0},
      {"go-readme.notzip", trvzip::kZipErrorNoEndRecord, 0},
      {"gen-truncated-in-data.zip", trvzip::kZipErrorNoEndRecord, 0},
      {"libzip-multidisk.zip", trvzip::kZipErrorMultiDisk, 0},
      // Data descriptors: values from the central header, checked against the descriptor.
      {"go-dd.zip", 0, 1},
      {"go-with-datadesc-sig.zip", 0, 2},
      {"go-no-datadesc-sig.zip", 0, 2},
      {"libzip-streamed.zip", 0, 1},
      {"libzip-streamed-zip64.zip", 0, 1},
      {"writer-java-jar-cf.zip", 0, 5},
      {"writer-java-zipoutputstream.zip", 0, 3},
      {"writer-go-archive-zip.zip", 0, 3},
      {"writer-node-yazl-addfile.zip", 0, 3},
      {"writer-node-fflate-zip.zip", 0, 3},
      {"gen-go-bad-crc-in-datadesc.zip", trvzip::kZipErrorDescriptor, 0},
      {"libzip-incons-streamed-2.zip", trvzip::kZipErrorDescriptor, 0},
      // ZIP64 records whose values fit, and one declaring 2^63 - 1 bytes,
      // which the layer carries and the package's reader refuses to inflate.
      {"go-zip64.zip", 0, 1},
      {"go-zip64-2.zip", 0, 1},
      {"libzip-zip64.zip", 0, 1},
      {"libzip-zip64-3mf.zip", 0, 1},
      {"gen-sfx-zip64-offsets-adjusted.zip", 0, 1},
      {"gen-zip64-extra-huge-usize.zip", 0, 1},
      {"gen-lfh-offset-ffffffff-no-zip64.zip", trvzip::kZipErrorDamaged, 0},
      // Every value the local header shares with the central one is compared.
      {"libzip-incons-local-crc.zip", trvzip::kZipErrorDamaged, 0},
      {"libzip-incons-local-compsize-larger.zip", trvzip::kZipErrorDamaged, 0},
      {"libzip-incons-local-compsize-smaller.zip", trvzip::kZipErrorDamaged, 0},
      {"libzip-incons-local-size-larger.zip", trvzip::kZipErrorDamaged, 0},
      {"libzip-incons-central-crc.zip", trvzip::kZipErrorDamaged, 0},
      {"libzip-incons-central-size-larger.zip", trvzip::kZipErrorDamaged, 0},
      {"libzip-incons-local-compression-method.zip", trvzip::kZipErrorDamaged, 0},
  };
  for (const Pinned& p : pinned) {
    SCOPED_TRACE(p.name);
    ZIP_File zip;
    EXPECT_EQ(zip.Open(CorpusZip(p.name), true), p.expected);
    EXPECT_EQ(zip.GetEntryCount(), p.members);
  }
  ZIP_File zip;
  ASSERT_EQ(zip.Open(CorpusZip("gen-method-unknown-ffff.zip"), true), 0);
  std::string text(26, '\0');
  EXPECT_EQ(zip.FindEntry(u"test.txt")->Extract(text.data(), 26), trvzip::kZipErrorMethod);
}

}  // namespace
