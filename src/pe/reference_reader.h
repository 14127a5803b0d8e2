#pragma once
// The reading behind VisitReferences: bounded reads of the image by address,
// shared by the readers of each structure (image_references.cpp,
// load_config_references.cpp, clr_references.cpp).

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "pe/image_references.h"

namespace pe {

class ReferenceReader {
 public:
  ReferenceReader(const PeImage& image, std::span<const uint8_t> held,
                  const std::function<void(const Reference&)>& visit);

  const PeImage& Image() const { return image_; }
  ReferenceScan& Scan() { return scan_; }
  uint32_t PointerSize() const { return image_.is64 ? 8 : 4; }

  // A little-endian value of size bytes (2, 4 or 8) at rva, where the file
  // holds it.
  std::optional<uint64_t> Value(uint64_t rva, uint32_t size) const;
  std::optional<uint64_t> Pointer(uint64_t rva) const { return Value(rva, PointerSize()); }
  // The length of the NUL-terminated text at rva, its NUL included.
  std::optional<uint32_t> TextLength(uint64_t rva) const;
  // Whether [rva, rva + length) can be read.
  bool Readable(uint64_t rva, uint64_t length) const;

  void Add(ReferenceKind kind, uint64_t start, uint64_t length = 1);
  void AddDirectory(int index, DataDirectory d);
  void AddFile(ReferenceKind kind, uint64_t offset, uint64_t length);
  // A pointer (a virtual address) the image holds; null pointers name nothing.
  void AddPointer(ReferenceKind kind, uint64_t va);
  // The text at rva, as a reference; false (and the scan failed) when it has no end.
  bool AddText(ReferenceKind kind, uint64_t rva, const char* what);
  // Records the first structure that could not be read; always false.
  bool Fail(const char* what);
  // Counts one more table entry read; false once far more were read than
  // the image could hold, so that crafted tables sharing entries end.
  bool Step(const char* what);

 private:
  const PeImage& image_;
  std::span<const uint8_t> held_;
  const std::function<void(const Reference&)>& visit_;
  ReferenceScan scan_;
  uint64_t steps_ = 0;
};

// The readers of the structures that need more than a few lines.
bool ReadLoadConfig(ReferenceReader& reader, DataDirectory d);
bool ReadClrHeader(ReferenceReader& reader, DataDirectory d);

}  // namespace pe
