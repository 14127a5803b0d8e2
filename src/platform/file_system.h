#pragma once
// Whole-file operations and the few other system services the tool needs.

#include <string>
#include <string_view>

namespace platform {

// Copies source to target, replacing an existing target. The copy is always
// writable by its owner, so the version resource can be rewritten in it.
// Returns false, leaving nothing half-written behind the caller's back, when
// the source cannot be read or the target cannot be written.
bool CopyFileReplacing(const std::string& source, const std::string& target);

// Deletes a file; the result is not reported.
void DeleteFileQuietly(const std::string& path);

// True when both paths name the same existing file (same device and inode).
bool IsSameFile(const std::string& a, const std::string& b);

// Sounds a tone: a BEL on standard error when it is a terminal, else nothing.
void Beep(unsigned frequencyHz, unsigned durationMs);

// The file-name component of a path: no drive ("X:"), no directory (up to the
// last '\' or '/'), no extension (from the last '.' of what remains).
std::string_view FileNameComponent(std::string_view path);

}  // namespace platform
