#pragma once
// Batches the small header writes and the large data copies of a save into
// big writes, and remembers whether any of them failed.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/file_handle.h"

namespace trvzip {

class OutputBuffer {
 public:
  static constexpr std::size_t kDefaultCapacity = 1u << 20;

  explicit OutputBuffer(platform::FileHandle& file, std::size_t capacity = kDefaultCapacity);

  // false when these bytes or an earlier flush could not be written.
  bool Put(const void* bytes, std::size_t count);
  // Free space to fill in place (flushing first when the buffer is full);
  // nullptr when a flush fails.
  uint8_t* Reserve(std::size_t* available);
  void Commit(std::size_t count) { used_ += count; }
  bool Flush();

 private:
  platform::FileHandle& file_;
  std::vector<uint8_t> buffer_;
  std::size_t used_ = 0;
  bool failed_ = false;
};

// Copies count bytes from the current position of from into to. A read that
// fails or ends early fails the copy: a member cut short must not pass as whole.
bool CopyFileRange(platform::FileHandle& from, OutputBuffer& to, uint64_t count);

}  // namespace trvzip
