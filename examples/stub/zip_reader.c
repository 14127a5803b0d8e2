/* Locating the package archive and reading its central directory. Nothing
   in the archive is trusted: every size and offset is checked against the
   file before it is used. */
#include "zip_reader.h"

#include <stdlib.h>
#include <string.h>

#include "self_file.h"

enum { EOCD_SIZE = 22, CDH_SIZE = 46, LFH_SIZE = 30, MAX_COMMENT = 65535 };

static unsigned le16(const unsigned char* p) { return p[0] | (p[1] << 8); }

static uint32_t le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

typedef struct {
  unsigned entries;
  uint32_t cd_size;
  uint32_t cd_offset;
  int zip64;
} EndRecord;

/* An end record is taken only when the central directory it names ends
   exactly where the record starts: a signature or other data appended
   behind the archive cannot be mistaken for it. */
static int end_record_fits(const unsigned char* p, uint64_t pos, uint64_t file_size,
                           EndRecord* er) {
  if (memcmp(p, "PK\5\6", 4) != 0) return 0;
  if (pos + EOCD_SIZE + le16(p + 20) > file_size) return 0;
  er->entries = le16(p + 10);
  er->cd_size = le32(p + 12);
  er->cd_offset = le32(p + 16);
  er->zip64 = er->entries == 0xFFFF || er->cd_size == 0xFFFFFFFFu ||
              er->cd_offset == 0xFFFFFFFFu;
  if (er->zip64) return 1;
  if (le16(p + 4) != 0 || le16(p + 6) != 0 || le16(p + 8) != er->entries) return 0;
  return (uint64_t)er->cd_offset + er->cd_size == pos;
}

static const wchar_t* find_end_record(HANDLE file, uint64_t file_size, EndRecord* er) {
  if (file_size < EOCD_SIZE) return L"no package found (the file is too short)";
  DWORD tail = file_size < MAX_COMMENT + EOCD_SIZE ? (DWORD)file_size : MAX_COMMENT + EOCD_SIZE;
  unsigned char* buf = malloc(tail);
  if (!buf) return L"out of memory";
  uint64_t base = file_size - tail;
  const wchar_t* why = L"no package found (no ZIP end record)";
  if (!read_at(file, base, buf, tail)) {
    why = L"cannot read the file";
  } else {
    for (DWORD i = tail - EOCD_SIZE + 1; i-- > 0;) {
      if (end_record_fits(buf + i, base + i, file_size, er)) {
        why = er->zip64 ? L"ZIP64 archives are not supported" : NULL;
        break;
      }
    }
  }
  free(buf);
  return why;
}

/* Fills m from the central header at cd[*pos]; 0 when it does not fit. */
static int parse_central_header(const unsigned char* cd, uint32_t cd_size, uint32_t* pos,
                                ZipMember* m) {
  if (cd_size - *pos < CDH_SIZE) return 0;
  const unsigned char* h = cd + *pos;
  if (memcmp(h, "PK\1\2", 4) != 0) return 0;
  uint32_t var = (uint32_t)le16(h + 28) + le16(h + 30) + le16(h + 32);
  if (cd_size - *pos - CDH_SIZE < var) return 0;
  m->flags = le16(h + 8);
  m->method = le16(h + 10);
  m->dos_time = le16(h + 12);
  m->dos_date = le16(h + 14);
  m->crc = le32(h + 16);
  m->csize = le32(h + 20);
  m->usize = le32(h + 24);
  m->name_len = le16(h + 28);
  m->local_offset = le32(h + 42);
  m->name = h + CDH_SIZE;
  *pos += CDH_SIZE + var;
  return 1;
}

const wchar_t* zip_open(ZipArchive* za, HANDLE file, uint64_t file_size) {
  memset(za, 0, sizeof *za);
  za->file = file;
  za->file_size = file_size;
  EndRecord er;
  const wchar_t* why = find_end_record(file, file_size, &er);
  if (why) return why;
  za->cd_offset = er.cd_offset;
  /* cd_size is bounded by the file (checked above), and entries by cd_size. */
  za->cd = malloc(er.cd_size ? er.cd_size : 1);
  za->members = calloc(er.entries ? er.entries : 1, sizeof *za->members);
  if (!za->cd || !za->members) return L"out of memory";
  if (!read_at(file, er.cd_offset, za->cd, er.cd_size)) return L"cannot read the central directory";
  uint32_t pos = 0;
  for (unsigned i = 0; i < er.entries; ++i) {
    if (!parse_central_header(za->cd, er.cd_size, &pos, &za->members[i]))
      return L"the archive's central directory is damaged";
  }
  za->count = er.entries;
  return NULL;
}

void zip_close(ZipArchive* za) {
  free(za->cd);
  free(za->members);
  memset(za, 0, sizeof *za);
}

const wchar_t* zip_member_data(const ZipArchive* za, const ZipMember* m, uint64_t* start) {
  if (m->csize == 0xFFFFFFFFu || m->usize == 0xFFFFFFFFu || m->local_offset == 0xFFFFFFFFu)
    return L"ZIP64 members are not supported";
  if ((uint64_t)m->local_offset + LFH_SIZE > za->cd_offset)
    return L"its local header lies outside the archive";
  unsigned char h[LFH_SIZE];
  if (!read_at(za->file, m->local_offset, h, LFH_SIZE)) return L"cannot read its local header";
  if (memcmp(h, "PK\3\4", 4) != 0) return L"its local header is damaged";
  uint64_t data = (uint64_t)m->local_offset + LFH_SIZE + le16(h + 26) + le16(h + 28);
  if (data + m->csize > za->cd_offset) return L"its data runs past the end of the archive";
  *start = data;
  return NULL;
}
