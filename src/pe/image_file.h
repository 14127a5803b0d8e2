#pragma once
// One image file as a value: its bytes, read once, with its headers parsed
// from them; queried and rebuilt in memory, and written back once,
// through the handle that holds the file.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pe/pe_image.h"
#include "platform/file_handle.h"

namespace pe {

class ImageFile {
 public:
  // An image whose file the caller holds open (for writing, when it is to be
  // rewritten), with the file's bytes.
  ImageFile(platform::FileHandle& file, std::vector<uint8_t> bytes);
  // Opens the file at path (shared for reading, or unshared for reading and
  // writing) and reads it whole; nullopt with *error (the open's code; 8 for
  // a file too large to be an image; 30 for a failed read).
  static std::optional<ImageFile> Open(const std::string& path, bool writable, uint32_t* error);
  // Reads an open file whole from its start, with the same limits.
  static std::optional<std::vector<uint8_t>> ReadWhole(platform::FileHandle& file,
                                                      uint32_t* error);

  std::span<const uint8_t> Bytes() const { return bytes_; }
  // The headers; null with *error (193) when the bytes are not an image.
  const PeImage* Headers(uint32_t* error) const;

  // Makes bytes the file's contents: written from its start, the file cut to
  // their length. When that fails the previous contents are written back
  // and false is returned with *error; if even that fails, the file is left
  // empty and Damaged() turns true.
  bool Replace(std::vector<uint8_t> bytes, uint32_t* error);
  bool Damaged() const { return damaged_; }

 private:
  bool WriteAll(std::span<const uint8_t> bytes);

  std::unique_ptr<platform::FileHandle> owned_;
  platform::FileHandle* file_;
  std::vector<uint8_t> bytes_;
  std::optional<PeImage> headers_;
  bool damaged_ = false;
};

}  // namespace pe
