#pragma once
// Appends the rewritten archive to the output.

#include <string>

#include "platform/file_handle.h"

// Copies the whole of temporary behind the end of output, in the kernel where
// the system can, consuming temporary as it goes (it must be open for writing
// too). A failed read or write prints its line and throws the integer 1, so a
// damaged package is never reported as built; an interruption throws without
// a line of its own.
void AppendArchive(platform::FileHandle& temporary, platform::FileHandle& output,
                   const std::string& temporaryPath, const std::string& outputPath);
