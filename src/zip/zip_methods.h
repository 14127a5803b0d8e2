#pragma once
// Compression methods: those this layer extracts, and the names of the
// others, for the line that explains why a member cannot be read.

#include <cstdint>

namespace trvzip {

inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodDeflated = 8;

bool IsExtractableMethod(uint16_t method);
// The method's usual name; "unknown" for a number no writer is known to use.
const char* MethodName(uint16_t method);

}  // namespace trvzip
