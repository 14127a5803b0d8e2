/* Locating the archive's end records. An end record is taken only when the
   central directory it names ends exactly where the record (or the ZIP64
   end record) starts: a signature or other data appended behind the archive,
   or a ZIP64 record planted inside member data, cannot be mistaken for it. */
#include "end_record.h"

#include <stdlib.h>
#include <string.h>

#include "le_bytes.h"
#include "self_file.h"

enum { EOCD_SIZE = 22, LOCATOR_SIZE = 20, EOCD64_SIZE = 56, MAX_COMMENT = 65535 };

#define U16_HOLDER 0xFFFFu
#define U32_HOLDER 0xFFFFFFFFu

typedef struct {
  unsigned disk, cd_disk, disk_entries, entries;
  uint32_t cd_size, cd_offset;
} Classic;

static void classic_parse(const unsigned char* p, Classic* c) {
  c->disk = le16(p + 4);
  c->cd_disk = le16(p + 6);
  c->disk_entries = le16(p + 8);
  c->entries = le16(p + 10);
  c->cd_size = le32(p + 12);
  c->cd_offset = le32(p + 16);
}

static int has_placeholder(const Classic* c) {
  return c->disk == U16_HOLDER || c->cd_disk == U16_HOLDER || c->disk_entries == U16_HOLDER ||
         c->entries == U16_HOLDER || c->cd_size == U32_HOLDER || c->cd_offset == U32_HOLDER;
}

static int classic_fits(const Classic* c, uint64_t pos) {
  return c->disk == 0 && c->cd_disk == 0 && c->disk_entries == c->entries &&
         (uint64_t)c->cd_offset + c->cd_size == pos;
}

/* Each classic field holds its placeholder or the ZIP64 record's value. */
static int classic_agrees(const Classic* c, const EndRecord* er) {
  return (c->disk == U16_HOLDER || c->disk == 0) &&
         (c->cd_disk == U16_HOLDER || c->cd_disk == 0) &&
         (c->disk_entries == U16_HOLDER || c->disk_entries == er->entries) &&
         (c->entries == U16_HOLDER || c->entries == er->entries) &&
         (c->cd_size == U32_HOLDER || c->cd_size == er->cd_size) &&
         (c->cd_offset == U32_HOLDER || c->cd_offset == er->cd_offset);
}

/* The ZIP64 end record named by the locator just before the end record at
   pos, checked against it; NULL or why not. */
static const wchar_t* zip64_end(HANDLE file, const Classic* c, uint64_t pos, EndRecord* er) {
  unsigned char loc[LOCATOR_SIZE], rec[EOCD64_SIZE];
  if (pos < LOCATOR_SIZE || !read_at(file, pos - LOCATOR_SIZE, loc, LOCATOR_SIZE) ||
      memcmp(loc, "PK\6\7", 4) != 0)
    return L"the archive is damaged (its end record calls for a missing ZIP64 end record)";
  uint64_t loc_pos = pos - LOCATOR_SIZE, at = le64(loc + 8);
  if (le32(loc + 4) != 0 || le32(loc + 16) > 1)
    return L"archives split over several disks are not supported";
  if (at > loc_pos || loc_pos - at < EOCD64_SIZE || !read_at(file, at, rec, EOCD64_SIZE) ||
      memcmp(rec, "PK\6\6", 4) != 0)
    return L"the archive is damaged (its ZIP64 locator points at no ZIP64 end record)";
  if (le64(rec + 4) != loc_pos - at - 12)
    return L"the archive is damaged (its ZIP64 end record does not end where its locator begins)";
  if (le32(rec + 16) != 0 || le32(rec + 20) != 0)
    return L"archives split over several disks are not supported";
  er->entries = le64(rec + 32);
  er->cd_size = le64(rec + 40);
  er->cd_offset = le64(rec + 48);
  if (le64(rec + 24) != er->entries || !classic_agrees(c, er))
    return L"the archive is damaged (its ZIP64 end record disagrees with its end record)";
  if (er->cd_size > at || er->cd_offset != at - er->cd_size)
    return L"the archive is damaged (its central directory does not end where its ZIP64 end "
           L"record begins)";
  return NULL;
}

/* 1 when the record at buf[i] (file position base + i) ends the archive;
   a ZIP64 candidate that fails leaves its reason in *why. */
static int end_at(HANDLE file, const unsigned char* p, uint64_t pos, uint64_t file_size,
                  EndRecord* er, const wchar_t** why) {
  if (memcmp(p, "PK\5\6", 4) != 0 || pos + EOCD_SIZE + le16(p + 20) > file_size) return 0;
  Classic c;
  classic_parse(p, &c);
  if (!has_placeholder(&c) && classic_fits(&c, pos)) {
    er->entries = c.entries;
    er->cd_size = c.cd_size;
    er->cd_offset = c.cd_offset;
    return 1;
  }
  unsigned char loc[4];
  int locator = pos >= LOCATOR_SIZE && read_at(file, pos - LOCATOR_SIZE, loc, 4) &&
                memcmp(loc, "PK\6\7", 4) == 0;
  if (!has_placeholder(&c) && !locator) return 0;
  const wchar_t* fault = zip64_end(file, &c, pos, er);
  if (!fault) return 1;
  if (!*why) *why = fault;
  return 0;
}

const wchar_t* end_record_find(HANDLE file, uint64_t file_size, EndRecord* er) {
  if (file_size < EOCD_SIZE) return L"no package found (the file is too short)";
  DWORD tail = file_size < MAX_COMMENT + EOCD_SIZE ? (DWORD)file_size : MAX_COMMENT + EOCD_SIZE;
  unsigned char* buf = malloc(tail);
  if (!buf) return L"out of memory";
  uint64_t base = file_size - tail;
  const wchar_t* fault = NULL;
  int found = 0;
  if (!read_at(file, base, buf, tail)) {
    fault = L"cannot read the file";
  } else {
    for (DWORD i = tail - EOCD_SIZE + 1; i-- > 0 && !found;)
      found = end_at(file, buf + i, base + i, file_size, er, &fault);
  }
  free(buf);
  if (found) return NULL;
  return fault ? fault : L"no package found (no ZIP end record)";
}
