/* Reads the ZIP archive appended to the stub. Offsets in it count from the
   first byte of the whole file, as zipgraft lays the package out. Sizes,
   offsets and the member count may come from ZIP64 records. */
#ifndef ZIP_READER_H
#define ZIP_READER_H

#include <stdint.h>
#include <windows.h>

typedef struct {
  const unsigned char* name; /* raw bytes inside the central directory */
  unsigned name_len;
  unsigned flags;
  unsigned method;
  unsigned dos_time;
  unsigned dos_date;
  uint32_t crc;
  uint64_t csize;
  uint64_t usize;
  uint64_t local_offset;
  const wchar_t* damaged; /* why its data cannot be reached, or NULL */
} ZipMember;

typedef struct {
  HANDLE file;
  uint64_t file_size;
  uint64_t cd_offset; /* member data must lie before this */
  unsigned char* cd;  /* the central directory */
  ZipMember* members;
  unsigned count;
} ZipArchive;

/* Finds and reads the central directory; returns NULL on success or why not. */
const wchar_t* zip_open(ZipArchive* za, HANDLE file, uint64_t file_size);
void zip_close(ZipArchive* za);

/* Checks a member's local header and where its data lies; NULL or why not. */
const wchar_t* zip_member_data(const ZipArchive* za, const ZipMember* m, uint64_t* start);

#define ZIP_FLAG_ENCRYPTED 0x0001u
#define ZIP_FLAG_UTF8 0x0800u

#endif
