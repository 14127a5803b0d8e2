/* The version resource of the stub's own file. */
#ifndef VERSION_STRINGS_H
#define VERSION_STRINGS_H

#include <wchar.h>

typedef struct {
  void* block;        /* as GetFileVersionInfoW returns it */
  wchar_t table[16];  /* language and code page of the translation found */
} VersionInfo;

/* Loads the running file's version information; 0 when it has none. */
int version_load(VersionInfo* vi);
void version_free(VersionInfo* vi);

/* The string under key, or NULL. */
const wchar_t* version_string(const VersionInfo* vi, const wchar_t* key);

/* Prints the known strings as "Key: value" and the fixed file version. */
void version_print(const VersionInfo* vi);

#endif
