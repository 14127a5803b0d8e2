// UTF-8 to UTF-16 without a conversion descriptor: names, texts and paths are
// converted often and in small pieces.

#include <cstdint>

#include "platform/text.h"

namespace platform {

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

// Decodes text onto out; malformed sequences become U+FFFD, or end the
// conversion with false when strict.
bool DecodeUtf8(std::u16string& out, std::string_view text, bool strict) {
  const auto* data = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  out.reserve(out.size() + size);
  for (std::size_t i = 0; i < size;) {
    if (data[i] < 0x80) {
      out.push_back(data[i++]);
      continue;
    }
    uint32_t cp = 0;
    const std::size_t length = DecodeOne(data, size, i, &cp);
    if (length == 0) {
      if (strict) return false;
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
  return true;
}

}  // namespace

void AppendUtf8AsUtf16(std::u16string& out, std::string_view utf8) {
  DecodeUtf8(out, utf8, false);
}

std::optional<std::u16string> Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  if (!DecodeUtf8(out, text, true)) return std::nullopt;
  return out;
}

std::u16string Widen(std::string_view utf8) {
  std::u16string out;
  AppendUtf8AsUtf16(out, utf8);
  return out;
}

}  // namespace platform
