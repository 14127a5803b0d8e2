#include "pe/image_rebuild.h"

#include <algorithm>

#include "bytes/align.h"
#include "bytes/byte_writer.h"
#include "pe/debug_directory.h"
#include "pe/image_layout.h"
#include "pe/pe_errors.h"
#include "pe/resource_layout.h"

namespace pe {
namespace {

// The headers must hold the section table; sections must lie in ascending
// address order, their raw data behind the headers, inside the file and
// apart from each other.
bool SectionsConsistent(const PeImage& image, uint64_t fileSize) {
  if (image.sizeOfHeaders > fileSize ||
      image.SectionHeaderOffset(image.sections.size()) > image.sizeOfHeaders) {
    return false;
  }
  std::vector<std::pair<uint64_t, uint64_t>> raw;
  for (std::size_t i = 0; i < image.sections.size(); ++i) {
    const SectionHeader& s = image.sections[i];
    if (i > 0 && s.virtualAddress <= image.sections[i - 1].virtualAddress) return false;
    if (s.rawSize == 0) continue;
    if (s.rawPointer < image.sizeOfHeaders || s.RawEnd() > fileSize) return false;
    raw.emplace_back(s.rawPointer, s.RawEnd());
  }
  std::sort(raw.begin(), raw.end());
  for (std::size_t i = 1; i < raw.size(); ++i) {
    if (raw[i].first < raw[i - 1].second) return false;
  }
  return true;
}

// Every section, moved or grown, must end inside the 32-bit address space.
bool FitsAddressSpace(const std::vector<SectionHeader>& sections, uint32_t sectionAlignment) {
  return std::all_of(sections.begin(), sections.end(), [&](const SectionHeader& s) {
    const uint64_t end = uint64_t{s.virtualAddress} + s.MemorySize();
    return bytes::AlignUp(end, sectionAlignment) <= 0xFFFFFFFFu;
  });
}

void CopyRange(std::span<const uint8_t> from, uint64_t start, uint64_t end, uint64_t to,
               std::vector<uint8_t>& out) {
  if (end <= start) return;
  std::copy(from.begin() + static_cast<std::ptrdiff_t>(start),
            from.begin() + static_cast<std::ptrdiff_t>(end),
            out.begin() + static_cast<std::ptrdiff_t>(to));
}

// The headers stay, every piece of section data goes where the layout puts
// it, and the resources into their section.
std::vector<uint8_t> CopySections(std::span<const uint8_t> file, const ImageLayout& layout,
                                  const std::vector<uint8_t>& resources) {
  std::vector<uint8_t> out(static_cast<std::size_t>(layout.newEnd), 0);
  CopyRange(file, 0, layout.firstRaw, 0, out);
  CopyRange(file, layout.firstRaw, layout.resourceStart, layout.MapOffset(layout.firstRaw), out);
  CopyRange(file, layout.resourceEnd, layout.oldEnd, layout.MapOffset(layout.resourceEnd), out);
  const SectionHeader& s = layout.after[layout.resource];
  std::copy(resources.begin(), resources.end(), out.begin() + s.rawPointer);
  return out;
}

void PutDirectory(bytes::ByteWriter& out, const PeImage& image, int index, DataDirectory d) {
  if (static_cast<std::size_t>(index) >= image.directories.size()) return;
  out.Seek(image.DirectoryOffset(index));
  out.U32(d.rva);
  out.U32(d.size);
}

void PutU32(bytes::ByteWriter& out, uint64_t at, uint32_t value) {
  out.Seek(static_cast<std::size_t>(at));
  out.U32(value);
}

// Every field that holds a file offset or an address of something that moved.
void RemapFields(const PeImage& image, const ImageLayout& layout,
                 const std::vector<DebugEntry>& debug, bytes::ByteWriter& out) {
  if (image.pointerToSymbolTable != 0) {
    PutU32(out, image.at.pointerToSymbolTable,
           static_cast<uint32_t>(layout.MapOffset(image.pointerToSymbolTable)));
  }
  for (std::size_t i = 0; i < image.directories.size(); ++i) {
    const auto index = static_cast<int>(i);
    const DataDirectory d = image.directories[i];
    if (index == kDirectoryResource || index == kDirectorySecurity || d.rva == 0) continue;
    PutDirectory(out, image, index, {layout.MapRva(d.rva), d.size});
  }
  for (const DebugEntry& e : debug) {
    const uint64_t at = layout.MapOffset(e.at);
    if (e.addressOfRawData != 0) {
      PutU32(out, at + DebugEntry::kAddressField, layout.MapRva(e.addressOfRawData));
    }
    if (e.pointerToRawData != 0) {
      PutU32(out, at + DebugEntry::kPointerField,
             static_cast<uint32_t>(layout.MapOffset(e.pointerToRawData)));
    }
  }
}

void FinishHeaders(const PeImage& image, const ImageLayout& layout,
                   const std::vector<DebugEntry>& debug, uint32_t resourceSize,
                   std::vector<uint8_t>& file) {
  bytes::ByteWriter out{std::span<uint8_t>(file)};
  out.Seek(image.SectionHeaderOffset(0));
  for (const SectionHeader& s : layout.after) SectionHeader::Fields(out, s);
  out.Seek(image.at.numberOfSections);
  out.U16(static_cast<uint16_t>(layout.after.size()));
  PutU32(out, image.at.sizeOfImage, static_cast<uint32_t>(AddressBehind(image, layout.after)));
  PutU32(out, image.at.sizeOfHeaders, layout.sizeOfHeaders);
  const SectionHeader& s = layout.after[layout.resource];
  const int64_t initialized =
      int64_t{s.rawSize} - (layout.reused ? layout.before[layout.resource].rawSize : 0);
  // A stub that understated its initialised data must not wrap below zero.
  PutU32(out, image.at.sizeOfInitializedData,
         static_cast<uint32_t>(std::max<int64_t>(0, image.sizeOfInitializedData + initialized)));
  RemapFields(image, layout, debug, out);
  PutDirectory(out, image, kDirectoryResource, {s.virtualAddress, resourceSize});
  const DataDirectory certificates = image.Directory(kDirectorySecurity);
  if (certificates.rva != 0 || certificates.size != 0) {
    PutDirectory(out, image, kDirectorySecurity, {0, 0});
  }
}

// The bytes behind the image, without a certificate table that lies among them.
std::vector<FileRange> OverlayRanges(const PeImage& image, uint64_t fileSize) {
  const uint64_t end = image.EndOfRawData();
  if (end >= fileSize) return {};
  const DataDirectory cert = image.Directory(kDirectorySecurity);
  if (cert.size != 0 && cert.rva >= end && cert.rva <= fileSize &&
      cert.size <= fileSize - cert.rva) {
    const uint64_t after = uint64_t{cert.rva} + cert.size;
    return {{end, cert.rva - end}, {after, fileSize - after}};
  }
  return {{end, fileSize - end}};
}

}  // namespace

std::optional<RebuiltImage> RebuildImage(std::span<const uint8_t> held, uint64_t fileSize,
                                         const PeImage& image,
                                         const std::vector<ResourceLeaf>& leaves, uint32_t* error) {
  // Without a slot for the resource directory the new section could not be
  // found by anyone; refusing beats reporting an update that is not there.
  if (!SectionsConsistent(image, fileSize) || held.size() < image.EndOfRawData() ||
      image.directories.size() <= kDirectoryResource) {
    return Fail(error, platform::kErrorInvalidData);
  }
  const auto probe = LayoutResources(leaves, 0);
  if (!probe) return Fail(error, platform::kErrorNotEnoughMemory);
  const std::vector<DebugEntry> debug = ReadDebugDirectory(image, held);
  const auto layout = PlanLayout(image, held, debug, probe->size(), error);
  if (!layout) return std::nullopt;
  const auto resources = LayoutResources(leaves, layout->after[layout->resource].virtualAddress);
  if (!resources) return Fail(error, platform::kErrorNotEnoughMemory);
  if (!FitsAddressSpace(layout->after, image.sectionAlignment) || layout->newEnd > 0xFFFFFFFFu) {
    return Fail(error, platform::kErrorInvalidData);
  }
  RebuiltImage rebuilt;
  rebuilt.image = CopySections(held, *layout, *resources);
  FinishHeaders(image, *layout, debug, static_cast<uint32_t>(resources->size()), rebuilt.image);
  rebuilt.overlay = OverlayRanges(image, fileSize);
  if (image.checkSum != 0) rebuilt.checksumField = image.at.checkSum;
  return rebuilt;
}

}  // namespace pe
