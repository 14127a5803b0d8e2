#include <windows.h>

#include <climits>

#include "platform/code_page.h"

namespace platform {

namespace {

// Code pages that refuse the error flags (the ISO-2022 family, UTF-7 and the
// symbol code page): converted without them, as the system allows.
bool TakesErrorFlags(unsigned codePage) {
  switch (codePage) {
    case 42: case 50220: case 50221: case 50222: case 50225: case 50227: case 50229:
    case 65000:
      return false;
    default:
      return !(codePage >= 57002 && codePage <= 57011);
  }
}

// The code page the ANSI names stand for, so that the flags suit it (an ANSI
// code page may be UTF-8).
unsigned Resolved(unsigned codePage) {
  if (codePage == CP_THREAD_ACP) {
    DWORD threadCodePage = 0;
    if (::GetLocaleInfoW(::GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                         reinterpret_cast<LPWSTR>(&threadCodePage),
                         sizeof threadCodePage / sizeof(wchar_t)) != 0 &&
        threadCodePage != 0) {
      return threadCodePage;
    }
    return ::GetACP();
  }
  return codePage == CP_ACP ? ::GetACP() : codePage;
}

}  // namespace

std::optional<std::string> WideToCodePage(std::u16string_view text, unsigned codePage) {
  codePage = Resolved(codePage);
  if (!::IsValidCodePage(codePage)) return std::nullopt;
  if (text.empty()) return std::string();
  if (text.size() > INT_MAX) return std::nullopt;
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int length = static_cast<int>(text.size());
  // UTF-8 reports a lone surrogate as an error; the other code pages report
  // an unrepresentable character through the default character, and best-fit
  // look-alikes are refused rather than silently substituted.
  const bool utf8 = codePage == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : TakesErrorFlags(codePage) ? WC_NO_BEST_FIT_CHARS : 0;
  BOOL usedDefault = FALSE;
  BOOL* reportDefault = utf8 || !TakesErrorFlags(codePage) ? nullptr : &usedDefault;
  const int size = ::WideCharToMultiByte(codePage, flags, wide, length, nullptr, 0, nullptr,
                                         reportDefault);
  if (size <= 0 || usedDefault) return std::nullopt;
  std::string out(static_cast<std::size_t>(size), '\0');
  if (::WideCharToMultiByte(codePage, flags, wide, length, out.data(), size, nullptr,
                            reportDefault) != size || usedDefault) {
    return std::nullopt;
  }
  return out;
}

std::optional<std::u16string> CodePageToWide(std::string_view bytes, unsigned codePage) {
  codePage = Resolved(codePage);
  if (!::IsValidCodePage(codePage)) return std::nullopt;
  if (bytes.empty()) return std::u16string();
  if (bytes.size() > INT_MAX) return std::nullopt;
  const DWORD flags = TakesErrorFlags(codePage) ? MB_ERR_INVALID_CHARS : 0;
  const int length = static_cast<int>(bytes.size());
  const int size = ::MultiByteToWideChar(codePage, flags, bytes.data(), length, nullptr, 0);
  if (size <= 0) return std::nullopt;
  std::u16string out(static_cast<std::size_t>(size), u'\0');
  if (::MultiByteToWideChar(codePage, flags, bytes.data(), length,
                            reinterpret_cast<wchar_t*>(out.data()), size) != size) {
    return std::nullopt;
  }
  return out;
}

}  // namespace platform
