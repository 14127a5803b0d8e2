#pragma once
// Operations on files by name, and the few other system services the tool needs.

#include <string>

#include "platform/file_handle.h"

namespace platform {

// Deletes a file by its name (a link itself, never what it points at); the
// result is not reported.
void DeleteFileQuietly(const std::string& path);

// True when both paths name the same existing file.
bool IsSameFile(const std::string& a, const std::string& b);

// Gives target the permissions of source, plus write permission for its
// owner, so that a copy of a read-only program can still be updated. False
// when the system refuses.
bool CopyPermissions(const FileHandle& source, FileHandle& target);

// Sounds a tone where the system can: a BEL on standard error when it is a
// terminal on POSIX systems.
void Beep(unsigned frequencyHz, unsigned durationMs);

}  // namespace platform
