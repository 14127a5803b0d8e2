#include "package/member_bytes.h"

#include <utility>

#include "package/load_failure.h"
#include "zip/zip_methods.h"

namespace {

using trvzip::kMethodDeflated;
using trvzip::kMethodStored;
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
                                                  uint64_t archiveSize, std::string* why) {
  const auto fail = [why](std::string text) -> std::optional<std::vector<uint8_t>> {
    if (why != nullptr) *why = std::move(text);
    return std::nullopt;
  };
  if (const int r = entry.UnreadableCause()) return fail(MemberFailureText(entry, r));
  if (!IsPlausibleMemberSize(entry, archiveSize)) return fail(MemberSizeText(entry));
  std::vector<uint8_t> bytes(entry.uncompressedSize);
  // A vector of no bytes may hold no storage; the extraction still wants a buffer.
  uint8_t none = 0;
  uint8_t* buffer = bytes.empty() ? &none : bytes.data();
  // Plausible members are far smaller than 4 GiB.
  const auto size = static_cast<uint32_t>(entry.uncompressedSize);
  if (const int r = entry.Extract(buffer, size)) {
    return fail(MemberFailureText(entry, r));
  }
  return bytes;
}
