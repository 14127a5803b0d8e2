#include "pe/image_rebuild.h"

#include <algorithm>

#include "bytes/align.h"
#include "bytes/byte_writer.h"
#include "pe/pe_checksum.h"
#include "pe/pe_errors.h"
#include "pe/resource_layout.h"

namespace pe {
namespace {

constexpr uint32_t kResourceCharacteristics = 0x40000040;  // initialised data, readable

// True when nothing but the directories in `allowed` (and the certificate
// table, which holds a file offset) refers to section s.
bool OnlyReferencedBy(const PeImage& image, const SectionHeader& s, int allowed) {
  if (s.Contains(image.entryPoint)) return false;
  for (std::size_t i = 0; i < image.directories.size(); ++i) {
    const auto index = static_cast<int>(i);
    const DataDirectory d = image.directories[i];
    if (index == allowed || index == kDirectorySecurity || d.rva == 0) continue;
    if (s.Contains(d.rva)) return false;
  }
  return true;
}

// Index of the section that may be rewritten with the new resources: it
// starts with the resource directory and holds nothing else.
int ReusableResourceSection(const PeImage& image) {
  if (!HasResourceDirectory(image)) return -1;
  const uint32_t rva = image.Directory(kDirectoryResource).rva;
  const int index = image.SectionOfRva(rva);
  if (index < 0) return -1;
  const SectionHeader& s = image.sections[static_cast<std::size_t>(index)];
  if (s.virtualAddress != rva || s.rawSize == 0) return -1;
  return OnlyReferencedBy(image, s, kDirectoryResource) ? index : -1;
}

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

bool HasRoomForSectionHeader(const PeImage& image, std::span<const uint8_t> file) {
  const uint64_t slot = image.SectionHeaderOffset(image.sections.size());
  uint64_t limit = image.sizeOfHeaders;
  for (const SectionHeader& s : image.sections) {
    if (s.rawSize != 0) limit = std::min<uint64_t>(limit, s.rawPointer);
  }
  if (image.sections.size() >= 0xFFFF || slot + kSectionHeaderSize > limit ||
      slot + kSectionHeaderSize > file.size()) {
    return false;
  }
  // Bytes in use behind the table (some linkers keep data there) stay untouched.
  const auto slotBytes = file.subspan(static_cast<std::size_t>(slot), kSectionHeaderSize);
  return std::all_of(slotBytes.begin(), slotBytes.end(), [](uint8_t b) { return b == 0; });
}

struct Plan {
  Placement placement = Placement::NewSection;
  int section = -1;  // the resource section reused or grown, or the new one's index
};

std::optional<Plan> ChoosePlacement(const PeImage& image, std::span<const uint8_t> file,
                                    uint64_t newSize) {
  const int r = ReusableResourceSection(image);
  const auto count = static_cast<int>(image.sections.size());
  const uint64_t end = image.EndOfRawData();
  if (r >= 0) {
    const SectionHeader& s = image.sections[static_cast<std::size_t>(r)];
    const bool last = r == count - 1;
    const uint64_t room =
        last ? UINT64_MAX : image.sections[r + 1].virtualAddress - s.virtualAddress;
    const bool fits = newSize <= s.rawSize && newSize <= room;
    std::optional<Placement> resize;
    if (last && s.RawEnd() == end) resize = Placement::Grow;
    if (r == count - 2) {
      const SectionHeader& reloc = image.sections[static_cast<std::size_t>(r + 1)];
      if (reloc.Name() == ".reloc" && reloc.rawPointer >= s.RawEnd() && reloc.RawEnd() == end &&
          OnlyReferencedBy(image, reloc, kDirectoryBaseReloc)) {
        resize = Placement::GrowMoveReloc;
      }
    }
    // A section that can be resized is also shrunk, rather than left with
    // file space it no longer needs.
    if (fits && (!resize || bytes::AlignUp(newSize, image.fileAlignment) == s.rawSize)) {
      return Plan{Placement::InPlace, r};
    }
    if (resize) return Plan{*resize, r};
  }
  if (!HasRoomForSectionHeader(image, file)) return std::nullopt;
  return Plan{Placement::NewSection, count};
}

void PutDirectory(bytes::ByteWriter& out, const PeImage& image, int index, DataDirectory d) {
  if (static_cast<std::size_t>(index) >= image.directories.size()) return;
  out.Seek(image.DirectoryOffset(index));
  out.U32(d.rva);
  out.U32(d.size);
}

// Appends the bytes behind the image, without a certificate table that lies among them.
void AppendOverlay(std::span<const uint8_t> file, const PeImage& image, std::vector<uint8_t>& out) {
  const uint64_t end = image.EndOfRawData();
  if (end >= file.size()) return;
  auto overlay = file.subspan(static_cast<std::size_t>(end));
  const DataDirectory cert = image.Directory(kDirectorySecurity);
  if (cert.size != 0 && cert.rva >= end && cert.rva <= file.size() && cert.size <= file.size() - cert.rva) {
    const auto before = overlay.first(static_cast<std::size_t>(cert.rva - end));
    out.insert(out.end(), before.begin(), before.end());
    overlay = file.subspan(std::size_t{cert.rva} + cert.size);
  }
  out.insert(out.end(), overlay.begin(), overlay.end());
}

// The new image from the plan: sections before the resource section are
// copied as they stand; what follows depends on the placement.
struct Assembly {
  std::vector<uint8_t> out;
  std::vector<SectionHeader> sections;
  uint32_t resourceRva = 0;
  int64_t initializedDelta = 0;
};

// The first section-aligned address behind the headers and every section:
// the image's size in memory.
uint64_t AddressBehind(const PeImage& image, const std::vector<SectionHeader>& sections) {
  uint64_t top = image.sizeOfHeaders;
  for (const SectionHeader& s : sections) {
    top = std::max<uint64_t>(top, uint64_t{s.virtualAddress} + s.MemorySize());
  }
  return bytes::AlignUp(top, image.sectionAlignment);
}

// Every section, moved or grown, must end inside the 32-bit address space.
bool FitsAddressSpace(const std::vector<SectionHeader>& sections, uint32_t sectionAlignment) {
  return std::all_of(sections.begin(), sections.end(), [&](const SectionHeader& s) {
    return bytes::AlignUp(uint64_t{s.virtualAddress} + s.MemorySize(), sectionAlignment) <= 0xFFFFFFFFu;
  });
}

void PlaceResources(std::span<const uint8_t> file, const PeImage& image, const Plan& plan,
                    const std::vector<uint8_t>& resources, Assembly& a) {
  const uint32_t fa = image.fileAlignment;
  const auto index = static_cast<std::size_t>(plan.section);
  const uint64_t end = image.EndOfRawData();
  if (plan.placement == Placement::InPlace) {
    SectionHeader& s = a.sections[index];
    a.out.assign(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(end));
    std::fill_n(a.out.begin() + s.rawPointer, s.rawSize, 0);
    std::copy(resources.begin(), resources.end(), a.out.begin() + s.rawPointer);
    // Never shrink: the next section must still begin where this one ends.
    s.virtualSize = std::max(s.virtualSize, static_cast<uint32_t>(resources.size()));
    return;
  }
  // A new section starts empty behind the image's raw data, and then grows
  // like the resource section that is the last one.
  if (plan.placement == Placement::NewSection) {
    SectionHeader& s = a.sections.emplace_back();
    std::copy_n(".rsrc", 5, s.name);
    s.virtualAddress = a.resourceRva;
    s.rawPointer = static_cast<uint32_t>(bytes::AlignUp(end, fa));
    s.characteristics = kResourceCharacteristics;
  }
  SectionHeader& s = a.sections[index];
  const auto before = file.first(static_cast<std::size_t>(std::min<uint64_t>(s.rawPointer, end)));
  a.out.assign(before.begin(), before.end());
  a.out.resize(s.rawPointer, 0);
  const uint32_t oldRaw = s.rawSize;
  s.virtualSize = static_cast<uint32_t>(resources.size());
  s.rawSize = static_cast<uint32_t>(bytes::AlignUp(resources.size(), fa));
  a.out.insert(a.out.end(), resources.begin(), resources.end());
  a.out.resize(std::size_t{s.rawPointer} + s.rawSize, 0);
  a.initializedDelta = int64_t{s.rawSize} - oldRaw;
  if (plan.placement == Placement::GrowMoveReloc) {
    SectionHeader& reloc = a.sections[index + 1];
    const auto relocBytes = file.subspan(reloc.rawPointer, reloc.rawSize);
    reloc.rawPointer = static_cast<uint32_t>(a.out.size());
    reloc.virtualAddress = static_cast<uint32_t>(
        bytes::AlignUp(uint64_t{s.virtualAddress} + s.virtualSize, image.sectionAlignment));
    a.out.insert(a.out.end(), relocBytes.begin(), relocBytes.end());
  }
}

void FinishHeaders(const PeImage& image, const std::vector<uint8_t>& resources, uint64_t oldEnd,
                   uint64_t newEnd, Assembly& a) {
  bytes::ByteWriter out{std::span<uint8_t>(a.out)};
  out.Seek(image.SectionHeaderOffset(0));
  for (const SectionHeader& s : a.sections) SectionHeader::Fields(out, s);
  out.Seek(image.at.numberOfSections);
  out.U16(static_cast<uint16_t>(a.sections.size()));
  if (image.pointerToSymbolTable >= oldEnd) {
    out.Seek(image.at.pointerToSymbolTable);
    out.U32(static_cast<uint32_t>(image.pointerToSymbolTable + newEnd - oldEnd));
  }
  out.Seek(image.at.sizeOfImage);
  out.U32(static_cast<uint32_t>(AddressBehind(image, a.sections)));
  // A stub that understated its initialised data must not wrap below zero.
  out.Seek(image.at.sizeOfInitializedData);
  out.U32(static_cast<uint32_t>(std::max<int64_t>(0, image.sizeOfInitializedData + a.initializedDelta)));
  PutDirectory(out, image, kDirectoryResource,
               {a.resourceRva, static_cast<uint32_t>(resources.size())});
  const DataDirectory certificates = image.Directory(kDirectorySecurity);
  if (certificates.rva != 0 || certificates.size != 0) {
    PutDirectory(out, image, kDirectorySecurity, {0, 0});
  }
  const DataDirectory relocs = image.Directory(kDirectoryBaseReloc);
  if (relocs.rva != 0 && a.sections.size() == image.sections.size()) {
    for (std::size_t i = 0; i < a.sections.size(); ++i) {
      const SectionHeader& before = image.sections[i];
      if (before.Contains(relocs.rva)) {
        const uint32_t moved = relocs.rva - before.virtualAddress + a.sections[i].virtualAddress;
        PutDirectory(out, image, kDirectoryBaseReloc, {moved, relocs.size});
      }
    }
  }
  if (image.checkSum != 0) {
    out.Seek(image.at.checkSum);
    out.U32(ComputeChecksum(a.out, image.at.checkSum));
  }
}

}  // namespace

std::optional<std::vector<uint8_t>> RebuildImage(std::span<const uint8_t> file, const PeImage& image,
                                          const std::vector<ResourceLeaf>& leaves,
                                          uint32_t* error) {
  // Without a slot for the resource directory the new section could not be
  // found by anyone; refusing beats reporting an update that is not there.
  if (!SectionsConsistent(image, file.size()) ||
      image.directories.size() <= kDirectoryResource) {
    return Fail(error, platform::kErrorInvalidData);
  }
  const auto probe = LayoutResources(leaves, 0);
  if (!probe) return Fail(error, platform::kErrorNotEnoughMemory);
  const auto plan = ChoosePlacement(image, file, probe->size());
  if (!plan) return Fail(error, kErrorInsufficientBuffer);
  Assembly a;
  a.sections = image.sections;
  if (plan->placement == Placement::NewSection) {
    const uint64_t top = AddressBehind(image, image.sections);
    if (top + probe->size() > 0xFFFFFFFFu) return Fail(error, platform::kErrorInvalidData);
    a.resourceRva = static_cast<uint32_t>(top);
  } else {
    a.resourceRva = image.sections[static_cast<std::size_t>(plan->section)].virtualAddress;
  }
  const auto resources = LayoutResources(leaves, a.resourceRva);
  if (!resources) return Fail(error, platform::kErrorNotEnoughMemory);
  PlaceResources(file, image, *plan, *resources, a);
  const uint64_t newEnd = a.out.size();
  if (!FitsAddressSpace(a.sections, image.sectionAlignment) || newEnd > 0xFFFFFFFFu) {
    return Fail(error, platform::kErrorInvalidData);
  }
  AppendOverlay(file, image, a.out);
  FinishHeaders(image, *resources, image.EndOfRawData(), newEnd, a);
  return std::move(a.out);
}

}  // namespace pe
