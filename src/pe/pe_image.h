#pragma once
// The headers of a PE32 or PE32+ image, read from a byte buffer in record
// order, and the mapping of relative virtual addresses to file offsets. The
// file offsets of the fields a rebuild rewrites are kept beside their values.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pe {

inline constexpr uint32_t kSectionHeaderSize = 40;
inline constexpr uint32_t kDataDirectorySize = 8;
inline constexpr int kDirectoryResource = 2;
inline constexpr int kDirectorySecurity = 4;
inline constexpr int kDirectoryBaseReloc = 5;

struct SectionHeader {
  char name[8] = {};
  uint32_t virtualSize = 0;
  uint32_t virtualAddress = 0;
  uint32_t rawSize = 0;
  uint32_t rawPointer = 0;
  uint32_t relocationsPointer = 0;
  uint32_t lineNumbersPointer = 0;
  uint16_t relocationCount = 0;
  uint16_t lineNumberCount = 0;
  uint32_t characteristics = 0;

  std::string Name() const;
  // Bytes the section occupies in memory: the loader takes the raw size when
  // the virtual size is zero.
  uint32_t MemorySize() const { return virtualSize != 0 ? virtualSize : rawSize; }
  uint64_t RawEnd() const { return uint64_t{rawPointer} + rawSize; }
  bool Contains(uint32_t rva) const {
    return rva >= virtualAddress && rva - virtualAddress < MemorySize();
  }

  // The header's fields in record order, for reading and for writing; true
  // when all of them were.
  template <class Io, class Self>
  static bool Fields(Io& io, Self& s) {
    return io.Fields(s.name, s.virtualSize, s.virtualAddress, s.rawSize, s.rawPointer,
                     s.relocationsPointer, s.lineNumbersPointer, s.relocationCount,
                     s.lineNumberCount, s.characteristics);
  }
};

// A piece of a file: offset and length.
struct FileRange {
  uint64_t offset = 0;
  uint64_t length = 0;
};

struct DataDirectory {
  uint32_t rva = 0;
  uint32_t size = 0;
};

// File offsets of the header fields a rebuild writes.
struct FieldOffsets {
  uint32_t numberOfSections = 0;
  uint32_t pointerToSymbolTable = 0;
  uint32_t sizeOfInitializedData = 0;
  uint32_t sizeOfImage = 0;
  uint32_t sizeOfHeaders = 0;
  uint32_t checkSum = 0;
  uint32_t directories = 0;  // data directory 0
};

struct PeImage {
  bool is64 = false;
  uint16_t machine = 0;
  uint64_t imageBase = 0;
  uint32_t numberOfSymbols = 0;
  uint32_t sectionTableOffset = 0;
  uint32_t sectionAlignment = 0;
  uint32_t fileAlignment = 0;
  uint32_t sizeOfHeaders = 0;
  uint32_t sizeOfImage = 0;
  uint32_t sizeOfInitializedData = 0;
  uint32_t checkSum = 0;
  uint32_t entryPoint = 0;
  uint32_t pointerToSymbolTable = 0;
  FieldOffsets at;
  std::vector<DataDirectory> directories;
  std::vector<SectionHeader> sections;

  // Reads the headers; nullopt with *error = 193 (not a valid image).
  static std::optional<PeImage> Parse(std::span<const uint8_t> file, uint32_t* error);

  DataDirectory Directory(int index) const;
  // Bytes of section s the loader takes from the file: its raw size rounded
  // up to the file alignment, but no more than its size in memory.
  uint64_t FileBackedSize(const SectionHeader& s) const;
  // File offset of [rva, rva + length) when the whole range lies in the
  // file-backed part of one section (or in the headers) and inside a file of
  // fileSize bytes.
  std::optional<uint64_t> RvaToOffset(uint32_t rva, uint32_t length, uint64_t fileSize) const;
  // Index of the section whose memory range holds rva, or -1.
  int SectionOfRva(uint32_t rva) const;
  uint32_t SectionHeaderOffset(std::size_t index) const {
    return sectionTableOffset + static_cast<uint32_t>(index) * kSectionHeaderSize;
  }
  uint32_t DirectoryOffset(int index) const {
    return at.directories + static_cast<uint32_t>(index) * kDataDirectorySize;
  }
  // End of the last section's raw data (at least the headers' size).
  uint64_t EndOfRawData() const;
  // End of what the image takes from a file of fileSize bytes: the headers,
  // every section's raw data and what the loader reads past a raw size.
  uint64_t ExtentEnd(uint64_t fileSize) const;
  // The address a virtual address (as pointers in the image hold them) names.
  std::optional<uint32_t> VaToRva(uint64_t va) const;
};

}  // namespace pe
