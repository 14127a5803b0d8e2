/* Directory creation for the extraction. */
#include "directories.h"

#include <stdlib.h>
#include <string.h>
#include <windows.h>

static int is_directory(const wchar_t* path) {
  DWORD a = GetFileAttributesW(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

wchar_t* long_full_path(const wchar_t* dir) {
  DWORD n = GetFullPathNameW(dir, 0, NULL, NULL);
  if (n == 0) return NULL;
  wchar_t* full = malloc((n + 8) * sizeof *full);
  if (!full) return NULL;
  wchar_t* body = full + 4;
  DWORD got = GetFullPathNameW(dir, n, body, NULL);
  if (got == 0 || got >= n) {
    free(full);
    return NULL;
  }
  if (wcsncmp(body, L"\\\\?\\", 4) == 0) {
    memmove(full, body, (got + 1) * sizeof *full);
  } else if (wcsncmp(body, L"\\\\", 2) == 0) {
    /* \\server\share becomes \\?\UNC\server\share */
    memmove(full + 8, body + 2, (got - 1) * sizeof *full);
    memcpy(full, L"\\\\?\\UNC\\", 8 * sizeof *full);
  } else {
    memcpy(full, L"\\\\?\\", 4 * sizeof *full);
  }
  /* No trailing separator: members are joined on with one. */
  size_t len = wcslen(full);
  while (len > 4 && full[len - 1] == L'\\') full[--len] = 0;
  return full;
}

size_t root_length(const wchar_t* path) {
  size_t i = 4, parts = 1; /* after \\?\ : the drive or volume */
  if (wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0) {
    i = 8;
    parts = 2; /* server and share */
  }
  for (; path[i]; ++i)
    if (path[i] == L'\\' && --parts == 0) break;
  return i;
}

int create_directories(wchar_t* path, size_t keep) {
  size_t len = wcslen(path);
  if (len <= keep) return 1;
  for (size_t i = keep + 1; i <= len; ++i) {
    if (i < len && path[i] != L'\\') continue;
    wchar_t saved = path[i];
    path[i] = 0;
    /* A failure is fine when the directory is already there. */
    if (!CreateDirectoryW(path, NULL) && !is_directory(path)) {
      path[i] = saved;
      return 0;
    }
    path[i] = saved;
  }
  return is_directory(path);
}

wchar_t* path_join(const wchar_t* dir, const wchar_t* rel) {
  size_t a = wcslen(dir), b = wcslen(rel);
  wchar_t* out = malloc((a + b + 2) * sizeof *out);
  if (!out) return NULL;
  memcpy(out, dir, a * sizeof *out);
  out[a] = L'\\';
  memcpy(out + a + 1, rel, (b + 1) * sizeof *out);
  return out;
}
