// Finding the version resource of an image: the codes of its failures and
// the preference among languages.

#include <gtest/gtest.h>

#include "pe/pe_errors.h"
#include "pe/resource_update.h"
#include "pe/version_resource.h"
#include "pe_test_util.h"

namespace {

using petest::StubPath;

TEST(PeVersionResource, FailuresCarryCodes) {
  testsupport::TempDir dir;
  testsupport::WriteFile(dir.File("text.exe"), std::string("MZ but not an image at all"));
  struct Case {
    std::string path;
    uint32_t code;
  };
  const Case cases[] = {
      {dir.File("missing.exe"), platform::kErrorFileNotFound},
      {dir.File("text.exe"), platform::kErrorBadExeFormat},
      {StubPath("stub64_noversion"), pe::kErrorResourceDataNotFound},
  };
  for (const Case& c : cases) {
    uint32_t error = 0;
    std::vector<uint8_t> block;
    EXPECT_FALSE(petest::VersionInfoOf(c.path, block, &error)) << c.path;
    EXPECT_EQ(error, c.code) << c.path;
  }
  // Without the version resource but with others: type not found; with a
  // version resource of another name: name not found.
  const std::string copy = dir.File("rich.exe");
  testsupport::WriteFile(copy, testsupport::ReadFile(StubPath("stub64_rich")));
  auto image = petest::OpenImage(copy, true);
  ASSERT_TRUE(image);
  pe::ResourceUpdate update;
  ASSERT_TRUE(update.Begin(*image, false));
  ASSERT_TRUE(update.Update(pe::ResourceName::Id(16), pe::ResourceName::Id(1), 1033, {}));
  ASSERT_TRUE(update.End(false)) << update.LastError();
  uint32_t error = 0;
  std::vector<uint8_t> found;
  EXPECT_FALSE(pe::GetFileVersionInfo(*image, found, &error));
  EXPECT_EQ(error, pe::kErrorResourceTypeNotFound);
  const auto block = petest::MakeVersionBlock(1, {});
  ASSERT_TRUE(update.Begin(*image, false));
  ASSERT_TRUE(update.Update(pe::ResourceName::Id(16), pe::ResourceName::Id(2), 1033, block));
  ASSERT_TRUE(update.End(false));
  EXPECT_FALSE(pe::GetFileVersionInfo(*image, found, &error));
  EXPECT_EQ(error, pe::kErrorResourceNameNotFound);
  // What the image says is what the file holds.
  image.reset();
  EXPECT_FALSE(petest::VersionInfoOf(copy, found, &error));
  EXPECT_EQ(error, pe::kErrorResourceNameNotFound);
}

// Language neutral wins over U.S. English, which wins over the others.
TEST(PeVersionResource, LanguagePreference) {
  testsupport::TempDir dir;
  const std::string copy = dir.File("twolang.exe");
  testsupport::WriteFile(copy, testsupport::ReadFile(StubPath("stub64_twolang")));
  const auto neutral = petest::MakeVersionBlock(0x50000, {});
  auto image = petest::OpenImage(copy, true);
  ASSERT_TRUE(image);
  std::vector<uint8_t> block;
  ASSERT_TRUE(pe::GetFileVersionInfo(*image, block));
  EXPECT_EQ(block[48], 2);  // 1033's file version 1.2.0.5: minor word first
  pe::ResourceUpdate update;
  ASSERT_TRUE(update.Begin(*image, false));
  ASSERT_TRUE(update.Update(pe::ResourceName::Id(16), pe::ResourceName::Id(1), 1033, {}));
  ASSERT_TRUE(update.End(false));
  ASSERT_TRUE(pe::GetFileVersionInfo(*image, block));
  EXPECT_EQ(block[48], 9);  // only French left
  ASSERT_TRUE(update.Begin(*image, false));
  ASSERT_TRUE(update.Update(pe::ResourceName::Id(16), pe::ResourceName::Id(1), 0, neutral));
  EXPECT_EQ(update.Languages(pe::ResourceName::Id(16), pe::ResourceName::Id(1)),
            (std::vector<uint16_t>{0, 1036}));
  ASSERT_TRUE(update.End(false));
  ASSERT_TRUE(pe::GetFileVersionInfo(*image, block));
  EXPECT_EQ(block, neutral);
}

}  // namespace
