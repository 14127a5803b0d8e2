// Damaged images and files that are no images at all: every operation ends in
// an error code or a sound result, never in a read outside the buffer (the
// sanitizer build watches).

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "bytes/byte_reader.h"
#include "bytes/byte_writer.h"
#include "pe/pe_image.h"
#include "pe/resource_layout.h"
#include "pe/resource_tree.h"
#include "pe/resource_update.h"
#include "pe/version_resource.h"
#include "pe_test_util.h"
#include "verinfo/version_block.h"

namespace {

using pe::ResourceName;

// Reads version information from path and, when it can, runs the queries the
// version code makes; then tries a resource update. Returns the error code of
// the read (0 when it succeeded).
uint32_t Exercise(const std::string& path) {
  uint32_t error = 0;
  std::vector<uint8_t> block;
  auto image = petest::OpenImage(path, true);
  if (!image) return platform::kErrorAccessDenied;
  if (pe::GetFileVersionInfo(*image, block, &error)) {
    EXPECT_EQ(error, platform::kErrorSuccess);
    for (const char16_t* query : {u"\\", u"\\StringFileInfo\\040904b0\\FileVersion",
                                  u"\\StringFileInfo\\040904b0\\LegalTrademarks",
                                  u"\\VarFileInfo\\Translation"}) {
      const void* value = nullptr;
      uint32_t length = 0;
      if (VerQueryValue(block, query, &value, &length) && query[1] == u'S') {
        // Read up to the NUL, as the version code does: the sanitizer
        // objects when that runs past the block.
        EXPECT_LE(std::u16string(static_cast<const char16_t*>(value)).size(), block.size());
      }
    }
  } else {
    EXPECT_NE(error, platform::kErrorSuccess);
  }
  pe::ResourceUpdate update;
  if (update.Begin(*image, false)) {
    const auto fresh =
        petest::MakeVersionBlock(0x10000, {{u"Comments", std::u16string(900, u'c')}});
    EXPECT_TRUE(update.Update(ResourceName::Id(16), ResourceName::Id(1), 1033, fresh));
    if (update.End(false)) {
      image.reset();
      std::vector<uint8_t> readBack;
      EXPECT_TRUE(petest::VersionInfoOf(path, readBack));
      EXPECT_EQ(readBack, fresh);
    } else {
      EXPECT_NE(update.LastError(), platform::kErrorSuccess);
    }
  } else {
    EXPECT_NE(update.LastError(), platform::kErrorSuccess);
  }
  return error;
}

uint32_t ResourceSectionOffset(const pe::PeImage& image) {
  const int index = image.SectionOfRva(image.directories.at(2).rva);
  return image.sections.at(static_cast<std::size_t>(index)).rawPointer;
}

// Truncations at every interesting length and bit flips all over the
// headers and the resource section, from a fixed seed.
TEST(PeRobustnessTest, DamagedStubs) {
  testsupport::TempDir dir;
  std::mt19937 random(20240611);
  int variants = 0, readable = 0;
  for (const char* stub : {"stub64_rich", "stub32_full", "stub64_signed", "stub64_emptyvalue"}) {
    const auto original = testsupport::ReadFile(petest::StubPath(stub));
    const auto image = pe::PeImage::Parse(original, nullptr);
    ASSERT_TRUE(image);
    const uint32_t rsrc = ResourceSectionOffset(*image);
    for (int i = 0; i < 100; ++i) {
      auto bytes = original;
      if (i < 25) {
        bytes.resize(std::uniform_int_distribution<std::size_t>(0, bytes.size() - 1)(random));
      } else {
        // Flip bits in the headers (first 1 KiB) or in the resource directory.
        const std::size_t base = i % 2 == 0 ? 0 : rsrc;
        const int flips = 1 + i % 4;
        for (int f = 0; f < flips; ++f) {
          const std::size_t at = base + random() % 1024;
          if (at < bytes.size()) bytes[at] ^= static_cast<uint8_t>(1u << (random() % 8));
        }
      }
      const std::string path = dir.File("variant.exe");
      testsupport::WriteFile(path, bytes);
      readable += Exercise(path) == 0;
      ++variants;
    }
  }
  EXPECT_EQ(variants, 400);
  EXPECT_GT(readable, 0);  // some damage leaves the version resource readable
}

// Crafted directories: a table that refers to itself, an entry pointing far
// outside the section.
TEST(PeRobustnessTest, LoopsAndWildOffsets) {
  testsupport::TempDir dir;
  const auto original = testsupport::ReadFile(petest::StubPath("stub64_full"));
  const auto image = pe::PeImage::Parse(original, nullptr);
  ASSERT_TRUE(image);
  const uint32_t root = ResourceSectionOffset(*image);
  struct Case {
    const char* what;
    uint32_t offset;  // of a 32-bit field, from the root table
    uint32_t value;
  };
  const Case cases[] = {
      {"type entry leads back to the root", 16 + 4, 0x80000000u},
      {"type entry leads far away", 16 + 4, 0x8FFFFFF0u},
      {"type name string out of range", 16, 0x80FFFF00u},
      {"huge entry count", 12, 0xFFFFFFFFu},
  };
  for (const Case& c : cases) {
    auto bytes = original;
    for (int i = 0; i < 4; ++i) {
      bytes[root + c.offset + i] = static_cast<uint8_t>(c.value >> (8 * i));
    }
    const std::string path = dir.File("crafted.exe");
    testsupport::WriteFile(path, bytes);
    EXPECT_EQ(Exercise(path), platform::kErrorInvalidData) << c.what;
  }
}

// Headers that are valid but leave the update no sound result.
TEST(PeRobustnessTest, HeaderOddities) {
  testsupport::TempDir dir;
  const std::string path = dir.File("odd.exe");
  auto bytes = testsupport::ReadFile(petest::StubPath("stub64_full"));
  const auto image = pe::PeImage::Parse(bytes, nullptr);
  ASSERT_TRUE(image);
  const auto fresh = petest::MakeVersionBlock(0x10000, {});
  const auto update = [&](std::vector<uint8_t> stub) {
    testsupport::WriteFile(path, stub);
    auto file = petest::OpenImage(path, true);
    pe::ResourceUpdate u;
    const bool done = file && u.Begin(*file, false) &&
                      u.Update(ResourceName::Id(16), ResourceName::Id(1), 1033, fresh) &&
                      u.End(false);
    return done ? 0u : u.LastError();
  };
  const auto put32 = [](std::vector<uint8_t>& file, uint32_t at, uint32_t value) {
    ASSERT_TRUE(bytes::SpanWriter(file).U32At(at, value));
  };
  // Two data directories: no slot that could point at new resources.
  auto twoDirectories = bytes;
  put32(twoDirectories, image->at.directories - 4, 2);  // NumberOfRvaAndSizes
  EXPECT_EQ(update(twoDirectories), platform::kErrorInvalidData);
  EXPECT_EQ(testsupport::ReadFile(path), twoDirectories);
  // A shrinking resource section in a stub that declared no initialised data.
  auto noInitialized = bytes;
  put32(noInitialized, image->at.sizeOfInitializedData, 0);
  ASSERT_EQ(update(noInitialized), 0u);
  const auto written = testsupport::ReadFile(path);
  EXPECT_LT(bytes::ByteReader(written, image->at.sizeOfInitializedData).U32(), 0x1000000u);
}

// A directory whose leaves all lie under one named type: each leaf keeps a
// copy of the type's name, which may be long and read only once.
std::optional<std::vector<pe::ResourceLeaf>> ReadSharedNameDirectory(
    std::vector<uint8_t>& file, uint32_t nameLength, uint32_t leaves) {
  const uint32_t langBase = 40 + 8 * leaves, dataBase = langBase + 24 * leaves;
  const uint32_t nameAt = dataBase + 16 * leaves, size = nameAt + 2 + 2 * nameLength;
  file.assign(0x200 + size, 0);
  bytes::SpanWriter out{std::span<uint8_t>(file)};
  const auto put16 = [&](uint32_t at, uint16_t v) {
    EXPECT_TRUE(out.Seek(0x200 + at) && out.U16(v));
  };
  const auto put32 = [&](uint32_t at, uint32_t v) { EXPECT_TRUE(out.U32At(0x200 + at, v)); };
  put16(12, 1);
  put32(16, 0x80000000u | nameAt);
  put32(20, 0x80000000u | 24);
  put16(24 + 14, static_cast<uint16_t>(leaves));
  for (uint32_t i = 0; i < leaves; ++i) {
    put32(40 + 8 * i, i + 1);
    put32(44 + 8 * i, 0x80000000u | (langBase + 24 * i));
    put16(langBase + 24 * i + 14, 1);
    put32(langBase + 24 * i + 16, 1033);
    put32(langBase + 24 * i + 20, dataBase + 16 * i);
    put32(dataBase + 16 * i, 0x1000);
  }
  put16(nameAt, static_cast<uint16_t>(nameLength));
  for (uint32_t i = 0; i < nameLength; ++i) put16(nameAt + 2 + 2 * i, u'N');
  pe::PeImage image;
  image.sizeOfHeaders = 0x200;
  image.directories = {{}, {}, {0x1000, size}};
  pe::SectionHeader section;
  section.virtualAddress = 0x1000;
  section.virtualSize = section.rawSize = size;
  section.rawPointer = 0x200;
  image.sections = {section};
  return pe::ReadResources(image, file, nullptr);
}

TEST(PeRobustnessTest, SharedNameCopiesAreBounded) {
  std::vector<uint8_t> file;
  const auto few = ReadSharedNameDirectory(file, 10, 50);
  ASSERT_TRUE(few);
  EXPECT_EQ(few->size(), 50u);
  EXPECT_FALSE(ReadSharedNameDirectory(file, 30000, 500));  // 30 MB of copies from 85 kB
}

// A table states its named and numbered entries in 16 bits each.
TEST(PeRobustnessTest, LayoutRefusesTablesBeyondTheirCounts) {
  const std::vector<uint8_t> data{1};
  for (std::size_t count : {0xFFFFu, 0x10000u}) {
    std::vector<pe::ResourceLeaf> leaves;
    for (std::size_t i = 0; i < count; ++i) {
      std::u16string name = u"N";
      for (std::size_t v = i; v > 0; v /= 26) name += static_cast<char16_t>(u'A' + v % 26);
      leaves.push_back({ResourceName::Id(10), ResourceName::Named(name), 0, 0, data});
    }
    EXPECT_EQ(pe::LayoutResources(leaves, 0x1000).has_value(), count <= 0xFFFF) << count;
  }
}

// An empty resource (a stub may carry one) is laid out with an address inside
// the new section, so the rewritten directory reads back whole.
TEST(PeRobustnessTest, LaidOutEmptyResourcesReadBack) {
  const std::vector<uint8_t> data{1, 2, 3};
  const std::vector<pe::ResourceLeaf> leaves = {
      {ResourceName::Id(10), ResourceName::Id(1), 1033, 0, data},
      {ResourceName::Id(234), ResourceName::Id(1), 1033, 0, {}}};
  const auto layout = pe::LayoutResources(leaves, 0x1000);
  ASSERT_TRUE(layout);
  std::vector<uint8_t> file(0x200);
  file.insert(file.end(), layout->begin(), layout->end());
  pe::PeImage image;
  image.sizeOfHeaders = 0x200;
  image.directories = {{}, {}, {0x1000, static_cast<uint32_t>(layout->size())}};
  pe::SectionHeader section;
  section.virtualAddress = 0x1000;
  section.virtualSize = section.rawSize = static_cast<uint32_t>(layout->size());
  section.rawPointer = 0x200;
  image.sections = {section};
  const auto read = pe::ReadResources(image, file, nullptr);
  ASSERT_TRUE(read);
  ASSERT_EQ(read->size(), 2u);
  EXPECT_EQ(std::vector<uint8_t>(read->at(0).data.begin(), read->at(0).data.end()), data);
  EXPECT_TRUE(read->at(1).data.empty());
}

// An address is read where the loader reads it: inside the section's size in
// memory, and inside its raw size rounded up to the file alignment (which
// may lie past the raw size) and inside the file; nowhere else.
TEST(PeRobustnessTest, AddressesReadWhereTheLoaderReads) {
  struct Case {
    uint32_t virtualSize, rawSize, rva, length;
    uint64_t fileSize;
    bool readable;
  };
  const Case cases[] = {
      {0x1000, 0x300, 0x1000, 0x300, 0x1000, true},
      {0x1000, 0x300, 0x12F8, 0x10, 0x1000, true},    // past the raw size, inside its rounding
      {0x1000, 0x300, 0x13F8, 0x10, 0x1000, false},   // past the rounding
      {0x1000, 0x300, 0x12F8, 0x10, 0x500, false},    // past the file
      {0x100, 0x400, 0x10F0, 0x10, 0x1000, true},     // memory smaller than the raw data
      {0x100, 0x400, 0x10F8, 0x10, 0x1000, false},    // runs past the memory size
      {0x100, 0x400, 0x1200, 0x8, 0x1000, false},     // raw data the loader never maps
      {0, 0x400, 0x13F8, 0x8, 0x1000, true},          // no memory size: the raw size counts
  };
  for (const Case& c : cases) {
    pe::PeImage image;
    image.sizeOfHeaders = 0x200;
    image.fileAlignment = 0x200;
    pe::SectionHeader section;
    section.virtualAddress = 0x1000;
    section.virtualSize = c.virtualSize;
    section.rawSize = c.rawSize;
    section.rawPointer = 0x200;
    image.sections = {section};
    const auto offset = image.RvaToOffset(c.rva, c.length, c.fileSize);
    EXPECT_EQ(offset.has_value(), c.readable) << std::hex << c.virtualSize << " " << c.rva;
    if (offset) {
      EXPECT_EQ(*offset, c.rva - 0x1000u + 0x200u);
    }
  }
}

// Nothing in the shared corpus is an image.
TEST(PeRobustnessTest, CorpusFilesAreNoImages) {
  int files = 0;
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(testsupport::CorpusDir())) {
    if (!entry.is_regular_file()) continue;
    testsupport::TempDir dir;
    const std::string path = dir.File("copy.bin");
    std::filesystem::copy_file(entry.path(), path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    EXPECT_EQ(Exercise(path), platform::kErrorBadExeFormat) << entry.path();
    ++files;
  }
  EXPECT_GT(files, 0);
}

}  // namespace
