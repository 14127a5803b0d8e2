#include "pe/pe_image.h"

#include <algorithm>
#include <cstring>

#include "bytes/align.h"
#include "bytes/byte_reader.h"
#include "pe/pe_errors.h"

namespace pe {
namespace {

constexpr uint16_t kMzSignature = 0x5A4D;
constexpr uint32_t kDosNewHeaderField = 0x3C;
constexpr uint32_t kPeSignature = 0x00004550;
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint32_t kMaxDirectories = 16;

bool IsPowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

// The optional header's fields in their order; the offsets of those a
// rebuild rewrites are noted as they pass.
void ReadOptionalFields(bytes::ByteReader& in, PeImage& image) {
  const auto offset = [&in] { return static_cast<uint32_t>(in.Offset()); };
  in.Skip(2 + 1 + 1 + 4);  // magic, linker versions, SizeOfCode
  image.at.sizeOfInitializedData = offset();
  image.sizeOfInitializedData = in.U32();
  in.Skip(4);  // SizeOfUninitializedData
  image.entryPoint = in.U32();
  in.Skip(4);  // BaseOfCode
  if (image.is64) {
    image.imageBase = in.U64();
  } else {
    in.Skip(4);  // BaseOfData
    image.imageBase = in.U32();
  }
  image.sectionAlignment = in.U32();
  image.fileAlignment = in.U32();
  in.Skip(6 * 2 + 4);  // operating system, image and subsystem versions; Win32VersionValue
  image.at.sizeOfImage = offset();
  image.sizeOfImage = in.U32();
  image.at.sizeOfHeaders = offset();
  image.sizeOfHeaders = in.U32();
  image.at.checkSum = offset();
  image.checkSum = in.U32();
  in.Skip(2 + 2);                        // Subsystem, DllCharacteristics
  in.Skip(image.is64 ? 4 * 8 : 4 * 4);   // stack and heap sizes
  in.Skip(4);                            // LoaderFlags
}

// Reads the optional header that starts at in's offset and is size bytes long.
bool ReadOptionalHeader(bytes::ByteReader in, uint16_t size, PeImage& image) {
  const std::size_t start = in.Offset();
  const uint16_t magic = in.U16();
  if (magic != kMagicPe32 && magic != kMagicPe32Plus) return false;
  image.is64 = magic == kMagicPe32Plus;
  in.Seek(start);
  ReadOptionalFields(in, image);
  // The loader looks at no more than 16 directories, whatever the count says.
  const uint32_t count = std::min(in.U32(), kMaxDirectories);
  image.at.directories = static_cast<uint32_t>(in.Offset());
  if (!in.Ok() || in.Offset() - start + uint64_t{count} * kDataDirectorySize > size) return false;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t rva = in.U32();
    image.directories.push_back({rva, in.U32()});
  }
  return in.Ok() && IsPowerOfTwo(image.sectionAlignment) && IsPowerOfTwo(image.fileAlignment) &&
         image.fileAlignment <= image.sectionAlignment && image.sectionAlignment <= 0x10000000;
}

bool ReadSections(bytes::ByteReader in, uint16_t count, PeImage& image) {
  image.sections.reserve(count);
  for (uint16_t i = 0; i < count; ++i) {
    SectionHeader& s = image.sections.emplace_back();
    SectionHeader::Fields(in, s);
  }
  return in.Ok();
}

}  // namespace

std::string SectionHeader::Name() const {
  return std::string(name, strnlen(name, sizeof name));
}

std::optional<PeImage> PeImage::Parse(std::span<const uint8_t> file, uint32_t* error) {
  bytes::ByteReader in(file);
  if (in.U16() != kMzSignature) return Fail(error, platform::kErrorBadExeFormat);
  in.Seek(kDosNewHeaderField);
  in.Seek(in.U32());
  if (in.U32() != kPeSignature || !in.Ok()) return Fail(error, platform::kErrorBadExeFormat);
  PeImage image;
  // The file header: machine, section count, time stamp, symbol table,
  // symbol count, optional header size, characteristics.
  image.machine = in.U16();
  image.at.numberOfSections = static_cast<uint32_t>(in.Offset());
  const uint16_t sectionCount = in.U16();
  in.Skip(4);
  image.at.pointerToSymbolTable = static_cast<uint32_t>(in.Offset());
  image.pointerToSymbolTable = in.U32();
  image.numberOfSymbols = in.U32();
  const uint16_t optionalSize = in.U16();
  in.Skip(2);
  if (!in.Ok() || !in.Has(optionalSize)) return Fail(error, platform::kErrorBadExeFormat);
  image.sectionTableOffset = static_cast<uint32_t>(in.Offset() + optionalSize);
  if (!ReadOptionalHeader(in, optionalSize, image) ||
      !ReadSections(bytes::ByteReader(file, image.sectionTableOffset), sectionCount, image)) {
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
    if (sections[i].Contains(rva)) return static_cast<int>(i);
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
    if (within + length > FileBackedSize(s)) return std::nullopt;
    offset = s.rawPointer + within;
  }
  if (offset > fileSize || length > fileSize - offset) return std::nullopt;
  return offset;
}

uint64_t PeImage::FileBackedSize(const SectionHeader& s) const {
  const uint64_t raw = fileAlignment != 0 ? bytes::AlignUp(s.rawSize, fileAlignment) : s.rawSize;
  return std::min<uint64_t>(s.MemorySize(), raw);
}

uint64_t PeImage::ExtentEnd(uint64_t fileSize) const {
  uint64_t end = sizeOfHeaders;
  for (const SectionHeader& s : sections) {
    if (s.rawSize != 0)
      end = std::max(end, s.rawPointer + std::max(uint64_t{s.rawSize}, FileBackedSize(s)));
  }
  return std::min(end, fileSize);
}

std::optional<uint32_t> PeImage::VaToRva(uint64_t va) const {
  if (va < imageBase || va - imageBase >= sizeOfImage) return std::nullopt;
  return static_cast<uint32_t>(va - imageBase);
}

uint64_t PeImage::EndOfRawData() const {
  uint64_t end = sizeOfHeaders;
  for (const SectionHeader& s : sections) {
    if (s.rawSize != 0) end = std::max(end, s.RawEnd());
  }
  return end;
}

}  // namespace pe
