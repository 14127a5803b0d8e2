#include "pe/pe_image.h"

#include <algorithm>
#include <cstring>

#include "pe/byte_io.h"
#include "pe/pe_errors.h"

namespace pe {
namespace {

constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint32_t kMaxDirectories = 16;

bool IsPowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

std::optional<PeImage> Fail(uint32_t* error, uint32_t code) {
  SetError(error, code);
  return std::nullopt;
}

// Reads the fields of the optional header that the layer uses.
bool ReadOptionalHeader(std::span<const uint8_t> file, uint16_t optionalSize, PeImage& image) {
  const uint32_t at = image.optionalHeaderOffset;
  const auto magic = ReadU16(file, at);
  if (!magic || (*magic != kMagicPe32 && *magic != kMagicPe32Plus)) return false;
  image.is64 = *magic == kMagicPe32Plus;
  const uint32_t countField = image.is64 ? 108 : 92;
  image.directoriesOffset = at + countField + 4;
  if (optionalSize < countField + 4 || !InRange(file.size(), at, optionalSize)) return false;
  image.sizeOfInitializedData = *ReadU32(file, at + kOptSizeOfInitializedData);
  image.entryPoint = *ReadU32(file, at + kOptAddressOfEntryPoint);
  image.sectionAlignment = *ReadU32(file, at + 32);
  image.fileAlignment = *ReadU32(file, at + 36);
  image.sizeOfImage = *ReadU32(file, at + kOptSizeOfImage);
  image.sizeOfHeaders = *ReadU32(file, at + 60);
  image.checkSum = *ReadU32(file, at + kOptCheckSum);
  // The loader looks at no more than 16 directories, whatever the count says.
  const uint32_t count = std::min(*ReadU32(file, at + countField), kMaxDirectories);
  if (countField + 4 + uint64_t{count} * 8 > optionalSize) return false;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t entry = image.directoriesOffset + i * 8;
    image.directories.push_back({*ReadU32(file, entry), *ReadU32(file, entry + 4)});
  }
  return IsPowerOfTwo(image.sectionAlignment) && IsPowerOfTwo(image.fileAlignment) &&
         image.fileAlignment <= image.sectionAlignment && image.sectionAlignment <= 0x10000000;
}

bool ReadSections(std::span<const uint8_t> file, uint16_t count, PeImage& image) {
  if (!InRange(file.size(), image.sectionTableOffset, uint64_t{count} * kSectionHeaderSize)) {
    return false;
  }
  image.sections.reserve(count);
  for (uint16_t i = 0; i < count; ++i) {
    const uint32_t at = image.SectionHeaderOffset(i);
    SectionHeader section;
    std::memcpy(section.name, file.data() + at, sizeof section.name);
    section.virtualSize = *ReadU32(file, at + 8);
    section.virtualAddress = *ReadU32(file, at + 12);
    section.rawSize = *ReadU32(file, at + 16);
    section.rawPointer = *ReadU32(file, at + 20);
    section.characteristics = *ReadU32(file, at + 36);
    image.sections.push_back(section);
  }
  return true;
}

}  // namespace

std::string SectionHeader::Name() const {
  return std::string(name, strnlen(name, sizeof name));
}

std::optional<PeImage> PeImage::Parse(std::span<const uint8_t> file, uint32_t* error) {
  const auto mz = ReadU16(file, 0);
  const auto peOffset = ReadU32(file, 0x3C);
  if (!mz || *mz != 0x5A4D || !peOffset) return Fail(error, platform::kErrorBadExeFormat);
  const auto signature = ReadU32(file, *peOffset);
  if (!signature || *signature != 0x00004550 || !InRange(file.size(), *peOffset + 4ull, 20)) {
    return Fail(error, platform::kErrorBadExeFormat);
  }
  PeImage image;
  image.fileHeaderOffset = *peOffset + 4;
  const uint16_t sectionCount = *ReadU16(file, image.fileHeaderOffset + 2);
  image.pointerToSymbolTable = *ReadU32(file, image.fileHeaderOffset + 8);
  const uint16_t optionalSize = *ReadU16(file, image.fileHeaderOffset + 16);
  image.optionalHeaderOffset = image.fileHeaderOffset + 20;
  image.sectionTableOffset = image.optionalHeaderOffset + optionalSize;
  if (!ReadOptionalHeader(file, optionalSize, image) ||
      !ReadSections(file, sectionCount, image)) {
    return Fail(error, platform::kErrorBadExeFormat);
  }
  return image;
}

DataDirectory PeImage::Directory(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= directories.size()) return {};
  return directories[static_cast<std::size_t>(index)];
}

int PeImage::SectionOfRva(uint32_t rva) const {
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const SectionHeader& s = sections[i];
    if (rva >= s.virtualAddress && rva - s.virtualAddress < s.MemorySize()) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

std::optional<uint64_t> PeImage::RvaToOffset(uint32_t rva, uint32_t length,
                                             uint64_t fileSize) const {
  uint64_t offset = 0;
  if (rva < sizeOfHeaders && SectionOfRva(rva) < 0) {
    if (uint64_t{rva} + length > sizeOfHeaders) return std::nullopt;
    offset = rva;
  } else {
    const int index = SectionOfRva(rva);
    if (index < 0) return std::nullopt;
    const SectionHeader& s = sections[static_cast<std::size_t>(index)];
    const uint64_t within = rva - s.virtualAddress;
    if (within + length > s.rawSize || within + length > s.MemorySize()) return std::nullopt;
    offset = s.rawPointer + within;
  }
  if (!InRange(fileSize, offset, length)) return std::nullopt;
  return offset;
}

uint64_t PeImage::EndOfRawData() const {
  uint64_t end = sizeOfHeaders;
  for (const SectionHeader& s : sections) {
    if (s.rawSize != 0) end = std::max(end, s.RawEnd());
  }
  return end;
}

}  // namespace pe
