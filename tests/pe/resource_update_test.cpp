// Resource updates checked against tools nobody here wrote: pefile parses the
// result and compares it with the stub, objdump reads its headers.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "bytes/byte_reader.h"
#include "bytes/byte_writer.h"
#include "pe/image_file.h"
#include "pe/pe_image.h"
#include "pe/resource_tree.h"
#include "pe/resource_update.h"
#include "pe/pe_errors.h"
#include "pe/version_resource.h"
#include "pe_test_util.h"

namespace {

using petest::StubPath;
using pe::ResourceName;

enum class Size { Larger, Smaller, Equal };

struct UpdateCase {
  const char* stub;
  Size size;
  int addedSections;  // 1 when the new resources need a section of their own
};

std::string Describe(const ::testing::TestParamInfo<UpdateCase>& info) {
  static const char* const names[] = {"Larger", "Smaller", "Equal"};
  return std::string(info.param.stub) + "_" + names[static_cast<int>(info.param.size)];
}

// The language the version resource is replaced under: the one a reader picks.
uint16_t VersionLanguage(const std::vector<uint16_t>& languages) {
  if (languages.empty()) return 1033;
  if (std::find(languages.begin(), languages.end(), 0) != languages.end()) return 0;
  if (std::find(languages.begin(), languages.end(), 1033) != languages.end()) return 1033;
  return languages.front();
}

std::vector<uint8_t> NewBlock(const std::string& stub, Size size) {
  if (size == Size::Larger) {
    return petest::MakeVersionBlock(0x30004, {{u"Comments", std::u16string(3000, u'x')},
                                              {u"FileVersion", u"3.4.0.0"}});
  }
  std::vector<uint8_t> block;
  if (size == Size::Smaller || !petest::VersionInfoOf(stub, block)) {
    return petest::MakeVersionBlock(0x70000, {{u"FileVersion", u"7"}});
  }
  block[52] ^= 0x5A;  // same size, another file version
  return block;
}

class PeUpdateTest : public ::testing::TestWithParam<UpdateCase> {};

TEST_P(PeUpdateTest, ResultReadsBackEverywhere) {
  const UpdateCase& c = GetParam();
  testsupport::TempDir dir;
  const std::string original = StubPath(c.stub);
  if (!std::filesystem::exists(original)) GTEST_SKIP() << c.stub << " not built (no clang or lld)";
  const std::string path = dir.File("out.exe");
  testsupport::WriteFile(path, testsupport::ReadFile(original));
  const std::vector<uint8_t> block = NewBlock(original, c.size);
  testsupport::WriteFile(dir.File("block.bin"), block);

  auto image = petest::OpenImage(path, true);
  ASSERT_TRUE(image);
  pe::ResourceUpdate update;
  ASSERT_TRUE(update.Begin(*image, false)) << update.LastError();
  const uint16_t language =
      VersionLanguage(update.Languages(ResourceName::Id(16), ResourceName::Id(1)));
  ASSERT_TRUE(update.Update(ResourceName::Id(16), ResourceName::Id(1), language, block));
  ASSERT_TRUE(update.End(false)) << update.LastError();
  EXPECT_EQ(update.LastError(), platform::kErrorSuccess);
  image.reset();

  const auto check = RunPefileTool(
      {"check", path, original, dir.File("block.bin"), std::to_string(language)});
  EXPECT_EQ(check.exitCode, 0) << check.output;
  const auto before = pe::PeImage::Parse(testsupport::ReadFile(original), nullptr);
  ASSERT_TRUE(before);
  EXPECT_NE(check.output.find("SECTIONS " + std::to_string(before->sections.size() +
                                                           c.addedSections)),
            std::string::npos)
      << check.output;

  const std::string objdump =
      before->is64 ? "x86_64-w64-mingw32-objdump" : "i686-w64-mingw32-objdump";
  const auto headers =
      testsupport::RunCommand(objdump + " -p " + testsupport::ShellQuote(path), true);
  EXPECT_EQ(headers.exitCode, 0) << headers.output;
  EXPECT_EQ(headers.output.find("warning"), std::string::npos) << headers.output;
  EXPECT_NE(headers.output.find("Resource Directory"), std::string::npos);

  std::vector<uint8_t> readBack;
  ASSERT_TRUE(petest::VersionInfoOf(path, readBack));
  EXPECT_EQ(readBack, block);
}

// Every stub with a larger, a smaller and an equal block. Larger blocks do
// not fit the stubs' resource sections: they grow (moving .reloc and debug
// sections up, the symbol table behind them), or, behind another section,
// move to a new one; a stub without resources gets one.
std::vector<UpdateCase> AllCases() {
  std::vector<UpdateCase> cases;
  for (const char* stub : {"stub64_full", "stub32_full", "stub64_partial", "stub64_german",
                           "stub64_noversion", "stub64_rich", "stub64_extrasection",
                           "stub64_overlay", "stub64_twolang", "stub64_signed", "stub64_neutral",
                           "stub64_emptyvalue", "stub64_shortraw", "tc_gcc_i686",
                           "tc_gcc_x86_64", "tc_clang_i686", "tc_clang_x86_64"}) {
    for (Size size : {Size::Larger, Size::Smaller, Size::Equal}) {
      const std::string name = stub;
      const bool newSection = name == "stub64_noversion" ||
                              (name == "stub64_extrasection" && size == Size::Larger);
      cases.push_back({stub, size, newSection ? 1 : 0});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(PeStubs, PeUpdateTest, ::testing::ValuesIn(AllCases()), Describe);

class PeUpdateFailureTest : public ::testing::Test {
 protected:
  std::string Copy(const char* stub) {
    const std::string path = dir_.File(std::string(stub) + ".exe");
    testsupport::WriteFile(path, testsupport::ReadFile(StubPath(stub)));
    return path;
  }
  // Begin, replace the version resource with a large block, End(false).
  // A file that cannot be opened for the update fails with the open's code.
  bool UpdateLarge(const std::string& path, pe::ResourceUpdate& update, uint32_t* error) {
    auto image = pe::ImageFile::Open(path, true, error);
    if (!image) return false;
    const auto block = NewBlock(path, Size::Larger);
    const bool done = update.Begin(*image, false) &&
                      update.Update(ResourceName::Id(16), ResourceName::Id(1), 1033, block) &&
                      update.End(false);
    *error = update.LastError();
    return done;
  }
  // Writes bytes as a stub, updates it with a large block, and checks the
  // result with pefile against the stub: sound, with `sections` sections.
  void ExpectLargeUpdate(const std::vector<uint8_t>& bytes, const char* name,
                         std::size_t sections) {
    const std::string original = dir_.File(name);
    testsupport::WriteFile(original, bytes);
    const std::string path = Copy("stub64_full");
    testsupport::WriteFile(path, bytes);
    pe::ResourceUpdate update;
    uint32_t error = 0;
    ASSERT_TRUE(UpdateLarge(path, update, &error)) << error;
    testsupport::WriteFile(dir_.File("block.bin"), NewBlock(path, Size::Larger));
    const auto check = RunPefileTool({"check", path, original, dir_.File("block.bin"), "1033"});
    EXPECT_EQ(check.exitCode, 0) << check.output;
    EXPECT_NE(check.output.find("SECTIONS " + std::to_string(sections)), std::string::npos)
        << check.output;
  }
  testsupport::TempDir dir_;
};

// Refused updates report why and leave the file as it was.
TEST_F(PeUpdateFailureTest, RefusedUpdatesLeaveTheFileAlone) {
  const std::string crowded = Copy("stub64_extrasection");
  auto bytes = testsupport::ReadFile(crowded);
  const auto image = pe::PeImage::Parse(bytes, nullptr);
  ASSERT_TRUE(image);
  bytes[image->SectionHeaderOffset(image->sections.size()) + 3] = 0x7F;  // header slot in use
  testsupport::WriteFile(crowded, bytes);
  const std::string readOnly = Copy("stub64_full");
  ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);
  for (const auto& [path, code] : {std::pair{crowded, pe::kErrorInsufficientBuffer},
                                   std::pair{readOnly, uint32_t{platform::kErrorAccessDenied}}}) {
    const uint64_t digest = testsupport::FileDigest(path);
    pe::ResourceUpdate update;
    uint32_t error = 0;
    EXPECT_FALSE(UpdateLarge(path, update, &error)) << path;
    EXPECT_EQ(error, code) << path;
    EXPECT_EQ(testsupport::FileDigest(path), digest) << path;
  }
}

TEST_F(PeUpdateFailureTest, DiscardAndMisuse) {
  const std::string path = Copy("stub64_full");
  const uint64_t digest = testsupport::FileDigest(path);
  pe::ResourceUpdate update;
  const std::vector<uint8_t> data{1, 2, 3};
  EXPECT_FALSE(update.Update(ResourceName::Id(10), ResourceName::Id(1), 0, data));
  EXPECT_EQ(update.LastError(), pe::kErrorInvalidHandle);
  EXPECT_FALSE(update.End(false));
  {
    auto image = petest::OpenImage(path, true);
    ASSERT_TRUE(image);
    ASSERT_TRUE(update.Begin(*image, false));
    EXPECT_FALSE(update.Update(ResourceName::Id(0), ResourceName::Id(1), 0, data));
    EXPECT_EQ(update.LastError(), platform::kErrorInvalidParameter);
    EXPECT_TRUE(update.Update(ResourceName::Id(10), ResourceName::Id(1), 0, data));
    EXPECT_TRUE(update.End(true));
  }
  EXPECT_EQ(testsupport::FileDigest(path), digest);

  testsupport::WriteFile(dir_.File("plain.txt"), std::string(4096, 'z'));
  auto plain = petest::OpenImage(dir_.File("plain.txt"), true);
  ASSERT_TRUE(plain);
  EXPECT_FALSE(update.Begin(*plain, false));
  EXPECT_EQ(update.LastError(), platform::kErrorBadExeFormat);
  EXPECT_FALSE(update.Update(ResourceName::Id(10), ResourceName::Id(1), 0, data));
  // The cause, not merely "no update pending".
  EXPECT_EQ(update.LastError(), platform::kErrorBadExeFormat);
}

// Growing a stub and shrinking it again: the resource section keeps its
// extent, so no gap opens before the section behind it.
TEST_F(PeUpdateFailureTest, GrowThenShrink) {
  const std::string path = Copy("stub64_full");
  pe::ResourceUpdate update;
  uint32_t error = 0;
  ASSERT_TRUE(UpdateLarge(path, update, &error)) << error;
  const std::string grown = dir_.File("grown.exe");
  testsupport::WriteFile(grown, testsupport::ReadFile(path));
  const auto small = NewBlock(path, Size::Smaller);
  testsupport::WriteFile(dir_.File("block.bin"), small);
  {
    auto image = petest::OpenImage(path, true);
    ASSERT_TRUE(image);
    ASSERT_TRUE(update.Begin(*image, false));
    ASSERT_TRUE(update.Update(ResourceName::Id(16), ResourceName::Id(1), 1033, small));
    ASSERT_TRUE(update.End(false)) << update.LastError();
  }
  const auto check = RunPefileTool({"check", path, grown, dir_.File("block.bin"), "1033"});
  EXPECT_EQ(check.exitCode, 0) << check.output;
}

// Headers without room for another section header grow into the room the
// first section's address leaves, and every section's data moves behind them.
TEST_F(PeUpdateFailureTest, FullHeadersGrow) {
  auto bytes = testsupport::ReadFile(StubPath("stub64_extrasection"));
  const auto before = pe::PeImage::Parse(bytes, nullptr);
  ASSERT_TRUE(before);
  // The file header, optional header and section table moved up, to end 8
  // bytes before the end of the headers.
  const uint32_t from = bytes::ByteReader(bytes, 0x3C).U32();
  const uint32_t end = before->SectionHeaderOffset(before->sections.size());
  const uint32_t to = (before->sizeOfHeaders - (end - from) - 8) & ~7u;
  ASSERT_GT(to, from);
  const std::vector<uint8_t> headers(bytes.begin() + from, bytes.begin() + end);
  std::fill(bytes.begin() + from, bytes.begin() + end, 0);
  std::copy(headers.begin(), headers.end(), bytes.begin() + to);
  ASSERT_TRUE(bytes::SpanWriter(bytes).U32At(0x3C, to));
  ExpectLargeUpdate(bytes, "full.exe", before->sections.size() + 1);
  const auto after =
      pe::PeImage::Parse(testsupport::ReadFile(dir_.File("stub64_full.exe")), nullptr);
  ASSERT_TRUE(after);
  EXPECT_GT(after->sizeOfHeaders, before->sizeOfHeaders);
  EXPECT_GT(after->sections.front().rawPointer, before->sections.front().rawPointer);
}

// A discardable section that base relocations patch keeps its address: a
// larger block then takes a new section rather than moving it.
TEST_F(PeUpdateFailureTest, RelocatedSectionsStay) {
  const std::string stub = StubPath("tc_gcc_x86_64");
  if (!std::filesystem::exists(stub)) GTEST_SKIP() << "tc_gcc_x86_64 not built";
  auto bytes = testsupport::ReadFile(stub);
  const auto image = pe::PeImage::Parse(bytes, nullptr);
  ASSERT_TRUE(image);
  const int reloc = image->SectionOfRva(image->Directory(pe::kDirectoryBaseReloc).rva);
  ASSERT_GE(reloc, 0);
  ASSERT_LT(static_cast<std::size_t>(reloc) + 1, image->sections.size());
  // The first block now names a page of the section behind .reloc.
  const pe::SectionHeader& relocs = image->sections[static_cast<std::size_t>(reloc)];
  const uint32_t behind = image->sections[static_cast<std::size_t>(reloc) + 1].virtualAddress;
  ASSERT_TRUE(bytes::SpanWriter(bytes).U32At(relocs.rawPointer, behind));
  ExpectLargeUpdate(bytes, "patched.exe", image->sections.size() + 1);
}

TEST_F(PeUpdateFailureTest, ModeIsKept) {
  const std::string path = Copy("stub64_full");
  ASSERT_EQ(chmod(path.c_str(), 0750), 0);
  pe::ResourceUpdate update;
  uint32_t error = 0;
  ASSERT_TRUE(UpdateLarge(path, update, &error)) << error;
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u);
}

// Code pages and named entries survive; the directory comes out in the
// order the loader's search needs.
TEST_F(PeUpdateFailureTest, CodePagesNamesAndOrder) {
  const std::string original = dir_.File("codepages.exe");
  auto made = RunPefileTool({"codepages", StubPath("stub64_rich"), original});
  ASSERT_EQ(made.exitCode, 0) << made.output;
  const std::string path = dir_.File("out.exe");
  testsupport::WriteFile(path, testsupport::ReadFile(original));
  auto image = petest::OpenImage(path, true);
  ASSERT_TRUE(image);
  pe::ResourceUpdate update;
  ASSERT_TRUE(update.Begin(*image, false));
  const std::vector<uint8_t> blob{9, 8, 7};
  ASSERT_TRUE(update.Update(ResourceName::Named(u"AAFIRST"), ResourceName::Named(u"X"), 7, blob));
  EXPECT_EQ(update.Languages(ResourceName::Named(u"ZZDATA"), ResourceName::Id(1)).size(), 0u);
  EXPECT_EQ(update.Languages(ResourceName::Id(10), ResourceName::Named(u"ZZDATA")),
            (std::vector<uint16_t>{1031, 1033}));
  ASSERT_TRUE(update.Update(ResourceName::Named(u"AAFIRST"), ResourceName::Named(u"X"), 7, {}));
  const auto block = NewBlock(path, Size::Larger);
  ASSERT_TRUE(update.Update(ResourceName::Id(16), ResourceName::Id(1), 1033, block));
  ASSERT_TRUE(update.End(false));
  image.reset();
  testsupport::WriteFile(dir_.File("block.bin"), block);
  const auto check = RunPefileTool({"check", path, original, dir_.File("block.bin"), "1033"});
  EXPECT_EQ(check.exitCode, 0) << check.output;

  const auto bytes = testsupport::ReadFile(path);
  const auto headers = pe::PeImage::Parse(bytes, nullptr);
  ASSERT_TRUE(headers);
  const auto leaves = pe::ReadResources(*headers, bytes, nullptr);
  ASSERT_TRUE(leaves);
  EXPECT_TRUE(std::is_sorted(leaves->begin(), leaves->end(), pe::LeafLess));
  EXPECT_EQ(leaves->front().type.name, u"BLOBDATA");
}

}  // namespace
