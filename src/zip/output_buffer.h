#pragma once
// Batches the header writes and data copies of a save into large writes,
// remembers whether any of them failed, shows every byte written to an
// observer (a checksum of the finished file), and stops when the user
// interrupts.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "platform/file_handle.h"

namespace trvzip {

using WriteObserver = std::function<void(std::span<const uint8_t>)>;

class OutputBuffer {
 public:
  // Small enough that data read into it is still in the processor's cache
  // when the observer sums it and the write copies it out; pages beyond what
  // is used are never touched.
  static constexpr std::size_t kDefaultCapacity = platform::kLargeWrite;

  OutputBuffer(platform::FileHandle& file, WriteObserver observer = {},
               std::size_t capacity = kDefaultCapacity);

  // false when these bytes or an earlier write could not be written.
  bool Put(const void* bytes, std::size_t count);
  // Free space to fill in place (flushing first when the buffer is full);
  // nullptr when a flush fails.
  uint8_t* Reserve(std::size_t* available);
  void Commit(std::size_t count) { used_ += count; }
  bool Flush();
  // Whether a write has failed (or the user interrupted).
  bool Failed() const { return failed_; }

 private:
  bool WriteOut(const uint8_t* bytes, std::size_t count);

  platform::FileHandle& file_;
  WriteObserver observer_;
  // Left uninitialised: pages are touched only as far as the output reaches.
  std::unique_ptr<uint8_t[]> buffer_;
  std::size_t capacity_;
  std::size_t used_ = 0;
  bool failed_ = false;
};

}  // namespace trvzip
