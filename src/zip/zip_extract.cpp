// Extraction of one member: stored or raw-deflated data, checked by CRC-32.

#include <algorithm>
#include <cstring>
#include <new>

#include "zip/crc32.h"
#include "zip/zip_file_entry.h"
#include "zip/zip_methods.h"
#include "zip/zip_result.h"

namespace trvzip {

namespace {

// Reads the next chunk of stored bytes at its own position, since other users
// of the archive handle may read elsewhere in between. A read that ends early
// fails: the archive is shorter than its directory says.
bool Refill(ZipReadState& state) {
  const auto n = static_cast<uint32_t>(
      std::min<uint64_t>(ZipReadState::kBufferSize, state.compressedRemaining));
  const auto got = state.file->ReadAt(state.position, state.buffer.get(), n);
  if (!got || *got != n) return false;
  state.position += n;
  state.compressedRemaining -= n;
  state.stream.next_in = state.buffer.get();
  state.stream.avail_in = n;
  return true;
}

// Moves bytes produced into the output (already there for inflate) into the
// CRC and the counters.
void Account(ZipReadState& state, const uint8_t* produced, uint32_t count, uint32_t* done) {
  state.crc = Crc32(state.crc, produced, count);
  state.uncompressedRemaining -= count;
  *done += count;
}

void CopyStored(ZipReadState& state, uint32_t* done) {
  z_stream& s = state.stream;
  const uint32_t k = std::min(s.avail_out, s.avail_in);
  std::memcpy(s.next_out, s.next_in, k);
  Account(state, s.next_out, k, done);
  s.next_in += k;
  s.avail_in -= k;
  s.next_out += k;
  s.avail_out -= k;
  s.total_out += k;
}

}  // namespace

int ZIP_FileEntry::OpenRead(ZipReadState* state) {
  if (state == nullptr) return kZipErrorArgument;
  state->Release();
  state->opened = false;
  state->crc = 0;
  state->compressedRemaining = compressedSize;
  state->uncompressedRemaining = uncompressedSize;
  state->file = sourceFile;
  state->position = dataOffset;
  if (sourceFile == nullptr) return kZipErrorSeek;
  state->stream = z_stream{};
  if (method == kMethodDeflated) {
    if (inflateInit2(&state->stream, -MAX_WBITS) != Z_OK) return kZipErrorInflateStart;
    state->inflating = true;
  }
  state->buffer.reset(new (std::nothrow) uint8_t[ZipReadState::kBufferSize]);
  if (!state->buffer) {
    state->Release();
    return kZipErrorNoMemory;
  }
  state->opened = true;
  return kZipOk;
}

int ZIP_FileEntry::ReadData(void* buffer, uint32_t length, ZipReadState* state,
                            uint32_t* produced) {
  if (produced != nullptr) *produced = 0;
  // Encrypted data would inflate to garbage or copy out as ciphertext.
  if (const int r = UnreadableCause()) return r;
  if (state == nullptr || !state->opened || buffer == nullptr || length == 0) {
    return kZipErrorArgument;
  }
  z_stream& s = state->stream;
  s.next_out = static_cast<Bytef*>(buffer);
  s.avail_out = static_cast<uInt>(std::min<uint64_t>(length, state->uncompressedRemaining));
  uint32_t done = 0;
  int result = kZipOk;
  while (s.avail_out > 0) {
    if (s.avail_in == 0 && state->compressedRemaining > 0 && !Refill(*state)) {
      result = kZipErrorRead;
      break;
    }
    if (method == kMethodStored) {
      if (s.avail_in == 0) {  // fewer stored bytes than the member's size
        result = kZipErrorStoredShort;
        break;
      }
      CopyStored(*state, &done);
      continue;
    }
    uint8_t* const out = s.next_out;
    const uint32_t before = s.avail_out;
    const int rc = inflate(&s, Z_SYNC_FLUSH);
    Account(*state, out, before - s.avail_out, &done);
    if (rc == Z_STREAM_END) {
      result = done > 0 ? kZipOk : kZipErrorDataEnded;
      break;
    }
    if (rc != Z_OK) break;  // damaged data or input exhausted: a short read
  }
  if (produced != nullptr) *produced = done;
  return result;
}

int ZIP_FileEntry::CloseRead(ZipReadState* state) {
  if (state == nullptr || !state->opened) return kZipErrorArgument;
  state->Release();
  state->opened = false;
  // Only a complete member can be checked.
  if (state->uncompressedRemaining == 0 && state->crc != crc32) return kZipErrorCrc;
  return kZipOk;
}

int ZIP_FileEntry::Extract(void* buffer, uint32_t size) {
  ZipReadState state;
  if (const int r = OpenRead(&state)) return r;
  uint32_t produced = 0;
  const int readResult = ReadData(buffer, size, &state, &produced);
  if (const int verdict = CloseRead(&state)) return verdict;
  // A buffer that could hold the whole member but did not receive it means
  // the member could not be read: that must not pass as success.
  if (size >= uncompressedSize && produced < uncompressedSize) {
    return readResult != kZipOk ? readResult : kZipErrorDataEnded;
  }
  return kZipOk;
}

}  // namespace trvzip
