#pragma once
// Positioned reads through a read-ahead block, so that headers are parsed a
// block at a time and small members are copied many to a read, instead of
// one system call per field or member.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <array>
#include <span>

#include "platform/file_handle.h"
#include "zip/zip_records.h"

namespace trvzip {

class OutputBuffer;

class BlockReader {
 public:
  BlockReader(const platform::FileHandle& file, std::size_t blockSize);

  // Copies up to count bytes from the absolute position pos; fewer at the end
  // of the file. nullopt when a read fails.
  std::optional<std::size_t> ReadAt(uint64_t pos, void* out, std::size_t count);

  // A fixed-size record: bytes that cannot be read (end of file, read error)
  // read as zero, so truncation shows up in the next signature or comparison.
  void ReadFixed(uint64_t pos, std::span<uint8_t> out);

  // Copies count bytes from pos to output; large runs go straight from the
  // file into the output's buffer. False when the file ends early or a read
  // or write fails.
  bool CopyTo(uint64_t pos, uint64_t count, OutputBuffer& output);

 private:
  bool Fill(uint64_t pos);
  // The bytes of the block from pos on, or an empty span when pos is outside it.
  std::span<const uint8_t> Buffered(uint64_t pos) const;

  const platform::FileHandle& file_;
  // Left uninitialised: only bytes a read delivered are ever looked at.
  std::unique_ptr<uint8_t[]> block_;
  std::size_t blockSize_;
  uint64_t start_ = 0;
  std::size_t length_ = 0;
};

// One of the archive's records (zip_records.h) at position; see ReadFixed.
template <class Record>
Record ReadRecord(BlockReader& reader, uint64_t position) {
  std::array<uint8_t, Record::kSize> raw;
  reader.ReadFixed(position, raw);
  return records::Decode<Record>(raw);
}

}  // namespace trvzip
