#include "xml/utf8_decode.h"

#include <cstdint>

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Decodes one sequence at data[i]; returns its length, or 0 when it is malformed.
std::size_t DecodeOne(const unsigned char* data, std::size_t size, std::size_t i,
                      uint32_t* codePoint) {
  const unsigned char lead = data[i];
  std::size_t length = 0;
  uint32_t value = 0;
  uint32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (size - i < length) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if (!IsContinuation(data[i + k])) return 0;
    value = (value << 6) | (data[i + k] & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *codePoint = value;
  return length;
}

}  // namespace

void AppendUtf8AsUtf16(std::u16string& out, const char* text, std::size_t size) {
  const auto* data = reinterpret_cast<const unsigned char*>(text);
  out.reserve(out.size() + size);
  for (std::size_t i = 0; i < size;) {
    if (data[i] < 0x80) {
      out.push_back(data[i++]);
      continue;
    }
    uint32_t cp = 0;
    const std::size_t length = DecodeOne(data, size, i, &cp);
    if (length == 0) {
      out.push_back(kReplacement);
      ++i;
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char16_t>(cp));
      i += length;
    } else {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
      i += length;
    }
  }
}
