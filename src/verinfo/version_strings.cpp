#include "verinfo/version_strings.h"

#include <cstring>
#include <functional>
#include <span>
#include <vector>

#include "pe/version_info.h"

namespace {

// The strings carried over from a stub; all looked up in the one table
// "040904b0", whatever translations the stub declares.
constexpr const char16_t* kStubKeys[] = {
    u"ProductName",  u"ProductVersion",   u"FileDescription", u"FileVersion",
    u"CompanyName",  u"OriginalFileName", u"InternalName",    u"LegalCopyright",
    u"LegalTrademarks", u"Comments",
};

// Whether [at, at + size) lies inside the block; `at` may point elsewhere.
bool InBlock(std::span<const uint8_t> block, const uint8_t* at, std::size_t size) {
  std::less<const uint8_t*> before;
  if (before(at, block.data()) || !before(at, block.data() + block.size())) return false;
  return static_cast<std::size_t>(block.data() + block.size() - at) >= size;
}

// The text of a String value, up to its NUL; its declared length does not
// limit it. Never past the end of the block.
std::u16string ValueText(std::span<const uint8_t> block, const void* value) {
  auto* at = static_cast<const uint8_t*>(value);
  // Anything outside the block is the query's own empty text.
  if (!InBlock(block, at, 1)) return {};
  const std::size_t units = static_cast<std::size_t>(block.data() + block.size() - at) / 2;
  std::u16string text;
  for (std::size_t i = 0; i < units; ++i) {
    char16_t c;
    std::memcpy(&c, at + 2 * i, sizeof c);  // the value need not be aligned
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

bool CopyFixedRecord(std::span<const uint8_t> block, uint8_t fixedRecord[kFixedRecordSize]) {
  const void* value = nullptr;
  uint32_t length = 0;
  if (!pe::VerQueryValue(block, u"\\", &value, &length) || length < kFixedRecordSize) return false;
  auto* at = static_cast<const uint8_t*>(value);
  if (!InBlock(block, at, kFixedRecordSize)) return false;
  std::memcpy(fixedRecord, at, kFixedRecordSize);
  return true;
}

}  // namespace

bool ReadVersionStrings(const std::string& path, uint8_t fixedRecord[kFixedRecordSize],
                        VersionStringMap& map) {
  if (path.empty()) return false;
  std::vector<uint8_t> info;
  if (!pe::GetFileVersionInfo(path, info) || info.empty()) return false;
  std::span<const uint8_t> block(info);
  bool found = CopyFixedRecord(block, fixedRecord);
  for (const char16_t* key : kStubKeys) {
    const void* value = nullptr;
    uint32_t length = 0;
    if (pe::VerQueryValue(block, std::u16string(u"\\StringFileInfo\\040904b0\\") + key, &value,
                          &length))
      map.InsertIfAbsent(key, ValueText(block, value));
  }
  return found;
}
