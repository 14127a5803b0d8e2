#include "xml/compare_no_case.h"

#include <cwctype>

bool CompareNoCase(const char16_t* a, const char16_t* b) {
  if (a == nullptr || b == nullptr) return a == b;
  // Unit by unit, which gives the same verdict as comparing upper-cased copies.
  for (;; ++a, ++b) {
    const std::wint_t ua = std::towupper(static_cast<std::wint_t>(*a));
    const std::wint_t ub = std::towupper(static_cast<std::wint_t>(*b));
    if (ua != ub) return false;
    if (*a == u'\0') return true;
  }
}
