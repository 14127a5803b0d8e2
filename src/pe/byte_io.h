#pragma once
// Little-endian field access over byte buffers. Every read checks its range
// and yields nothing rather than touching a byte outside the buffer.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace pe {

// True when [offset, offset + count) lies inside a buffer of `size` bytes.
inline bool InRange(std::size_t size, uint64_t offset, uint64_t count) {
  return offset <= size && count <= size - offset;
}

inline std::optional<uint16_t> ReadU16(std::span<const uint8_t> bytes, uint64_t offset) {
  if (!InRange(bytes.size(), offset, 2)) return std::nullopt;
  return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

inline std::optional<uint32_t> ReadU32(std::span<const uint8_t> bytes, uint64_t offset) {
  if (!InRange(bytes.size(), offset, 4)) return std::nullopt;
  return static_cast<uint32_t>(bytes[offset]) | (static_cast<uint32_t>(bytes[offset + 1]) << 8) |
         (static_cast<uint32_t>(bytes[offset + 2]) << 16) |
         (static_cast<uint32_t>(bytes[offset + 3]) << 24);
}

// Writers for buffers whose size the caller has already arranged.
inline void PutU16(std::vector<uint8_t>& bytes, std::size_t offset, uint16_t value) {
  bytes.at(offset + 1) = static_cast<uint8_t>(value >> 8);
  bytes[offset] = static_cast<uint8_t>(value);
}

inline void PutU32(std::vector<uint8_t>& bytes, std::size_t offset, uint32_t value) {
  bytes.at(offset + 3) = static_cast<uint8_t>(value >> 24);
  bytes[offset] = static_cast<uint8_t>(value);
  bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
  bytes[offset + 2] = static_cast<uint8_t>(value >> 16);
}

// Rounds up to a multiple of a power of two; 64-bit so that no sum can wrap.
inline uint64_t AlignUp(uint64_t value, uint64_t alignment) {
  return (value + alignment - 1) & ~(alignment - 1);
}

}  // namespace pe
