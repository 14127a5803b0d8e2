#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/code_page.h"
#include "platform/text.h"

namespace platform {

namespace {

std::string LocaleCharset() {
  const char* cs = ::nl_langinfo(CODESET);
  if (cs == nullptr || *cs == '\0' || std::strcmp(cs, "ANSI_X3.4-1968") == 0) return "UTF-8";
  return cs;
}

std::string CharsetOf(unsigned codePage) {
  if (codePage == kCodePageAnsi || codePage == kCodePageThreadAnsi) return LocaleCharset();
  if (codePage == kCodePageUtf8) return "UTF-8";
  return "CP" + std::to_string(codePage);
}

// One conversion descriptor per thread and direction, kept while the same
// charset is asked for: Shift-JIS documents convert one pair at a time.
class Converter {
 public:
  ~Converter() { Reset(); }
  iconv_t For(const std::string& to, const std::string& from) {
    if (to != to_ || from != from_) {
      Reset();
      cd_ = ::iconv_open(to.c_str(), from.c_str());
      to_ = to;
      from_ = from;
    }
    if (cd_ != kNone) ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    return cd_;
  }

 private:
  void Reset() {
    if (cd_ != kNone) ::iconv_close(cd_);
    cd_ = kNone;
    to_.clear();
    from_.clear();
  }
  static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);
  iconv_t cd_ = kNone;
  std::string to_, from_;
};

// Runs one whole conversion; nullopt on any error.
std::optional<std::string> Convert(iconv_t cd, const char* data, std::size_t size) {
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  char chunk[4096];
  char* in = const_cast<char*>(data);
  std::size_t inLeft = size;
  while (true) {
    char* outPtr = chunk;
    std::size_t outLeft = sizeof chunk;
    const std::size_t r = ::iconv(cd, inLeft ? &in : nullptr, &inLeft, &outPtr, &outLeft);
    out.append(chunk, sizeof chunk - outLeft);
    if (r != static_cast<std::size_t>(-1)) {
      if (inLeft == 0) return out;
    } else if (errno != E2BIG) {
      return std::nullopt;
    }
  }
}

}  // namespace

std::optional<std::string> WideToCodePage(std::u16string_view text, unsigned codePage) {
  const std::string charset = CharsetOf(codePage);
  if (charset == "UTF-8") return Utf16ToUtf8(text);
  std::string units;
  units.reserve(text.size() * 2);
  for (char16_t c : text) {
    units.push_back(static_cast<char>(c & 0xFF));
    units.push_back(static_cast<char>(c >> 8));
  }
  thread_local Converter converter;
  return Convert(converter.For(charset, "UTF-16LE"), units.data(), units.size());
}

std::optional<std::u16string> CodePageToWide(std::string_view bytes, unsigned codePage) {
  const std::string charset = CharsetOf(codePage);
  if (charset == "UTF-8") return Utf8ToUtf16(bytes);
  thread_local Converter converter;
  const auto r = Convert(converter.For("UTF-16LE", charset), bytes.data(), bytes.size());
  if (!r) return std::nullopt;
  std::u16string out(r->size() / 2, u'\0');
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char16_t>(static_cast<unsigned char>((*r)[2 * i]) |
                                   static_cast<unsigned char>((*r)[2 * i + 1]) << 8);
  }
  return out;
}

}  // namespace platform
