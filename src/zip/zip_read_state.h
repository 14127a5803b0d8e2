#pragma once
// The state of one extraction, shared by OpenRead, ReadData and CloseRead.

#include <zlib.h>

#include <cstdint>
#include <memory>

#include "platform/file_handle.h"

namespace trvzip {

struct ZipReadState {
  static constexpr uint32_t kBufferSize = 0x4000;

  ZipReadState() = default;
  ZipReadState(const ZipReadState&) = delete;
  ZipReadState& operator=(const ZipReadState&) = delete;
  // Ends an inflate stream left running by a caller that skipped CloseRead.
  ~ZipReadState() { Release(); }

  void Release() {
    buffer.reset();
    if (inflating) inflateEnd(&stream);
    inflating = false;
  }

  std::unique_ptr<uint8_t[]> buffer;  // stored or compressed bytes read from the archive
  platform::FileHandle* file = nullptr;  // borrowed from the archive
  z_stream stream{};                     // its in/out pointers serve stored members too
  bool inflating = false;                // inflateInit2 succeeded and inflateEnd is due
  bool opened = false;                   // OpenRead succeeded
  uint32_t crc = 0;
  uint64_t compressedRemaining = 0;
  uint64_t uncompressedRemaining = 0;
  uint64_t position = 0;  // absolute position of the next refill
};

}  // namespace trvzip
