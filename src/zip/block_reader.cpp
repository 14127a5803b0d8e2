#include "zip/block_reader.h"

#include <algorithm>
#include <cstring>

#include "zip/output_buffer.h"

namespace trvzip {

BlockReader::BlockReader(const platform::FileHandle& file, std::size_t blockSize)
    : file_(file), block_(new uint8_t[blockSize]), blockSize_(blockSize) {}

bool BlockReader::Fill(uint64_t pos) {
  length_ = 0;
  const auto got = file_.ReadShared(pos, block_.get(), blockSize_);
  if (!got) return false;
  start_ = pos;
  length_ = *got;
  return true;
}

std::span<const uint8_t> BlockReader::Buffered(uint64_t pos) const {
  if (pos < start_ || pos - start_ >= length_) return {};
  const auto offset = static_cast<std::size_t>(pos - start_);
  return {block_.get() + offset, length_ - offset};
}

std::optional<std::size_t> BlockReader::ReadAt(uint64_t pos, void* out, std::size_t count) {
  auto* dest = static_cast<uint8_t*>(out);
  std::size_t done = 0;
  while (done < count) {
    if (const auto have = Buffered(pos); !have.empty()) {
      const std::size_t n = std::min(count - done, have.size());
      std::memcpy(dest + done, have.data(), n);
      done += n;
      pos += n;
      continue;
    }
    if (count - done >= blockSize_) {
      // Too large to gain from the block: read straight into the caller's memory.
      const auto got = file_.ReadShared(pos, dest + done, count - done);
      if (!got) return std::nullopt;
      return done + *got;
    }
    if (!Fill(pos)) return std::nullopt;
    if (length_ == 0) break;  // end of file
  }
  return done;
}

void BlockReader::ReadFixed(uint64_t pos, std::span<uint8_t> out) {
  const std::size_t got = ReadAt(pos, out.data(), out.size()).value_or(0);
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(got), out.end(), uint8_t{0});
}

bool BlockReader::CopyTo(uint64_t pos, uint64_t count, OutputBuffer& output) {
  while (count > 0) {
    if (const auto have = Buffered(pos); !have.empty()) {
      const auto n = static_cast<std::size_t>(std::min<uint64_t>(count, have.size()));
      if (!output.Put(have.data(), n)) return false;
      pos += n;
      count -= n;
      continue;
    }
    if (count < blockSize_) {
      if (!Fill(pos) || length_ == 0) return false;
      continue;
    }
    std::size_t room = 0;
    uint8_t* space = output.Reserve(&room);
    if (space == nullptr) return false;
    const auto want = static_cast<std::size_t>(std::min<uint64_t>(count, room));
    const auto got = file_.ReadShared(pos, space, want);
    if (!got || *got != want) return false;  // a member cut short must not pass as whole
    output.Commit(want);
    pos += want;
    count -= want;
  }
  return true;
}

}  // namespace trvzip
