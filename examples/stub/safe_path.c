/* Member name checks. Windows reinterprets names in several ways (drive
   letters, streams after a colon, device names, stripped trailing dots and
   blanks), so every one of those is refused rather than repaired. */
#include "safe_path.h"

#include <stdlib.h>
#include <string.h>

static int is_sep(wchar_t c) { return c == L'/' || c == L'\\'; }

static wchar_t ascii_upper(wchar_t c) { return c >= L'a' && c <= L'z' ? c - 32 : c; }

static int equals_upper(const wchar_t* s, size_t len, const wchar_t* upper) {
  size_t i = 0;
  for (; i < len && upper[i]; ++i)
    if (ascii_upper(s[i]) != upper[i]) return 0;
  return i == len && upper[i] == 0;
}

/* Device names count with any extension and with blanks before it. */
static int is_device_name(const wchar_t* comp, size_t len) {
  static const wchar_t* const fixed[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  size_t base = 0;
  while (base < len && comp[base] != L'.') ++base;
  while (base > 0 && comp[base - 1] == L' ') --base;
  for (size_t i = 0; i < sizeof fixed / sizeof fixed[0]; ++i)
    if (equals_upper(comp, base, fixed[i])) return 1;
  if (base != 4) return 0;
  wchar_t d = comp[3];
  int digit = (d >= L'1' && d <= L'9') || d == 0xB9 || d == 0xB2 || d == 0xB3;
  return digit && (equals_upper(comp, 3, L"COM") || equals_upper(comp, 3, L"LPT"));
}

static const wchar_t* check_component(const wchar_t* comp, size_t len) {
  if (len == 0) return L"empty path component";
  if (len == 2 && comp[0] == L'.' && comp[1] == L'.') return L"'..' component";
  if (comp[len - 1] == L'.' || comp[len - 1] == L' ') return L"component ends in a dot or blank";
  if (is_device_name(comp, len)) return L"device name";
  return NULL;
}

static const wchar_t* check_characters(const wchar_t* name, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    wchar_t c = name[i];
    if (c == L':') return L"colon (drive letter or stream)";
    if (c < 0x20) return L"control character or NUL";
    if (wcschr(L"<>\"|?*", c)) return L"character Windows does not allow in names";
  }
  return NULL;
}

/* Checks every component and copies them into out joined by '\'. */
static const wchar_t* check_components(const wchar_t* name, size_t len, wchar_t* out) {
  size_t start = 0;
  for (size_t i = 0; i <= len; ++i) {
    if (i < len && !is_sep(name[i])) continue;
    const wchar_t* why = check_component(name + start, i - start);
    if (why) return why;
    memcpy(out + start, name + start, (i - start) * sizeof *out);
    out[i] = i < len ? L'\\' : 0;
    start = i + 1;
  }
  return NULL;
}

wchar_t* safe_relative_path(const wchar_t* name, size_t len, int* is_dir, const wchar_t** why) {
  *is_dir = 0;
  if (len == 0) {
    *why = L"empty name";
    return NULL;
  }
  if (is_sep(name[0])) {
    *why = L"absolute path";
    return NULL;
  }
  if ((*why = check_characters(name, len)) != NULL) return NULL;
  if (is_sep(name[len - 1])) {
    *is_dir = 1;
    --len;
  }
  wchar_t* out = malloc((len + 1) * sizeof *out);
  if (!out) {
    *why = L"out of memory";
    return NULL;
  }
  if ((*why = check_components(name, len, out)) != NULL) {
    free(out);
    return NULL;
  }
  return out;
}
