#pragma once
// Appends the rewritten archive to the output.

#include <string>

#include "platform/file_handle.h"

// Copies the rest of temporary to output in 1 MiB chunks. Every read and write
// is checked: a failure prints its line and throws the integer 1, so a damaged
// package is never reported as built.
void AppendArchive(platform::FileHandle& temporary, platform::FileHandle& output,
                   const std::string& temporaryPath, const std::string& outputPath);
