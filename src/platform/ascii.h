#pragma once
// Letter case of ASCII only, for the comparisons the tool's home system makes
// that way: archive member names, version-information keys, encoding names.

#include <algorithm>
#include <string_view>

namespace platform {

// The lower-case form of an ASCII capital; every other unit unchanged.
template <class Char>
constexpr Char FoldAscii(Char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

// Equal after folding ASCII letters.
template <class Char>
constexpr bool EqualsNoCaseAscii(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  return std::ranges::equal(a, b, {}, FoldAscii<Char>, FoldAscii<Char>);
}

}  // namespace platform
