// What an image file holds: its headers and sections, while what follows
// them stays in the file it was read from and is copied whenever it is
// written.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "pe/image_file.h"
#include "pe/pe_checksum.h"
#include "pe_test_util.h"

namespace {

using platform::Access;
using platform::Disposition;
using platform::FileHandle;
using platform::Share;

TEST(ImageFileTest, OverlayStaysInTheSource) {
  testsupport::TempDir dir;
  const std::string stubPath = dir.File("stub.exe");
  auto stubBytes = testsupport::ReadFile(petest::StubPath("stub64_overlay"));
  testsupport::WriteFile(stubPath, stubBytes);
  auto source = std::make_unique<FileHandle>();
  ASSERT_TRUE(source->Open(stubPath, Access::Read, Share::Read, Disposition::OpenExisting));
  FileHandle target;
  auto image = pe::ImageFile::Read(std::move(source), target, nullptr);
  ASSERT_TRUE(image);
  const pe::PeImage* headers = image->Headers(nullptr);
  ASSERT_NE(headers, nullptr);
  EXPECT_EQ(image->Bytes().size(), headers->ExtentEnd(stubBytes.size()));
  EXPECT_EQ(image->FileSize(), stubBytes.size());

  ASSERT_TRUE(target.Open(dir.File("copy.exe"), Access::Write, Share::None,
                          Disposition::CreateAlways));
  ASSERT_TRUE(image->Write(nullptr));
  EXPECT_EQ(testsupport::ReadFile(dir.File("copy.exe")), stubBytes);
  ASSERT_TRUE(image->Checksum());
  EXPECT_EQ(image->Checksum()->Value(), pe::ComputeChecksum(stubBytes, headers->at.checkSum));

  // A rebuild that fails leaves the file alone and the image as it was,
  // read again from the stub.
  const auto stubImage = std::vector<uint8_t>(image->Bytes().begin(), image->Bytes().end());
  const std::vector<pe::FileRange> overlay = {
      {stubImage.size(), image->FileSize() - stubImage.size()}};
  uint32_t error = 0;
  const auto spoil = [](std::vector<uint8_t>& bytes) -> uint32_t {
    bytes.assign(bytes.size() / 2, 0xEE);
    return platform::kErrorInvalidData;
  };
  EXPECT_FALSE(image->Rewrite(spoil, overlay, {}, &error));
  EXPECT_EQ(error, platform::kErrorInvalidData);
  EXPECT_FALSE(image->Damaged());
  EXPECT_TRUE(std::ranges::equal(image->Bytes(), stubImage));
  EXPECT_EQ(testsupport::ReadFile(dir.File("copy.exe")), stubBytes);

  // A stub cut short behind the tool's back fails the next write as a read
  // fault; as the old contents cannot be written back either, the file is
  // left empty rather than half written.
  std::filesystem::resize_file(stubPath, image->Bytes().size() + 5);
  const auto keep = [](std::vector<uint8_t>&) -> uint32_t { return 0; };
  EXPECT_FALSE(image->Rewrite(keep, overlay, {}, &error));
  EXPECT_EQ(error, platform::kErrorReadFault);
  EXPECT_TRUE(image->Damaged());
  EXPECT_EQ(std::filesystem::file_size(dir.File("copy.exe")), 0u);
}

}  // namespace
