/* Console output. A console takes UTF-16 through WriteConsoleW, so any name
   shows whatever the console code page; a pipe or file gets UTF-8. */
#include "console.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

static void write_utf8(HANDLE h, const wchar_t* s, int len) {
  int n = WideCharToMultiByte(CP_UTF8, 0, s, len, NULL, 0, NULL, NULL);
  char* buf = n > 0 ? malloc((size_t)n) : NULL;
  if (!buf) return;
  WideCharToMultiByte(CP_UTF8, 0, s, len, buf, n, NULL, NULL);
  const char* p = buf;
  while (n > 0) {
    DWORD done = 0;
    if (!WriteFile(h, p, (DWORD)n, &done, NULL) || done == 0) break;
    p += done;
    n -= (int)done;
  }
  free(buf);
}

static void write_text(DWORD which, const wchar_t* s, int len) {
  HANDLE h = GetStdHandle(which);
  DWORD mode;
  if (h == NULL || h == INVALID_HANDLE_VALUE || len <= 0) return;
  if (!GetConsoleMode(h, &mode)) {
    write_utf8(h, s, len);
    return;
  }
  while (len > 0) {
    DWORD chunk = len > 8192 ? 8192 : (DWORD)len, done = 0;
    if (!WriteConsoleW(h, s, chunk, &done, NULL) || done == 0) break;
    s += done;
    len -= (int)done;
  }
}

static void con_vprint(DWORD which, const wchar_t* fmt, va_list ap) {
  va_list count;
  va_copy(count, ap);
  int len = _vscwprintf(fmt, count);
  va_end(count);
  wchar_t* buf = len >= 0 ? malloc(((size_t)len + 1) * sizeof *buf) : NULL;
  if (!buf) return;
  _vsnwprintf(buf, (size_t)len + 1, fmt, ap);
  buf[len] = 0;
  write_text(which, buf, len);
  free(buf);
}

void con_out(const wchar_t* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  con_vprint(STD_OUTPUT_HANDLE, fmt, ap);
  va_end(ap);
}

void con_err(const wchar_t* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  con_vprint(STD_ERROR_HANDLE, fmt, ap);
  va_end(ap);
}
