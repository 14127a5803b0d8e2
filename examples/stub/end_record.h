/* The archive's end: the classic end record and, where it calls for one or a
   locator stands before it, the ZIP64 end record. */
#ifndef END_RECORD_H
#define END_RECORD_H

#include <stdint.h>
#include <windows.h>

typedef struct {
  uint64_t entries;
  uint64_t cd_size;
  uint64_t cd_offset; /* counted from the first byte of the file */
} EndRecord;

/* Finds the end of the archive within the last 64 KiB of the file. NULL on
   success, else why not: no end record, or one whose ZIP64 records are
   missing, damaged or disagree with it. */
const wchar_t* end_record_find(HANDLE file, uint64_t file_size, EndRecord* er);

#endif
