#pragma once
// Whole-file reads and replacements for the PE layer.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pe {

// The file's bytes; nullopt with *error (2, 5, 8 for a file too large to be
// an image, 30 for a read failure).
std::optional<std::vector<uint8_t>> ReadImageFile(const std::string& path, uint32_t* error);

// Replaces the file's contents: the bytes go to a temporary file beside it,
// which then takes the file's place with its permissions, so a failed write
// leaves the file as it was. The file must be writable by the rules of
// platform::FileHandle (not read-only, not held by another handle). false
// with *error on any failure.
bool ReplaceImageFile(const std::string& path, std::span<const uint8_t> bytes, uint32_t* error);

}  // namespace pe
