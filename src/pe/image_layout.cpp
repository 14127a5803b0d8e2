#include "pe/image_layout.h"

#include <algorithm>

#include "bytes/align.h"
#include "bytes/byte_reader.h"
#include "pe/pe_errors.h"
#include "pe/resource_tree.h"

namespace pe {
namespace {

constexpr uint32_t kResourceCharacteristics = 0x40000040;  // initialised data, readable
constexpr uint32_t kCode = 0x00000020;
constexpr uint32_t kDiscardable = 0x02000000;
constexpr uint32_t kExecute = 0x20000000;
constexpr uint64_t kAddressSpace = uint64_t{1} << 32;

// True when nothing but the directory `allowed` (and the certificate table,
// which holds a file offset) refers to section s, and no debug data lies in it.
bool OnlyReferencedBy(const PeImage& image, const std::vector<DebugEntry>& debug,
                      const SectionHeader& s, int allowed) {
  if (s.Contains(image.entryPoint)) return false;
  for (std::size_t i = 0; i < image.directories.size(); ++i) {
    const auto index = static_cast<int>(i);
    const DataDirectory d = image.directories[i];
    if (index == allowed || index == kDirectorySecurity || d.rva == 0) continue;
    if (s.Contains(d.rva)) return false;
  }
  return std::none_of(debug.begin(), debug.end(), [&](const DebugEntry& e) {
    return (e.addressOfRawData != 0 && s.Contains(e.addressOfRawData)) ||
           (s.rawSize != 0 && e.pointerToRawData >= s.rawPointer &&
            e.pointerToRawData < s.RawEnd());
  });
}

// The pages the base relocations patch, as their blocks name them (as far
// as the blocks can be read).
std::vector<uint32_t> RelocatedPages(const PeImage& image, std::span<const uint8_t> file) {
  std::vector<uint32_t> pages;
  const DataDirectory d = image.Directory(kDirectoryBaseReloc);
  const auto start = d.rva != 0 ? image.RvaToOffset(d.rva, d.size, file.size()) : std::nullopt;
  if (!start) return pages;
  bytes::ByteReader in(file.subspan(static_cast<std::size_t>(*start), d.size));
  while (in.Has(8)) {
    const uint32_t page = in.U32();
    const uint32_t size = in.U32();
    if (size < 8) break;
    pages.push_back(page);
    in.Skip(size - 8);
  }
  return pages;
}

// A section whose address may change: the base relocations, which only their
// directory names, or data the loader may discard (debug information), which
// no code can refer to; in neither may the relocations patch anything.
bool Movable(const PeImage& image, const std::vector<DebugEntry>& debug,
             const std::vector<uint32_t>& relocated, const SectionHeader& s) {
  const bool discardableData =
      (s.characteristics & kDiscardable) != 0 && (s.characteristics & (kCode | kExecute)) == 0;
  const bool patched = std::any_of(relocated.begin(), relocated.end(), [&](uint32_t page) {
    return page < s.virtualAddress + uint64_t{s.MemorySize()} &&
           s.virtualAddress < page + uint64_t{0x1000};
  });
  return (s.Name() == ".reloc" || discardableData) && !patched &&
         OnlyReferencedBy(image, debug, s, kDirectoryBaseReloc);
}

// Index of the section that may be rewritten with the new resources: it
// starts with the resource directory and holds nothing else.
int ReusableResourceSection(const PeImage& image, const std::vector<DebugEntry>& debug) {
  if (!HasResourceDirectory(image)) return -1;
  const uint32_t rva = image.Directory(kDirectoryResource).rva;
  const int index = image.SectionOfRva(rva);
  if (index < 0) return -1;
  const SectionHeader& s = image.sections[static_cast<std::size_t>(index)];
  if (s.virtualAddress != rva || s.rawSize == 0) return -1;
  return OnlyReferencedBy(image, debug, s, kDirectoryResource) ? index : -1;
}

ImageLayout StartLayout(const PeImage& image) {
  ImageLayout layout;
  layout.before = layout.after = image.sections;
  layout.sizeOfHeaders = image.sizeOfHeaders;
  layout.oldEnd = image.EndOfRawData();
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
std::optional<ImageLayout> Resize(const PeImage& image, std::size_t r, std::size_t fixed,
                                  uint64_t size) {
  ImageLayout layout = StartLayout(image);
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

std::optional<ImageLayout> PlanResize(const PeImage& image, std::span<const uint8_t> file,
                                      const std::vector<DebugEntry>& debug, std::size_t r,
                                      uint64_t size) {
  const SectionHeader& s = image.sections[r];
  const std::size_t count = image.sections.size();
  const std::vector<uint32_t> relocated = RelocatedPages(image, file);
  std::size_t fixed = r + 1;
  while (fixed < count && Movable(image, debug, relocated, image.sections[fixed])) ++fixed;
  const uint64_t room = r + 1 < count ? image.sections[r + 1].virtualAddress - s.virtualAddress
                                      : kAddressSpace;
  // A section nothing needs to keep in place is cut to its new size too,
  // rather than left with file space it no longer needs.
  if (size <= s.rawSize && size <= room &&
      (fixed < count || bytes::AlignUp(size, image.fileAlignment) == s.rawSize)) {
    ImageLayout layout = StartLayout(image);
    layout.resource = r;
    layout.reused = true;
    layout.resourceStart = s.rawPointer;
    layout.resourceEnd = s.RawEnd();
    layout.newEnd = layout.oldEnd;
    layout.after[r].virtualSize = std::max(s.virtualSize, static_cast<uint32_t>(size));
    return layout;
  }
  if (size <= room && size > s.rawSize) {
    if (auto layout = Resize(image, r, r + 1, size)) return layout;
  }
  return Resize(image, r, fixed, size);
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
                                          uint64_t size, uint32_t* error) {
  ImageLayout layout = StartLayout(image);
  const auto headers = HeadersWithRoom(image, file, layout.firstRaw);
  if (!headers) return Fail(error, kErrorInsufficientBuffer);
  layout.sizeOfHeaders = *headers;
  if (*headers > layout.firstRaw) {
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
  if (offset >= oldEnd) return newEnd + (offset - oldEnd);
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
                                      const std::vector<DebugEntry>& debug, uint64_t resourceSize,
                                      uint32_t* error) {
  const int r = ReusableResourceSection(image, debug);
  if (r >= 0) {
    if (auto layout = PlanResize(image, file, debug, static_cast<std::size_t>(r), resourceSize)) {
      return layout;
    }
  }
  return PlanNewSection(image, file, resourceSize, error);
}

}  // namespace pe
