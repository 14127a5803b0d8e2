/* Member names checked before they become paths under the target directory. */
#ifndef SAFE_PATH_H
#define SAFE_PATH_H

#include <stddef.h>
#include <wchar.h>

/* Turns a decoded member name into a relative Windows path (components
   joined by '\'), or returns NULL and the reason when the name could leave
   the target directory or cannot name a Windows file as it stands. A name
   ending in a separator is a directory: *is_dir is set and the separator
   dropped. */
wchar_t* safe_relative_path(const wchar_t* name, size_t len, int* is_dir, const wchar_t** why);

#endif
