#include <climits>
#include <cstdint>
#include <string_view>

#include "bytes/byte_writer.h"
#include "verinfo/version_numbers.h"

namespace {

bool IsSeparator(char16_t c) { return c == u'.' || c == u'-' || c == u','; }

bool IsWhiteSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// Converts a field as the runtime's wide atoi does: leading white space, an
// optional sign, decimal digits up to the first other character, the result
// held at the int range on overflow. The caller keeps the low 16 bits.
int FieldValue(std::u16string_view field) {
  std::size_t i = 0;
  while (i < field.size() && IsWhiteSpace(field[i])) ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == u'+' || field[i] == u'-')) negative = field[i++] == u'-';
  int64_t value = 0;
  for (; i < field.size() && field[i] >= u'0' && field[i] <= u'9'; ++i) {
    value = value * 10 + (field[i] - u'0');
    if (value > int64_t{INT_MAX} + 1) value = int64_t{INT_MAX} + 1;  // stays beyond either bound
  }
  if (negative) return value > int64_t{INT_MAX} ? INT_MIN : static_cast<int>(-value);
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

}  // namespace

void ParseVersionNumbers(const char16_t* text, uint32_t* mostSignificant,
                         uint32_t* leastSignificant) {
  uint32_t numbers[4] = {0, 0, 0, 0};
  std::u16string_view rest = text ? std::u16string_view(text) : std::u16string_view();
  for (int field = 0; field < 4; ++field) {
    std::size_t start = 0;
    while (start < rest.size() && IsSeparator(rest[start])) ++start;
    if (start == rest.size()) break;
    std::size_t end = start;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    numbers[field] = static_cast<uint32_t>(FieldValue(rest.substr(start, end - start))) & 0xFFFFu;
    rest.remove_prefix(end);
  }
  if (mostSignificant) *mostSignificant = numbers[0] << 16 | numbers[1];
  if (leastSignificant) *leastSignificant = numbers[2] << 16 | numbers[3];
}

void StoreVersionNumbers(std::span<uint8_t, kFixedRecordSize> fixedRecord,
                         uint32_t mostSignificant, uint32_t leastSignificant) {
  // Behind dwSignature and dwStrucVersion.
  bytes::StoreU32<8>(fixedRecord, mostSignificant);    // dwFileVersionMS
  bytes::StoreU32<12>(fixedRecord, leastSignificant);  // dwFileVersionLS
  bytes::StoreU32<16>(fixedRecord, mostSignificant);   // dwProductVersionMS
  bytes::StoreU32<20>(fixedRecord, leastSignificant);  // dwProductVersionLS
}
