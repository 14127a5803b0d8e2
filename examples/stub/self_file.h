/* The stub's own executable file: its path and positioned reads from it. */
#ifndef SELF_FILE_H
#define SELF_FILE_H

#include <stdint.h>
#include <windows.h>

/* Full path of the running executable (malloc'd), or NULL. */
wchar_t* self_path(void);

/* The file name part of a path (points into it). */
const wchar_t* path_leaf(const wchar_t* path);

/* Opens the running executable for reading; INVALID_HANDLE_VALUE on failure. */
HANDLE self_open(uint64_t* size);

/* Reads exactly len bytes at offset; returns 0 on a short read or an error. */
int read_at(HANDLE file, uint64_t offset, void* buf, size_t len);

#endif
