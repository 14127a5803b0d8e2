/* Reading the package archive's central directory. Nothing in the archive
   is trusted: every size and offset is checked against the file before it
   is used. */
#include "zip_reader.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "end_record.h"
#include "le_bytes.h"
#include "self_file.h"

enum { CDH_SIZE = 46, LFH_SIZE = 30, ZIP64_EXTRA_ID = 1 };

#define U32_HOLDER 0xFFFFFFFFu

/* Replaces the 32-bit placeholders of m by the 64-bit values of its ZIP64
   extra field, which holds exactly those fields, in this order. 0 when the
   extra field cannot be walked or lacks a field a placeholder calls for. */
static int apply_zip64_extra(const unsigned char* extra, unsigned len, ZipMember* m) {
  int need_u = m->usize == U32_HOLDER, need_c = m->csize == U32_HOLDER;
  int need_o = m->local_offset == U32_HOLDER;
  unsigned want = 8u * (need_u + need_c + need_o);
  if (want == 0) return 1;
  while (len >= 4) {
    unsigned id = le16(extra), size = le16(extra + 2);
    if (size > len - 4) return 0;
    if (id == ZIP64_EXTRA_ID) {
      if (size < want) return 0;
      const unsigned char* f = extra + 4;
      if (need_u) {
        m->usize = le64(f);
        f += 8;
      }
      if (need_c) {
        m->csize = le64(f);
        f += 8;
      }
      if (need_o) m->local_offset = le64(f);
      return 1;
    }
    extra += 4 + size;
    len -= 4 + size;
  }
  return 0;
}

/* Fills m from the central header at cd[*pos]; 0 when it does not fit. */
static int parse_central_header(const unsigned char* cd, uint64_t cd_size, uint64_t* pos,
                                ZipMember* m) {
  if (cd_size - *pos < CDH_SIZE) return 0;
  const unsigned char* h = cd + *pos;
  if (memcmp(h, "PK\1\2", 4) != 0) return 0;
  unsigned name_len = le16(h + 28), extra_len = le16(h + 30);
  uint32_t var = (uint32_t)name_len + extra_len + le16(h + 32);
  if (cd_size - *pos - CDH_SIZE < var) return 0;
  m->flags = le16(h + 8);
  m->method = le16(h + 10);
  m->dos_time = le16(h + 12);
  m->dos_date = le16(h + 14);
  m->crc = le32(h + 16);
  m->csize = le32(h + 20);
  m->usize = le32(h + 24);
  m->name_len = name_len;
  m->local_offset = le32(h + 42);
  m->name = h + CDH_SIZE;
  m->damaged = NULL;
  if (!apply_zip64_extra(h + CDH_SIZE + name_len, extra_len, m))
    m->damaged = L"its ZIP64 extra field lacks a size or offset its header calls for";
  *pos += CDH_SIZE + var;
  return 1;
}

const wchar_t* zip_open(ZipArchive* za, HANDLE file, uint64_t file_size) {
  memset(za, 0, sizeof *za);
  za->file = file;
  za->file_size = file_size;
  EndRecord er;
  const wchar_t* why = end_record_find(file, file_size, &er);
  if (why) return why;
  /* cd_offset + cd_size is the position of an end record (checked). */
  if (er.entries > er.cd_size / CDH_SIZE)
    return L"the archive is damaged (its central directory cannot hold the members it counts)";
  if (er.entries > INT_MAX || er.cd_size > SIZE_MAX) return L"the archive has too many members";
  za->cd_offset = er.cd_offset;
  za->cd = malloc(er.cd_size ? (size_t)er.cd_size : 1);
  za->members = calloc(er.entries ? (size_t)er.entries : 1, sizeof *za->members);
  if (!za->cd || !za->members) return L"out of memory";
  if (!read_at(file, er.cd_offset, za->cd, (size_t)er.cd_size))
    return L"cannot read the central directory";
  uint64_t pos = 0;
  for (uint64_t i = 0; i < er.entries; ++i) {
    if (!parse_central_header(za->cd, er.cd_size, &pos, &za->members[i]))
      return L"the archive's central directory is damaged";
  }
  za->count = (unsigned)er.entries;
  return NULL;
}

void zip_close(ZipArchive* za) {
  free(za->cd);
  free(za->members);
  memset(za, 0, sizeof *za);
}

const wchar_t* zip_member_data(const ZipArchive* za, const ZipMember* m, uint64_t* start) {
  if (m->damaged) return m->damaged;
  if (m->local_offset > za->cd_offset || za->cd_offset - m->local_offset < LFH_SIZE)
    return L"its local header lies outside the archive";
  unsigned char h[LFH_SIZE];
  if (!read_at(za->file, m->local_offset, h, LFH_SIZE)) return L"cannot read its local header";
  if (memcmp(h, "PK\3\4", 4) != 0) return L"its local header is damaged";
  uint64_t data = m->local_offset + LFH_SIZE + le16(h + 26) + le16(h + 28);
  if (data > za->cd_offset || m->csize > za->cd_offset - data)
    return L"its data runs past the end of the archive";
  *start = data;
  return NULL;
}
