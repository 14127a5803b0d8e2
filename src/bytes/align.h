#pragma once

#include <cstdint>

namespace bytes {

// Rounds up to a multiple of a power of two; 64-bit so that no sum can wrap.
constexpr uint64_t AlignUp(uint64_t value, uint64_t alignment) {
  return (value + alignment - 1) & ~(alignment - 1);
}

}  // namespace bytes
