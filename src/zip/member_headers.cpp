#include "zip/member_headers.h"

#include <array>

#include "zip/zip_extra.h"

namespace trvzip {

using namespace records;

namespace {

// The values a header marks as placeholders, in the order a ZIP64 block
// lists them.
class Placeholders {
 public:
  void Add(uint64_t* value) {
    if (*value == kPlaceholder32) list_[count_++] = value;
  }
  std::span<uint64_t* const> Wanted() const { return {list_.data(), count_}; }

 private:
  std::array<uint64_t*, 3> list_{};
  std::size_t count_ = 0;
};

}  // namespace

bool ResolveCentral(const CentralHeader& ch, std::span<const uint8_t> centralExtra,
                    CentralValues* values) {
  values->uncompressedSize = ch.common.uncompressedSize;
  values->compressedSize = ch.common.compressedSize;
  values->localHeaderOffset = ch.localHeaderOffset;
  values->disk = ch.diskNumberStart;
  Placeholders wide;
  wide.Add(&values->uncompressedSize), wide.Add(&values->compressedSize);
  wide.Add(&values->localHeaderOffset);
  const bool diskWide = ch.diskNumberStart == kPlaceholder16;
  return extra::ResolveZip64(centralExtra, wide.Wanted(), diskWide ? &values->disk : nullptr);
}

const char* LocalDisagreement(const LocalHeader& lh, std::span<const uint8_t> localExtra,
                              const CentralHeader& ch, std::span<const uint8_t> centralExtra,
                              const CentralValues& central) {
  const CommonFields& l = lh.common;
  const CommonFields& c = ch.common;
  uint64_t usize = l.uncompressedSize, csize = l.compressedSize;
  Placeholders wide;
  wide.Add(&usize), wide.Add(&csize);
  if (!extra::ResolveZip64(localExtra, wide.Wanted(), nullptr)) return "ZIP64 extra field";
  const bool descriptor = (l.flags & kFlagDescriptor) != 0;
  const bool localOnly = l.flags == (c.flags | kFlagDescriptor) && (c.flags & kFlagDescriptor) == 0;
  const auto agrees = [descriptor](uint64_t local, uint64_t value) {
    return local == value || descriptor;
  };
  // Writers raise the version needed to 4.5 only in a header that uses
  // ZIP64; without it, the lower one holds for both.
  const bool zip64 = !wide.Wanted().empty() || !extra::FindZip64(localExtra).empty() ||
                     !extra::FindZip64(centralExtra).empty() ||
                     c.compressedSize == kPlaceholder32 || c.uncompressedSize == kPlaceholder32 ||
                     ch.localHeaderOffset == kPlaceholder32;
  if (l.versionNeeded != c.versionNeeded && !zip64) return "version needed";
  if (l.flags != c.flags && !localOnly) return "flags";
  if (l.method != c.method) return "method";
  if (l.modTime != c.modTime || l.modDate != c.modDate) return "time";
  if (!agrees(l.crc32, c.crc32)) return "CRC-32";
  if (!agrees(csize, central.compressedSize) || !agrees(usize, central.uncompressedSize)) {
    return "sizes";
  }
  if (l.nameLength != c.nameLength) return "name length";
  return nullptr;
}

}  // namespace trvzip
