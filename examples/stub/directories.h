/* The target directory and the directories inside it. */
#ifndef DIRECTORIES_H
#define DIRECTORIES_H

#include <stddef.h>
#include <wchar.h>

/* The absolute form of dir with the \\?\ prefix, so that long paths work and
   Windows does not rewrite the (already checked) member names; malloc'd. */
wchar_t* long_full_path(const wchar_t* dir);

/* Length of the part of a long path that names a drive or share. */
size_t root_length(const wchar_t* path);

/* Creates path and every missing directory above it, starting after the
   first `keep` characters (which must already exist). 1 on success. */
int create_directories(wchar_t* path, size_t keep);

/* Joins dir, '\' and rel into a new string (malloc'd). */
wchar_t* path_join(const wchar_t* dir, const wchar_t* rel);

#endif
