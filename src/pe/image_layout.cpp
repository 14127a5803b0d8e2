#include "pe/image_layout.h"

#include <algorithm>

#include "bytes/align.h"
#include "bytes/byte_reader.h"
#include "pe/pe_errors.h"
#include "pe/resource_tree.h"
#include "platform/console.h"

namespace pe {
namespace {

constexpr uint32_t kResourceCharacteristics = 0x40000040;  // initialised data, readable
constexpr uint32_t kCode = 0x00000020;
constexpr uint32_t kDiscardable = 0x02000000;
constexpr uint32_t kExecute = 0x20000000;
constexpr uint64_t kAddressSpace = uint64_t{1} << 32;

// A section whose address may change: the base relocations, or data the
// loader may discard (debug information), when nothing the rebuild does not
// rewrite points into it.
bool Movable(const ImageUse& use, const PeImage& image, std::size_t i) {
  const SectionHeader& s = image.sections[i];
  const bool discardableData =
      (s.characteristics & kDiscardable) != 0 && (s.characteristics & (kCode | kExecute)) == 0;
  return (s.Name() == ".reloc" || discardableData) && !use.sections[i].addressesPinned;
}

// Index of the section that may be rewritten with the new resources: it
// starts with the resource directory and nothing else points into it or
// lies in its file data.
int ReusableResourceSection(const PeImage& image, const ImageUse& use) {
  if (!HasResourceDirectory(image) || !use.scan.Complete()) return -1;
  const uint32_t rva = image.Directory(kDirectoryResource).rva;
  const int index = image.SectionOfRva(rva);
  if (index < 0) return -1;
  const SectionHeader& s = image.sections[static_cast<std::size_t>(index)];
  if (s.virtualAddress != rva || s.rawSize == 0) return -1;
  return use.sections[static_cast<std::size_t>(index)].bytesPinned ? -1 : index;
}

ImageLayout StartLayout(const PeImage& image, uint64_t fileSize) {
  ImageLayout layout;
  layout.before = layout.after = image.sections;
  layout.sizeOfHeaders = image.sizeOfHeaders;
  // What the loader maps past a section's raw size moves with the section,
  // and no new section lands on it.
  layout.oldEnd = image.ExtentEnd(fileSize);
  const DataDirectory cert = image.Directory(kDirectorySecurity);
  if (cert.size != 0 && cert.rva >= layout.oldEnd && cert.rva <= fileSize &&
      cert.size <= fileSize - cert.rva) {
    layout.certificates = {cert.rva, cert.size};
  }
  layout.firstRaw = layout.oldEnd;
  for (const SectionHeader& s : image.sections) {
    if (s.rawSize != 0) layout.firstRaw = std::min<uint64_t>(layout.firstRaw, s.rawPointer);
  }
  layout.resourceStart = layout.resourceEnd = layout.oldEnd;
  return layout;
}

// Moves the file data of every section as the layout's pieces say, with
// the object-file relocations and line numbers an image may still carry.
void MoveFileData(ImageLayout& layout) {
  const auto map = [&layout](uint32_t& offset) {
    if (offset != 0) offset = static_cast<uint32_t>(layout.MapOffset(offset));
  };
  for (std::size_t i = 0; i < layout.before.size(); ++i) {
    SectionHeader& s = layout.after[i];
    map(s.relocationsPointer);
    map(s.lineNumbersPointer);
    if (s.rawSize != 0 && !(layout.reused && i == layout.resource)) map(s.rawPointer);
  }
}

// The resource section r resized to size bytes, the sections from r + 1 up
// to (not including) `fixed` packed behind it, when all that ends before the
// section `fixed`; nullopt otherwise.
std::optional<ImageLayout> Resize(const PeImage& image, uint64_t fileSize, std::size_t r,
                                  std::size_t fixed, uint64_t size) {
  ImageLayout layout = StartLayout(image, fileSize);
  layout.resource = r;
  layout.reused = true;
  const SectionHeader& old = image.sections[r];
  SectionHeader& s = layout.after[r];
  s.rawSize = static_cast<uint32_t>(bytes::AlignUp(size, image.fileAlignment));
  const bool keepsNext = fixed == r + 1 && fixed < image.sections.size();
  s.virtualSize = keepsNext ? std::max<uint32_t>(old.virtualSize, static_cast<uint32_t>(size))
                            : static_cast<uint32_t>(size);
  uint64_t top = s.virtualAddress + uint64_t{s.MemorySize()};
  for (std::size_t i = r + 1; i < fixed; ++i) {
    const uint64_t next = bytes::AlignUp(top, image.sectionAlignment);
    layout.after[i].virtualAddress = static_cast<uint32_t>(std::min(next, kAddressSpace - 1));
    top = layout.after[i].virtualAddress + uint64_t{layout.after[i].MemorySize()};
  }
  const uint64_t limit = fixed < image.sections.size() ? image.sections[fixed].virtualAddress
                                                       : kAddressSpace;
  if (bytes::AlignUp(top, image.sectionAlignment) > limit) return std::nullopt;
  layout.resourceStart = old.rawPointer;
  layout.resourceEnd = old.RawEnd();
  // Later data moves by whole alignment units, never into the new raw data.
  const uint32_t fa = image.fileAlignment;
  layout.growth = s.rawSize >= old.rawSize
                      ? static_cast<int64_t>(bytes::AlignUp(s.rawSize - old.rawSize, fa))
                      : -static_cast<int64_t>((old.rawSize - s.rawSize) & ~uint64_t{fa - 1});
  layout.newEnd = static_cast<uint64_t>(static_cast<int64_t>(layout.oldEnd) + layout.growth);
  MoveFileData(layout);
  return layout;
}

std::optional<ImageLayout> PlanResize(const PeImage& image, uint64_t fileSize,
                                      const ImageUse& use, std::size_t r, uint64_t size) {
  const SectionHeader& s = image.sections[r];
  const std::size_t count = image.sections.size();
  std::size_t fixed = r + 1;
  while (fixed < count && Movable(use, image, fixed)) ++fixed;
  const uint64_t room = r + 1 < count ? image.sections[r + 1].virtualAddress - s.virtualAddress
                                      : kAddressSpace;
  // A section nothing needs to keep in place is cut to its new size too,
  // rather than left with file space it no longer needs.
  if (size <= s.rawSize && size <= room &&
      (fixed < count || bytes::AlignUp(size, image.fileAlignment) == s.rawSize)) {
    ImageLayout layout = StartLayout(image, fileSize);
    layout.resource = r;
    layout.reused = true;
    layout.resourceStart = s.rawPointer;
    layout.resourceEnd = s.RawEnd();
    layout.newEnd = layout.oldEnd;
    layout.after[r].virtualSize = std::max(s.virtualSize, static_cast<uint32_t>(size));
    return layout;
  }
  if (size <= room && size > s.rawSize) {
    if (auto layout = Resize(image, fileSize, r, r + 1, size)) return layout;
  }
  return Resize(image, fileSize, r, fixed, size);
}

// Room for one more section header: in the headers as they are, or in
// headers grown up to the first section's address. Bytes in use behind the
// table (some linkers keep data there) stay untouched.
std::optional<uint32_t> HeadersWithRoom(const PeImage& image, std::span<const uint8_t> file,
                                        uint64_t firstRaw) {
  const uint64_t slot = image.SectionHeaderOffset(image.sections.size());
  const uint64_t slotEnd = slot + kSectionHeaderSize;
  if (image.sections.size() >= 0xFFFF) return std::nullopt;
  const uint64_t inFile = std::min({slotEnd, firstRaw, uint64_t{file.size()}});
  for (uint64_t i = slot; i < inFile; ++i) {
    if (file[static_cast<std::size_t>(i)] != 0) return std::nullopt;
  }
  if (slotEnd <= std::min<uint64_t>(image.sizeOfHeaders, firstRaw)) return image.sizeOfHeaders;
  const uint64_t grown = bytes::AlignUp(slotEnd, image.fileAlignment);
  const uint64_t firstAddress = image.sections.empty()
                                    ? image.sectionAlignment
                                    : uint64_t{image.sections.front().virtualAddress};
  if (grown > firstAddress) return std::nullopt;
  return static_cast<uint32_t>(std::max<uint64_t>(grown, image.sizeOfHeaders));
}

std::optional<ImageLayout> PlanNewSection(const PeImage& image, std::span<const uint8_t> file,
                                          uint64_t fileSize, const ImageUse& use, uint64_t size,
                                          std::string* cause, uint32_t* error) {
  ImageLayout layout = StartLayout(image, fileSize);
  const auto headers = HeadersWithRoom(image, file, layout.firstRaw);
  if (!headers) return Fail(error, kErrorInsufficientBuffer);
  layout.sizeOfHeaders = *headers;
  if (*headers > layout.firstRaw) {
    // Growing the headers moves every section's file data: only when every
    // file offset the image holds is known.
    if (!use.scan.Complete()) {
      if (cause != nullptr) {
        *cause = platform::FormatText("the stub's %s cannot be read whole", {use.scan.unreadable});
      }
      return Fail(error, kErrorInsufficientBuffer);
    }
    layout.headerShift = bytes::AlignUp(*headers - layout.firstRaw, image.fileAlignment);
  }
  const uint64_t address = AddressBehind(image, image.sections);
  if (address + size > kAddressSpace - 1) return Fail(error, platform::kErrorInvalidData);
  SectionHeader& s = layout.after.emplace_back();
  std::copy_n(".rsrc", 5, s.name);
  s.virtualAddress = static_cast<uint32_t>(address);
  s.virtualSize = static_cast<uint32_t>(size);
  s.rawPointer = static_cast<uint32_t>(
      std::min(bytes::AlignUp(layout.oldEnd + layout.headerShift, image.fileAlignment),
               kAddressSpace - 1));
  s.rawSize = static_cast<uint32_t>(bytes::AlignUp(size, image.fileAlignment));
  s.characteristics = kResourceCharacteristics;
  layout.resource = layout.after.size() - 1;
  layout.newEnd = s.RawEnd();
  MoveFileData(layout);
  return layout;
}

}  // namespace

uint64_t ImageLayout::MapOffset(uint64_t offset) const {
  if (offset < firstRaw) return offset;
  if (offset >= oldEnd) {
    // The overlay follows the new image, without the certificate table.
    const uint64_t dropped =
        offset >= certificates.offset + certificates.length && certificates.length != 0
            ? certificates.length
            : 0;
    return newEnd + (offset - oldEnd) - dropped;
  }
  const int64_t shift = static_cast<int64_t>(headerShift) + (offset >= resourceEnd ? growth : 0);
  return static_cast<uint64_t>(static_cast<int64_t>(offset) + shift);
}

uint32_t ImageLayout::MapRva(uint32_t rva) const {
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (before[i].Contains(rva)) return rva - before[i].virtualAddress + after[i].virtualAddress;
  }
  return rva;
}

uint64_t AddressBehind(const PeImage& image, const std::vector<SectionHeader>& sections) {
  uint64_t top = image.sizeOfHeaders;
  for (const SectionHeader& s : sections) {
    top = std::max<uint64_t>(top, uint64_t{s.virtualAddress} + s.MemorySize());
  }
  return bytes::AlignUp(top, image.sectionAlignment);
}

std::optional<ImageLayout> PlanLayout(const PeImage& image, std::span<const uint8_t> file,
                                      uint64_t fileSize, const ImageUse& use,
                                      uint64_t resourceSize, std::string* cause,
                                      uint32_t* error) {
  const int r = ReusableResourceSection(image, use);
  if (r >= 0) {
    if (auto layout =
            PlanResize(image, fileSize, use, static_cast<std::size_t>(r), resourceSize)) {
      return layout;
    }
  }
  return PlanNewSection(image, file, fileSize, use, resourceSize, cause, error);
}

}  // namespace pe
