// UTF-8 and UTF-16 by hand rather than through a conversion descriptor:
// names, texts and paths are converted often and in small pieces.

#include <cstdint>

#include "platform/text.h"

namespace platform {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// What a malformed sequence or a lone surrogate does: end the conversion,
// become U+FFFD, or (surrogates only) pass through as WTF-8.
enum class Malformed { Fail, Replace, KeepSurrogates };

bool IsSurrogate(uint32_t value) { return value >= 0xD800 && value <= 0xDFFF; }

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Decodes one sequence at data[i]; returns its length, or 0 when it is malformed.
std::size_t DecodeOne(const unsigned char* data, std::size_t size, std::size_t i,
                      bool surrogatesAllowed, uint32_t* codePoint) {
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
  if (value < minimum || value > 0x10FFFF || (IsSurrogate(value) && !surrogatesAllowed)) return 0;
  *codePoint = value;
  return length;
}

// Decodes text onto out; false when a malformed sequence ends it.
bool DecodeUtf8(std::u16string& out, std::string_view text, Malformed malformed) {
  const auto* data = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  out.reserve(out.size() + size);
  for (std::size_t i = 0; i < size;) {
    if (data[i] < 0x80) {
      out.push_back(data[i++]);
      continue;
    }
    uint32_t cp = 0;
    const std::size_t length =
        DecodeOne(data, size, i, malformed == Malformed::KeepSurrogates, &cp);
    if (length == 0) {
      if (malformed == Malformed::Fail) return false;
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

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendCodePoint(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Encodes text onto out; false when a lone surrogate ends it.
bool EncodeUtf8(std::string& out, std::u16string_view text, Malformed malformed) {
  out.reserve(out.size() + text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      AppendCodePoint(out, 0x10000 + ((uint32_t{c} - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (IsSurrogate(c)) {
      if (malformed == Malformed::Fail) return false;
      AppendCodePoint(out, malformed == Malformed::KeepSurrogates ? c : kReplacement);
    } else {
      AppendCodePoint(out, c);
    }
  }
  return true;
}

}  // namespace

void AppendUtf8AsUtf16(std::u16string& out, std::string_view utf8) {
  DecodeUtf8(out, utf8, Malformed::Replace);
}

std::optional<std::u16string> Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  if (!DecodeUtf8(out, text, Malformed::Fail)) return std::nullopt;
  return out;
}

std::u16string Widen(std::string_view utf8) {
  std::u16string out;
  AppendUtf8AsUtf16(out, utf8);
  return out;
}

std::optional<std::string> Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  if (!EncodeUtf8(out, text, Malformed::Fail)) return std::nullopt;
  return out;
}

std::string Narrow(std::u16string_view utf16) {
  std::string out;
  EncodeUtf8(out, utf16, Malformed::Replace);
  return out;
}

std::string Utf16ToWtf8(std::u16string_view utf16) {
  std::string out;
  EncodeUtf8(out, utf16, Malformed::KeepSurrogates);
  return out;
}

std::u16string Wtf8ToUtf16(std::string_view wtf8) {
  std::u16string out;
  DecodeUtf8(out, wtf8, Malformed::KeepSurrogates);
  return out;
}

}  // namespace platform
