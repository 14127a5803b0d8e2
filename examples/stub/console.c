/* Console output. A console takes UTF-16 through WriteConsoleW, so any name
   shows whatever the console code page; a pipe or file gets UTF-8. */
#include "console.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

/* Output to a pipe or file is gathered here and written in large pieces
   (a listing of 100,000 members is one write per 16 KiB, not per line);
   it is flushed before anything goes to standard error, and at exit. */
static char out_buf[16384];
static size_t out_len;
static HANDLE out_handle;

static void write_all(HANDLE h, const char* p, size_t n) {
  while (n > 0) {
    DWORD done = 0;
    DWORD chunk = n > (1u << 30) ? (1u << 30) : (DWORD)n;
    if (!WriteFile(h, p, chunk, &done, NULL) || done == 0) break;
    p += done;
    n -= done;
  }
}

static void flush_out(void) {
  if (out_len) write_all(out_handle, out_buf, out_len);
  out_len = 0;
}

static void write_utf8(DWORD which, HANDLE h, const wchar_t* s, int len) {
  int n = WideCharToMultiByte(CP_UTF8, 0, s, len, NULL, 0, NULL, NULL);
  char* buf = n > 0 ? malloc((size_t)n) : NULL;
  if (!buf) return;
  WideCharToMultiByte(CP_UTF8, 0, s, len, buf, n, NULL, NULL);
  static int flush_at_exit;
  if (which != STD_OUTPUT_HANDLE || out_len + (size_t)n > sizeof out_buf) flush_out();
  if (which == STD_OUTPUT_HANDLE && (size_t)n <= sizeof out_buf) {
    if (!flush_at_exit) flush_at_exit = atexit(flush_out) == 0;
    out_handle = h;
    memcpy(out_buf + out_len, buf, (size_t)n);
    out_len += (size_t)n;
  } else {
    write_all(h, buf, (size_t)n);
  }
  free(buf);
}

/* 1 when the stream is a console; asked once per stream. */
static int is_console(DWORD which, HANDLE h) {
  static int known[2], console[2];
  int i = which == STD_ERROR_HANDLE;
  DWORD mode;
  if (!known[i]) {
    console[i] = GetConsoleMode(h, &mode) != 0;
    known[i] = 1;
  }
  return console[i];
}

static void write_text(DWORD which, const wchar_t* s, int len) {
  HANDLE h = GetStdHandle(which);
  if (h == NULL || h == INVALID_HANDLE_VALUE || len <= 0) return;
  if (!is_console(which, h)) {
    write_utf8(which, h, s, len);
    return;
  }
  if (which == STD_ERROR_HANDLE) flush_out();
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
