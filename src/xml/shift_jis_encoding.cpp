#include "xml/shift_jis_encoding.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "platform/ascii.h"
#include "platform/code_page.h"

namespace {

// One entry per byte: the character it stands for, -1 for a malformed byte,
// -2 for the first byte of a two-byte sequence.
constexpr std::array<int, 256> MakeShiftJisByteMap() {
  std::array<int, 256> map{};
  for (int b = 0; b < 256; ++b) {
    if ((b >= 0x09 && b <= 0x0F) || (b >= 0x20 && b <= 0x7F)) {
      map[b] = b;
    } else if ((b >= 0x80 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFE)) {
      map[b] = -2;
    } else if (b >= 0xA0 && b <= 0xDF) {
      map[b] = 0xFF60 + (b - 0xA0);  // half-width forms
    } else {
      map[b] = -1;
    }
  }
  return map;
}

bool IsShiftJisName(const XML_Char* name) {
  return name != nullptr &&
         platform::EqualsNoCaseAscii(std::string_view(name), std::string_view("Shift_JIS"));
}

constexpr std::array<int, 256> kShiftJisByteMap = MakeShiftJisByteMap();

// The UTF-16 unit for the two bytes at bytes, or -1 when the pair is not a
// code page 932 character of the Basic Multilingual Plane.
int XMLCALL ConvertShiftJisPair(void* /*data*/, const char* bytes) {
  if (bytes == nullptr) return -1;
  const auto unit = platform::CodePageToWide(std::string_view(bytes, 2), platform::kCodePageShiftJis);
  // Exactly one unit for both bytes; nothing, two characters or a surrogate
  // pair is not a character the parser can take from one sequence.
  if (!unit || unit->size() != 1 || ((*unit)[0] >= 0xD800 && (*unit)[0] <= 0xDFFF)) return -1;
  return (*unit)[0];
}

}  // namespace

int XMLCALL OnUnknownEncoding(void* /*handlerData*/, const XML_Char* name, XML_Encoding* info) {
  if (info == nullptr || !IsShiftJisName(name)) return 0;
  std::copy(kShiftJisByteMap.begin(), kShiftJisByteMap.end(), info->map);
  info->convert = ConvertShiftJisPair;
  return 1;
}
