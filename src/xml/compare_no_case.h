#pragma once

// True when a and b are equal after upper-casing every UTF-16 unit with
// towupper under the current C locale (two nulls are equal, a null and a text
// are not).
bool CompareNoCase(const char16_t* a, const char16_t* b);
