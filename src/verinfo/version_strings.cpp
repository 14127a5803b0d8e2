#include "verinfo/version_strings.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bytes/byte_reader.h"
#include "pe/version_resource.h"
#include "platform/ascii.h"

namespace {

// The strings carried over from a stub, looked up in the one table chosen
// by StubTable.
constexpr const char16_t* kStubKeys[] = {
    u"ProductName",  u"ProductVersion",   u"FileDescription", u"FileVersion",
    u"CompanyName",  u"OriginalFileName", u"InternalName",    u"LegalCopyright",
    u"LegalTrademarks", u"Comments",
};

// The offset of a value the query pointed at, when it lies inside the block
// (the query's own empty text does not).
std::optional<std::size_t> OffsetInBlock(std::span<const uint8_t> block, const void* value) {
  const auto* at = static_cast<const uint8_t*>(value);
  std::less<const uint8_t*> before;
  if (before(at, block.data()) || !before(at, block.data() + block.size())) return std::nullopt;
  return static_cast<std::size_t>(at - block.data());
}

// The text of a String value, up to its NUL; its declared length does not
// limit it. Never past the end of the block.
std::u16string ValueText(std::span<const uint8_t> block, const void* value) {
  const auto offset = OffsetInBlock(block, value);
  if (!offset) return {};
  bytes::ByteReader in(block, *offset);
  std::u16string text;
  while (in.Has(2)) {
    const auto unit = static_cast<char16_t>(in.U16());
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

bool CopyFixedRecord(std::span<const uint8_t> block,
                     std::span<uint8_t, kFixedRecordSize> fixedRecord) {
  const void* value = nullptr;
  uint32_t length = 0;
  if (!VerQueryValue(block, u"\\", &value, &length) || length < kFixedRecordSize) return false;
  const auto offset = OffsetInBlock(block, value);
  if (!offset || block.size() - *offset < kFixedRecordSize) return false;
  std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(*offset), kFixedRecordSize,
              fixedRecord.begin());
  return true;
}

bool SameKey(std::u16string_view a, std::u16string_view b) {
  return platform::EqualsNoCaseAscii<char16_t>(a, b);
}

// The table the stub's strings come from: U.S. English / UTF-16 when the
// stub has it; else the one its first translation names; else its first.
// (.NET assemblies store theirs under 000004b0, Delphi under 040904e4.)
std::optional<std::u16string> StubTable(std::span<const uint8_t> block) {
  const std::vector<std::u16string> tables = StringTableNames(block);
  const auto find = [&](std::u16string_view name) -> std::optional<std::u16string> {
    for (const std::u16string& t : tables) {
      if (SameKey(t, name)) return t;
    }
    return std::nullopt;
  };
  if (auto table = find(u"040904b0")) return table;
  const void* value = nullptr;
  uint32_t length = 0;
  if (VerQueryValue(block, u"\\VarFileInfo\\Translation", &value, &length) && length >= 4) {
    const auto offset = OffsetInBlock(block, value);
    if (offset && block.size() - *offset >= 4) {
      bytes::ByteReader in(block, *offset);
      const uint16_t language = in.U16();
      const uint16_t codePage = in.U16();
      char name[9];
      std::snprintf(name, sizeof name, "%04x%04x", language, codePage);
      if (auto table = find(std::u16string(name, name + 8))) return table;
    }
  }
  if (!tables.empty()) return tables.front();
  return std::nullopt;
}

}  // namespace

bool ReadVersionStrings(const pe::ImageFile& image,
                        std::span<uint8_t, kFixedRecordSize> fixedRecord, VersionStringMap& map) {
  std::vector<uint8_t> info;
  if (!pe::GetFileVersionInfo(image, info) || info.empty()) return false;
  const std::span<const uint8_t> block(info);
  const bool found = CopyFixedRecord(block, fixedRecord);
  const auto table = StubTable(block);
  if (!table) return found;
  const std::u16string path = u"\\StringFileInfo\\" + *table + u"\\";
  for (const char16_t* key : kStubKeys) {
    const void* value = nullptr;
    uint32_t length = 0;
    if (VerQueryValue(block, path + key, &value, &length)) {
      map.try_emplace(key, ValueText(block, value));
    }
  }
  return found;
}
