#pragma once
// One image file as a value: its headers and sections, read once and held,
// with the headers parsed from them; queried and rebuilt in memory. What
// follows the image in the file (an overlay, of any size) stays on disk and
// is copied from the file it was read from, in pieces, whenever the file is
// written.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pe/pe_checksum.h"
#include "pe/pe_image.h"
#include "platform/file_handle.h"

namespace pe {

class ImageFile {
 public:
  // An image whose whole file is `bytes`, written to `file`, which the
  // caller holds open (for writing, when it is to be rewritten).
  ImageFile(platform::FileHandle& file, std::vector<uint8_t> bytes);
  // Reads the image from source, which it keeps open to copy the rest of the
  // file from; it is written to target, which the caller opens (for writing)
  // before any write. nullopt with *error (8 for an image too large to hold,
  // 30 for a failed read).
  static std::optional<ImageFile> Read(std::unique_ptr<platform::FileHandle> source,
                                       platform::FileHandle& target, uint32_t* error);
  // Opens the file at path (shared for reading, or unshared for reading and
  // writing) and reads it; nullopt with *error (the open's code, or as Read).
  // A writable file is rewritten in place, so what follows its image is held
  // too.
  static std::optional<ImageFile> Open(const std::string& path, bool writable, uint32_t* error);

  // The headers and the sections, as far as the file holds them: up to the
  // end of the last section's raw data and of what the loader takes from
  // the file past a section's raw size.
  std::span<const uint8_t> Bytes() const { return bytes_; }
  // The headers; null with *error (193) when the bytes are not an image.
  const PeImage* Headers(uint32_t* error) const;
  // The whole file's size: the image and what follows it.
  uint64_t FileSize() const;
  // The file as read, for a source other than the target: the whole file
  // written to the target from its start, which is cut to its length.
  bool Write(uint32_t* error);
  // The checksum (as its field lies in the headers) summed over the whole
  // file as last written; nullopt before the first write or without headers.
  const std::optional<PeChecksum>& Checksum() const { return checksum_; }

  // Turns the held image into a new one in place with `rebuild` (which
  // returns an error code, 0 when it worked), so that it is held once, then
  // makes it, followed by the pieces `overlay` of the file as it stands, the
  // file's contents: written from its start, the file cut to their length,
  // and a checksum of the whole stored at checksumField. When the rebuild or
  // the write fails, false is returned with *error, the image is read again
  // from the file it came from, and the file is brought back to what it was;
  // if even that fails, the file is left empty and Damaged() turns true.
  bool Rewrite(const std::function<uint32_t(std::vector<uint8_t>&)>& rebuild,
               const std::vector<FileRange>& overlay, std::optional<uint32_t> checksumField,
               uint32_t* error);
  bool Damaged() const { return damaged_; }
  platform::FileHandle& Source() { return *source_; }

 private:
  // Bytes of the file behind the image: a range of the source file, or bytes
  // held in memory.
  struct Piece {
    uint64_t offset = 0;
    uint64_t length = 0;
    std::shared_ptr<const std::vector<uint8_t>> held;
  };

  ImageFile() = default;
  void Parse();
  // Moves what lies behind the image's extent out of bytes_ into a held piece.
  void SplitHeld();
  std::vector<Piece> PiecesOf(const std::vector<FileRange>& ranges) const;
  // Writes image and pieces from the file's start and cuts it there, summing
  // the checksum as they pass; the error code, 0 when all went well.
  uint32_t WriteFile(std::span<const uint8_t> image, const std::vector<Piece>& pieces,
                     std::optional<uint32_t> checksumField, std::optional<PeChecksum>& checksum);
  uint32_t WriteError() const;
  // Reads the held image (of `size` bytes) again from the source, which
  // still holds it; false when it cannot.
  bool ReadAgain(std::size_t size);
  // Where the checksum of the whole file goes: absent for an image that has none.
  std::optional<uint32_t> ChecksumField() const;

  std::unique_ptr<platform::FileHandle> owned_;
  platform::FileHandle* source_ = nullptr;
  platform::FileHandle* file_ = nullptr;
  std::vector<uint8_t> bytes_;
  std::vector<Piece> overlay_;
  std::optional<PeImage> headers_;
  std::optional<PeChecksum> checksum_;
  bool damaged_ = false;
  // The source's first bytes are the held image: it was read from there,
  // and the source is not a file this object has rewritten since.
  bool sourceHolds_ = true;
};

}  // namespace pe
