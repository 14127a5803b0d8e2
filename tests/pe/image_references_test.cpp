// The reader of an image's references, the planning it serves and the read
// back of a rebuilt image, on real images and on damaged copies of a stub.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "bytes/byte_reader.h"
#include "bytes/byte_writer.h"
#include "pe/image_check.h"
#include "pe/image_rebuild.h"
#include "pe/image_references.h"
#include "pe/resource_tree.h"
#include "pe_test_util.h"

namespace {

std::string Fixture(const std::string& name) {
  return testsupport::SourceDir() + "/tests/fixtures/real/" + name;
}

pe::ImageUse Use(const std::vector<uint8_t>& bytes) {
  const auto image = pe::PeImage::Parse(bytes, nullptr);
  EXPECT_TRUE(image);
  if (!image) return {};
  const auto debug = pe::ReadDebugDirectory(*image, bytes, bytes.size());
  return pe::SummarizeReferences(*image, bytes, debug);
}

// Real images from every linker the fixtures hold are read whole; code and
// data that code refers to are pinned, the resources and relocations free.
TEST(ImageReferences, RealImagesAreReadWhole) {
  struct Row {
    std::string path;
    std::vector<std::string> pinned;  // sections whose addresses must stay
    std::vector<std::string> free;    // sections nothing but their directory names
  };
  const Row rows[] = {
      {petest::StubPath("stub64_full"), {".text", ".rdata", ".pdata", ".xdata", ".tls"}, {".reloc"}},
      {petest::StubPath("stub32_full"), {".text", ".rdata", ".idata", ".tls"}, {".reloc"}},
      {Fixture("notifu.exe"), {".text", ".rdata", ".data"}, {}},
      {Fixture("notifu64.exe"), {".text", ".rdata", ".pdata"}, {}},
      {Fixture("conpty.dll"), {".text", ".rdata", ".data", ".pdata"}, {".reloc"}},
      {Fixture("Accessibility.dll"), {".text"}, {".reloc"}},
      {testsupport::SourceDir() + "/tests/fixtures/toolchains/go_x86_64.exe", {".text"}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    const auto bytes = testsupport::ReadFile(row.path);
    const auto image = pe::PeImage::Parse(bytes, nullptr);
    ASSERT_TRUE(image);
    const pe::ImageUse use = Use(bytes);
    EXPECT_TRUE(use.scan.Complete()) << use.scan.unreadable;
    for (std::size_t i = 0; i < image->sections.size(); ++i) {
      const std::string name = image->sections[i].Name();
      if (std::find(row.pinned.begin(), row.pinned.end(), name) != row.pinned.end()) {
        EXPECT_TRUE(use.sections[i].addressesPinned) << name;
      }
      if (std::find(row.free.begin(), row.free.end(), name) != row.free.end()) {
        EXPECT_FALSE(use.sections[i].addressesPinned) << name;
      }
      // Nothing but the resource directory entry points into the resources.
      if (name == ".rsrc") {
        EXPECT_FALSE(use.sections[i].bytesPinned);
      }
    }
  }
}

// A structure that cannot be read whole is named, and then no byte of the
// image moves: a block that outgrows the resources goes to a new section.
TEST(ImageReferences, UnreadableStructuresMoveNothing) {
  const auto original = testsupport::ReadFile(petest::StubPath("stub64_debug"));
  const auto image = pe::PeImage::Parse(original, nullptr);
  ASSERT_TRUE(image);
  const auto offset = [&](uint32_t rva) { return *image->RvaToOffset(rva, 1, original.size()); };
  const uint32_t relocs = image->Directory(pe::kDirectoryBaseReloc).rva;
  const pe::SectionHeader& last = image->sections.back();
  struct Row {
    const char* unreadable;
    std::function<bool(bytes::SpanWriter&)> damage;
  };
  const Row rows[] = {
      {"base relocation block", [&](bytes::SpanWriter& out) {
         return out.U32At(offset(relocs) + 4, 4);  // a block shorter than its header
       }},
      {"import descriptors", [&](bytes::SpanWriter& out) {
         // Descriptors that run to the end of the last section without a zero one.
         return out.U32At(image->DirectoryOffset(1), last.virtualAddress + last.MemorySize() - 8);
       }},
      {"TLS callbacks", [&](bytes::SpanWriter& out) {
         const uint32_t tls = image->Directory(9).rva;
         return out.U32At(offset(tls) + 24, 0x10) && out.U32At(offset(tls) + 28, 0);
       }},
      {"debug directory", [&](bytes::SpanWriter& out) {
         return out.U32At(image->DirectoryOffset(pe::kDirectoryDebug) + 4,
                          (pe::kMaxDebugEntries + 1) * pe::kDebugEntrySize);
       }},
  };
  const auto large = petest::MakeVersionBlock(0x10000, {{u"Comments", std::u16string(4000, u'c')}});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.unreadable);
    auto bytes = original;
    bytes::SpanWriter out(bytes);
    ASSERT_TRUE(row.damage(out));
    const pe::ImageUse use = Use(bytes);
    EXPECT_EQ(use.scan.unreadable, row.unreadable);
    const auto damaged = pe::PeImage::Parse(bytes, nullptr);
    ASSERT_TRUE(damaged);
    auto leaves = pe::ReadResources(*damaged, bytes, nullptr);
    ASSERT_TRUE(leaves);
    for (auto& leaf : *leaves) {
      if (leaf.type.id == 16) leaf.data = large;
    }
    std::string cause;
    uint32_t error = 0;
    const auto plan = pe::PlanRebuild(bytes, bytes.size(), *damaged, *leaves, &cause, &error);
    ASSERT_TRUE(plan) << error << " " << cause;
    EXPECT_FALSE(plan->layout.reused);
    EXPECT_EQ(plan->layout.headerShift, 0u);
    for (std::size_t i = 0; i < image->sections.size(); ++i) {
      EXPECT_EQ(plan->layout.after[i].virtualAddress, image->sections[i].virtualAddress);
      EXPECT_EQ(plan->layout.after[i].rawPointer, image->sections[i].rawPointer);
    }
  }
}

// The read back of a rebuilt image finds each fault planted in it.
TEST(ImageReferences, ReadBackFindsWhatIsWrong) {
  auto bytes = testsupport::ReadFile(petest::StubPath("stub64_full"));
  const auto image = pe::PeImage::Parse(bytes, nullptr);
  ASSERT_TRUE(image);
  const auto block = petest::MakeVersionBlock(0x20000, {{u"Comments", std::u16string(900, u'x')}});
  auto leaves = pe::ReadResources(*image, bytes, nullptr);
  ASSERT_TRUE(leaves);
  for (auto& leaf : *leaves) {
    if (leaf.type.id == 16) leaf.data = block;
  }
  const auto plan = pe::PlanRebuild(bytes, bytes.size(), *image, *leaves, nullptr, nullptr);
  ASSERT_TRUE(plan);
  // A field the rebuild would write outside the new image fails it, by name.
  auto missing = *plan;
  missing.debug.entries.push_back({0x7FFFFFF0, 16, 0x1000, 0x400});
  auto scratch = bytes;
  std::string cause;
  EXPECT_EQ(pe::ApplyRebuild(scratch, missing, &cause), platform::kErrorInvalidData);
  EXPECT_EQ(cause, "the rebuilt image has no room for a debug directory entry");
  ASSERT_EQ(pe::ApplyRebuild(bytes, *plan, nullptr), 0u);
  EXPECT_TRUE(pe::CheckRebuiltImage(bytes, bytes.size(), plan->expected).empty());
  const auto block32 = [&](uint32_t at) { return bytes::ByteReader(bytes, at).U32(); };
  const uint32_t resources = image->DirectoryOffset(pe::kDirectoryResource);
  // Where the new version block lies in the rebuilt image.
  const uint32_t version = static_cast<uint32_t>(
      std::search(bytes.begin(), bytes.end(), block.begin(), block.end()) - bytes.begin());
  ASSERT_LT(version, bytes.size());
  struct Row {
    uint32_t at, value;
    const char* finding;
  };
  const Row rows[] = {
      {resources, block32(resources) + 0x1000, "the resource directory does not name the new resource section"},
      {image->DirectoryOffset(pe::kDirectorySecurity), 0x400, "the certificate entry is not cleared"},
      {image->at.sizeOfImage, block32(image->at.sizeOfImage) + 0x1000,
       "SizeOfImage does not end behind the last section"},
      {image->at.sizeOfHeaders, block32(image->at.sizeOfHeaders) + 0x200,
       "SizeOfHeaders does not hold the headers"},
      {version + 200, 0x41414141, "the version resource Windows finds is not the one written"},
  };
  for (const Row& row : rows) {
    auto spoilt = bytes;
    ASSERT_TRUE(bytes::SpanWriter(spoilt).U32At(row.at, row.value));
    const auto findings = pe::CheckRebuiltImage(spoilt, spoilt.size(), plan->expected);
    EXPECT_TRUE(std::any_of(findings.begin(), findings.end(), [&](const pe::ImageFinding& f) {
      return f.what == row.finding;
    })) << row.finding << " among " << findings.size();
  }
}

// Debug entries count when they are whole, inside the directory's size, and
// name data that exists where their two fields agree; a table longer than
// any linker writes is no debug directory.
TEST(ImageReferences, OnlyRealDebugEntriesCount) {
  struct Row {
    const char* what;
    uint32_t characteristics, size, address, pointer, directorySize;
    std::size_t entries;
    bool readable = true;
  };
  // The section: address 0x1000, file offset 0x200; the image ends at 0x21000,
  // the file at 0x20000: room for more entries than the cap.
  const Row rows[] = {
      {"mapped data", 0, 0x10, 0x1100, 0x300, 28, 1},
      {"file data only", 0, 0x10, 0, 0x1F00, 28, 1},
      {"a partial second slot", 0, 0x10, 0x1100, 0x300, 28 + 13, 1},
      {"the fields disagree", 0, 0x10, 0x1100, 0x320, 28, 0},
      {"data past the image", 0, 0x10, 0x20FF8, 0, 28, 0},
      {"data past the file", 0, 0x10, 0, 0x1FFF8, 28, 0},
      {"reserved field set", 0x6C6C64, 0x10, 0x1100, 0x300, 28, 0},
      {"no data", 0, 0, 0x1100, 0x300, 28, 0},
      {"over the cap", 0, 0x10, 0x1100, 0x300, (pe::kMaxDebugEntries + 1) * 28, 0, false},
  };
  for (const Row& row : rows) {
    std::vector<uint8_t> file(0x20000, 0);
    pe::PeImage image;
    image.sizeOfHeaders = 0x200;
    image.fileAlignment = 0x200;
    image.sizeOfImage = 0x21000;
    image.directories.resize(16);
    image.directories[pe::kDirectoryDebug] = {0x1000, row.directorySize};
    pe::SectionHeader section;
    section.virtualAddress = 0x1000;
    section.virtualSize = section.rawSize = 0x1FE00;
    section.rawPointer = 0x200;
    image.sections = {section};
    bytes::SpanWriter out(file);
    ASSERT_TRUE(out.U32At(0x200, row.characteristics) && out.U32At(0x200 + 16, row.size) &&
                out.U32(row.address) && out.U32(row.pointer));
    const auto debug = pe::ReadDebugDirectory(image, file, file.size());
    EXPECT_EQ(debug.entries.size(), row.entries) << row.what;
    EXPECT_EQ(debug.readable, row.readable) << row.what;
  }
}

// A fixed-size writer fails the first write that does not fit, writes
// nothing of it, and every write after it fails too.
TEST(ImageReferences, SpanWriterFailsWholeAndForGood) {
  std::vector<uint8_t> buffer(6, 0xAA);
  bytes::SpanWriter out(buffer);
  EXPECT_TRUE(out.U32(0x04030201));
  EXPECT_FALSE(out.U32(0x08070605));
  EXPECT_FALSE(out.Ok());
  EXPECT_FALSE(out.U16(0x0A09));
  EXPECT_FALSE(out.Seek(0));
  EXPECT_EQ(buffer, (std::vector<uint8_t>{1, 2, 3, 4, 0xAA, 0xAA}));
  EXPECT_FALSE(bytes::SpanWriter(buffer).U32At(3, 0));
}

}  // namespace
