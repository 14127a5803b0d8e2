#pragma once
// Record layout constants and little-endian field access shared by the
// archive reader and writer.

#include <cstddef>
#include <cstdint>

namespace trvzip::format {

constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;

constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEndRecordSize = 22;

// Offsets and sizes on disk are 32-bit.
constexpr uint64_t kMaxOffset = 0xFFFFFFFFu;
constexpr std::size_t kMaxMembers = 0xFFFF;

inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint8_t* Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  return p + 2;
}

inline uint8_t* Put32(uint8_t* p, uint32_t v) {
  p = Put16(p, v & 0xFFFF);
  return Put16(p, v >> 16);
}

}  // namespace trvzip::format
