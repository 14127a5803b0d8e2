#include "package/member_bytes.h"

namespace {

constexpr uint32_t kMethodStored = 0;
constexpr uint32_t kMethodDeflated = 8;
// Deflate cannot expand by more than 1032:1 (a 258-byte match in two bits).
constexpr uint64_t kMaxDeflateRatio = 1032;
constexpr uint64_t kDeflateSlack = 1024;

}  // namespace

bool IsPlausibleMemberSize(const trvzip::ZIP_FileEntry& entry, uint64_t archiveSize) {
  const uint64_t compressed = entry.compressedSize;
  const uint64_t uncompressed = entry.uncompressedSize;
  if (uncompressed > kMaxMemberSize || compressed > archiveSize) return false;
  if (entry.method == kMethodStored) return uncompressed <= compressed;
  if (entry.method == kMethodDeflated) {
    return uncompressed <= compressed * kMaxDeflateRatio + kDeflateSlack;
  }
  return true;  // other methods are refused by the extraction itself
}

std::optional<std::vector<uint8_t>> ExtractMember(trvzip::ZIP_FileEntry& entry,
                                                  uint64_t archiveSize) {
  if (!IsPlausibleMemberSize(entry, archiveSize)) return std::nullopt;
  std::vector<uint8_t> bytes(entry.uncompressedSize);
  // A vector of no bytes may hold no storage; the extraction still wants a buffer.
  uint8_t none = 0;
  uint8_t* buffer = bytes.empty() ? &none : bytes.data();
  if (entry.Extract(buffer, entry.uncompressedSize) != 0) return std::nullopt;
  return bytes;
}
