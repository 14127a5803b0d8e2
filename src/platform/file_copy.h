#pragma once
// Appending one open file to another, inside the kernel where the system can.

#include <cstdint>

#include "platform/file_handle.h"

namespace platform {

enum class CopyResult { Done, ReadFailed, WriteFailed, Interrupted };

// Appends all of from (open for reading and writing) behind the end of to,
// back to front, cutting from down as each piece has been copied: the data
// never sits in memory twice, and pages of from that were never written out
// are dropped rather than written. from ends up empty, or shorter by what was
// copied when a piece fails. Polls Interrupted() between pieces of piece
// bytes: large enough to keep the disk busy, small enough to notice an
// interruption promptly and to hold little twice.
inline constexpr uint64_t kAppendPiece = uint64_t{64} << 20;
CopyResult AppendConsuming(FileHandle& from, FileHandle& to, uint64_t piece = kAppendPiece);

// Copies count bytes at fromOffset to toOffset: inside the kernel where the
// system can, else through a buffer.
CopyResult CopyRange(FileHandle& from, uint64_t fromOffset, FileHandle& to, uint64_t toOffset,
                     uint64_t count);

// The same through a buffer in memory, the same everywhere; it tells which
// side failed.
CopyResult CopyRangeThroughBuffer(FileHandle& from, uint64_t fromOffset, FileHandle& to,
                                  uint64_t toOffset, uint64_t count);

}  // namespace platform
