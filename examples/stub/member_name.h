/* Member names: from the archive's bytes to UTF-16. */
#ifndef MEMBER_NAME_H
#define MEMBER_NAME_H

#include <stddef.h>
#include <wchar.h>

/* Decodes a raw member name: UTF-8 when the language flag (bit 11) is set or
   the bytes are valid UTF-8, the OEM code page otherwise. NUL bytes are kept
   as U+0000 so that later checks see them. Returns a malloc'd, terminated
   string and its length, or NULL when out of memory. */
wchar_t* member_name_decode(const unsigned char* raw, unsigned len, unsigned flags,
                            size_t* out_len);

/* A copy fit for printing: control characters (NUL included) become '?'. */
wchar_t* member_name_printable(const wchar_t* name, size_t len);

#endif
