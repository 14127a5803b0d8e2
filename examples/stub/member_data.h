/* A member's data, decompressed and checked on its way to a file. */
#ifndef MEMBER_DATA_H
#define MEMBER_DATA_H

#include <stdint.h>
#include <windows.h>

#include "zip_reader.h"

/* Writes the member stored or deflated at `start` in `archive` to `out`,
   checking its size and CRC-32. Returns NULL when the data came out whole,
   else the reason. Streams in small blocks whatever the declared sizes. */
const wchar_t* member_data_write(HANDLE archive, uint64_t start, const ZipMember* m, HANDLE out);

#endif
