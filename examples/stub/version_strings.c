/* Version strings through the version API, as Explorer shows them. */
#include "version_strings.h"

#include <stdlib.h>
#include <windows.h>

#include "console.h"
#include "self_file.h"

/* zipgraft writes this table; it is also the usual default. */
static const wchar_t kDefaultTable[] = L"040904b0";

int version_load(VersionInfo* vi) {
  vi->block = NULL;
  wcscpy(vi->table, kDefaultTable);
  wchar_t* path = self_path();
  DWORD handle = 0;
  DWORD size = path ? GetFileVersionInfoSizeW(path, &handle) : 0;
  vi->block = size ? malloc(size) : NULL;
  if (vi->block && !GetFileVersionInfoW(path, 0, size, vi->block)) {
    free(vi->block);
    vi->block = NULL;
  }
  free(path);
  if (!vi->block) return 0;
  WORD* pair = NULL;
  UINT len = 0;
  if (VerQueryValueW(vi->block, L"\\VarFileInfo\\Translation", (void**)&pair, &len) && len >= 4)
    _snwprintf(vi->table, 16, L"%04x%04x", pair[0], pair[1]);
  return 1;
}

void version_free(VersionInfo* vi) {
  free(vi->block);
  vi->block = NULL;
}

static const wchar_t* query_string(const VersionInfo* vi, const wchar_t* table,
                                   const wchar_t* key) {
  wchar_t sub[128];
  _snwprintf(sub, 128, L"\\StringFileInfo\\%ls\\%ls", table, key);
  sub[127] = 0;
  wchar_t* value = NULL;
  UINT len = 0;
  if (!VerQueryValueW(vi->block, sub, (void**)&value, &len) || !value) return NULL;
  return value;
}

const wchar_t* version_string(const VersionInfo* vi, const wchar_t* key) {
  if (!vi->block) return NULL;
  const wchar_t* v = query_string(vi, vi->table, key);
  return v ? v : query_string(vi, kDefaultTable, key);
}

void version_print(const VersionInfo* vi) {
  static const wchar_t* const keys[] = {
      L"ProductName",    L"ProductVersion", L"FileDescription", L"FileVersion",
      L"CompanyName",    L"LegalCopyright", L"LegalTrademarks", L"InternalName",
      L"OriginalFilename", L"Comments",     L"PrivateBuild"};
  for (size_t i = 0; i < sizeof keys / sizeof keys[0]; ++i) {
    const wchar_t* v = version_string(vi, keys[i]);
    if (v) con_out(L"%ls: %ls\n", keys[i], v);
  }
  VS_FIXEDFILEINFO* fixed = NULL;
  UINT len = 0;
  if (vi->block && VerQueryValueW(vi->block, L"\\", (void**)&fixed, &len) &&
      len >= sizeof *fixed && fixed->dwSignature == 0xFEEF04BDu)
    con_out(L"Fixed file version: %u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS),
            LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
            LOWORD(fixed->dwFileVersionLS));
}
