/* Member name decoding. */
#include "member_name.h"

#include <stdlib.h>
#include <windows.h>

#include "zip_reader.h"

/* Length of the UTF-8 sequence at p (at most n bytes), 0 when it is not a
   well-formed one: no overlong forms, no surrogates, nothing past U+10FFFF. */
static unsigned utf8_sequence(const unsigned char* p, size_t n) {
  unsigned char c = p[0];
  if (c < 0x80) return 1;
  unsigned len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
  if (len == 0 || len > n || c < 0xC2 || c > 0xF4) return 0;
  for (unsigned i = 1; i < len; ++i)
    if ((p[i] & 0xC0) != 0x80) return 0;
  if (c == 0xE0 && p[1] < 0xA0) return 0; /* overlong */
  if (c == 0xED && p[1] >= 0xA0) return 0; /* surrogate */
  if (c == 0xF0 && p[1] < 0x90) return 0; /* overlong */
  if (c == 0xF4 && p[1] >= 0x90) return 0; /* past U+10FFFF */
  return len;
}

static int utf8_valid(const unsigned char* p, size_t n) {
  while (n > 0) {
    unsigned len = utf8_sequence(p, n);
    if (len == 0) return 0;
    p += len;
    n -= len;
  }
  return 1;
}

wchar_t* member_name_decode(const unsigned char* raw, unsigned len, unsigned flags,
                            size_t* out_len) {
  UINT cp = (flags & ZIP_FLAG_UTF8) || utf8_valid(raw, len) ? CP_UTF8 : CP_OEMCP;
  int n = len ? MultiByteToWideChar(cp, 0, (const char*)raw, (int)len, NULL, 0) : 0;
  if (len && n <= 0) return NULL;
  wchar_t* out = malloc(((size_t)n + 1) * sizeof *out);
  if (!out) return NULL;
  if (len) MultiByteToWideChar(cp, 0, (const char*)raw, (int)len, out, n);
  out[n] = 0;
  *out_len = (size_t)n;
  return out;
}

wchar_t* member_name_printable(const wchar_t* name, size_t len) {
  wchar_t* out = malloc((len + 1) * sizeof *out);
  if (!out) return NULL;
  for (size_t i = 0; i < len; ++i)
    out[i] = name[i] < 0x20 || name[i] == 0x7F ? L'?' : name[i];
  out[len] = 0;
  return out;
}
