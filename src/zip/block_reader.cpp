#include "zip/block_reader.h"

#include <algorithm>
#include <cstring>

namespace trvzip {

BlockReader::BlockReader(platform::FileHandle& file, std::size_t blockSize)
    : file_(file), block_(blockSize) {}

bool BlockReader::Fill(uint64_t pos) {
  length_ = 0;
  if (!file_.Seek(pos)) return false;
  const auto got = file_.Read(block_.data(), block_.size());
  if (!got) return false;
  start_ = pos;
  length_ = *got;
  return true;
}

std::optional<std::size_t> BlockReader::ReadAt(uint64_t pos, void* out, std::size_t count) {
  auto* dest = static_cast<uint8_t*>(out);
  std::size_t done = 0;
  while (done < count) {
    if (pos >= start_ && pos < start_ + length_) {
      const std::size_t skip = static_cast<std::size_t>(pos - start_);
      const std::size_t n = std::min(count - done, length_ - skip);
      std::memcpy(dest + done, block_.data() + skip, n);
      done += n;
      pos += n;
      continue;
    }
    if (count - done >= block_.size()) {
      // Too large to gain from the block: read straight into the caller's memory.
      if (!file_.Seek(pos)) return std::nullopt;
      const auto got = file_.Read(dest + done, count - done);
      if (!got) return std::nullopt;
      return done + *got;
    }
    if (!Fill(pos)) return std::nullopt;
    if (length_ == 0) break;  // end of file
  }
  return done;
}

void BlockReader::ReadFixed(uint64_t pos, uint8_t* out, std::size_t count) {
  const std::size_t got = ReadAt(pos, out, count).value_or(0);
  std::fill(out + got, out + count, uint8_t{0});
}

std::string BlockReader::ReadString(uint64_t pos, std::size_t count) {
  std::string text(count, '\0');
  text.resize(ReadAt(pos, text.data(), count).value_or(0));
  return text;
}

}  // namespace trvzip
