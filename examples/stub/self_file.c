/* The stub's own executable file. The package is appended to it, so all
   archive access goes through positioned reads of this file. */
#include "self_file.h"

#include <stdlib.h>

wchar_t* self_path(void) {
  /* GetModuleFileNameW truncates silently; grow until the path fits. */
  for (DWORD cap = MAX_PATH; cap <= 32768 * 2; cap *= 2) {
    wchar_t* buf = malloc(cap * sizeof *buf);
    if (!buf) return NULL;
    DWORD n = GetModuleFileNameW(NULL, buf, cap);
    if (n > 0 && n < cap) return buf;
    free(buf);
    if (n == 0) return NULL;
  }
  return NULL;
}

const wchar_t* path_leaf(const wchar_t* path) {
  const wchar_t* leaf = path;
  for (const wchar_t* p = path; *p; ++p)
    if (*p == L'\\' || *p == L'/' || *p == L':') leaf = p + 1;
  return leaf;
}

HANDLE self_open(uint64_t* size) {
  wchar_t* path = self_path();
  if (!path) return INVALID_HANDLE_VALUE;
  HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  free(path);
  LARGE_INTEGER li;
  if (h != INVALID_HANDLE_VALUE && !GetFileSizeEx(h, &li)) {
    CloseHandle(h);
    return INVALID_HANDLE_VALUE;
  }
  if (h != INVALID_HANDLE_VALUE) *size = (uint64_t)li.QuadPart;
  return h;
}

int read_at(HANDLE file, uint64_t offset, void* buf, size_t len) {
  unsigned char* p = buf;
  while (len > 0) {
    OVERLAPPED ov = {0};
    ov.Offset = (DWORD)offset;
    ov.OffsetHigh = (DWORD)(offset >> 32);
    DWORD want = len < (1u << 30) ? (DWORD)len : (1u << 30), got = 0;
    if (!ReadFile(file, p, want, &got, &ov) || got == 0) return 0;
    p += got;
    offset += got;
    len -= got;
  }
  return 1;
}
