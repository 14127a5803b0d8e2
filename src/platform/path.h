#pragma once
// Path splitting that treats '\' and '/' alike and knows drive letters, so
// that paths in the style of the tool's home system behave as they do there.

#include <string_view>

namespace platform {

// The file-name component of a path: no drive ("X:"), no directory (up to the
// last '\' or '/'), no extension (from the last '.' of what remains).
std::string_view FileNameComponent(std::string_view path);

}  // namespace platform
