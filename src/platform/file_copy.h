#pragma once
// Copying between open files, inside the kernel where the system can.

#include <cstdint>

#include "platform/file_handle.h"

namespace platform {

enum class CopyResult { Done, ReadFailed, WriteFailed, Interrupted };

// Copies count bytes from the current position of from to the current
// position of to; both positions advance. A source that ends early is a read
// failure. Polls Interrupted() between chunks.
CopyResult CopyFileData(FileHandle& from, FileHandle& to, uint64_t count);

}  // namespace platform
