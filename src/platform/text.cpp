#include "text.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace platform {

namespace {

// Runs one whole conversion through iconv; nullopt on any error.
std::optional<std::string> Convert(const char* to, const char* from, const char* data,
                                   std::size_t size) {
  iconv_t cd = ::iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  std::vector<char> chunk(4096);
  char* in = const_cast<char*>(data);
  std::size_t inLeft = size;
  bool ok = true;
  while (true) {
    char* outPtr = chunk.data();
    std::size_t outLeft = chunk.size();
    const std::size_t r = ::iconv(cd, inLeft ? &in : nullptr, &inLeft, &outPtr, &outLeft);
    out.append(chunk.data(), chunk.size() - outLeft);
    if (r != static_cast<std::size_t>(-1)) {
      if (inLeft == 0) break;
      continue;
    }
    if (errno == E2BIG) continue;
    ok = false;
    break;
  }
  ::iconv_close(cd);
  if (!ok) return std::nullopt;
  return out;
}

std::u16string FromBytes(const std::string& bytes) {
  std::u16string out(bytes.size() / 2, u'\0');
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

}  // namespace

std::optional<std::string> Utf16ToUtf8(std::u16string_view text) {
  return Convert("UTF-8", "UTF-16LE", reinterpret_cast<const char*>(text.data()),
                 text.size() * 2);
}

std::string Narrow(std::u16string_view utf16) {
  if (auto r = Utf16ToUtf8(utf16)) return *r;
  std::string out;
  for (char16_t c : utf16) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

std::string LocaleCharset() {
  const char* cs = ::nl_langinfo(CODESET);
  if (cs == nullptr || *cs == '\0' || std::strcmp(cs, "ANSI_X3.4-1968") == 0) return "UTF-8";
  return cs;
}

std::optional<std::string> WideToLocale(std::u16string_view text) {
  const std::string charset = LocaleCharset();
  return Convert(charset.c_str(), "UTF-16LE", reinterpret_cast<const char*>(text.data()),
                 text.size() * 2);
}

std::optional<std::u16string> DecodeCharset(std::string_view bytes, const char* charset) {
  auto r = Convert("UTF-16LE", charset, bytes.data(), bytes.size());
  if (!r) return std::nullopt;
  return FromBytes(*r);
}

}  // namespace platform
