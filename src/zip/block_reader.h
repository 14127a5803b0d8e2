#pragma once
// Positioned reads through a read-ahead block, so that headers are parsed a
// block at a time instead of one system call per field.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_handle.h"

namespace trvzip {

class BlockReader {
 public:
  BlockReader(platform::FileHandle& file, std::size_t blockSize);

  // Copies up to count bytes from the absolute position pos; fewer at the end
  // of the file. nullopt when a seek or read fails.
  std::optional<std::size_t> ReadAt(uint64_t pos, void* out, std::size_t count);

  // A fixed-size record: bytes that cannot be read (end of file, read error)
  // read as zero, so truncation shows up in the next signature or comparison.
  void ReadFixed(uint64_t pos, uint8_t* out, std::size_t count);

  // A variable field: as many of count bytes as the file holds.
  std::string ReadString(uint64_t pos, std::size_t count);

 private:
  bool Fill(uint64_t pos);

  platform::FileHandle& file_;
  std::vector<uint8_t> block_;
  uint64_t start_ = 0;
  std::size_t length_ = 0;
};

}  // namespace trvzip
