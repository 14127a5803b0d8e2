/* Stored and deflated member data. Declared sizes come from a possibly
   hostile archive, so nothing is allocated by them: data moves in fixed
   blocks, and output beyond the declared size is an error. */
#include "member_data.h"

#include <zlib.h>

#include "self_file.h"

enum { BLOCK = 64 * 1024 };
static unsigned char in_buf[BLOCK];
static unsigned char out_buf[BLOCK];

typedef struct {
  HANDLE out;
  uint32_t crc;
  uint64_t written;
  uint64_t limit;
} Sink;

static const wchar_t* sink_put(Sink* s, const unsigned char* p, DWORD n) {
  if (n > s->limit - s->written) return L"more data than its declared size";
  s->crc = (uint32_t)crc32(s->crc, p, n);
  s->written += n;
  while (n > 0) {
    DWORD done = 0;
    if (!WriteFile(s->out, p, n, &done, NULL) || done == 0) return L"cannot write the file";
    p += done;
    n -= done;
  }
  return NULL;
}

static const wchar_t* copy_stored(HANDLE archive, uint64_t pos, uint64_t size, Sink* s) {
  while (size > 0) {
    DWORD n = size < BLOCK ? (DWORD)size : BLOCK;
    if (!read_at(archive, pos, in_buf, n)) return L"cannot read the archive";
    const wchar_t* why = sink_put(s, in_buf, n);
    if (why) return why;
    pos += n;
    size -= n;
  }
  return NULL;
}

/* One inflate step over what is in the input buffer; Z_* result. */
static int inflate_some(z_stream* zs, Sink* s, const wchar_t** why) {
  zs->next_out = out_buf;
  zs->avail_out = BLOCK;
  int rc = inflate(zs, Z_NO_FLUSH);
  DWORD produced = BLOCK - zs->avail_out;
  if (produced > 0 && (*why = sink_put(s, out_buf, produced)) != NULL) return Z_STREAM_ERROR;
  return rc;
}

static const wchar_t* copy_deflated(HANDLE archive, uint64_t pos, uint64_t csize, Sink* s) {
  z_stream zs = {0};
  if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return L"out of memory";
  const wchar_t* why = NULL;
  uint64_t left = csize;
  for (;;) {
    if (zs.avail_in == 0 && left > 0) {
      DWORD n = left < BLOCK ? (DWORD)left : BLOCK;
      if (!read_at(archive, pos, in_buf, n)) {
        why = L"cannot read the archive";
        break;
      }
      zs.next_in = in_buf;
      zs.avail_in = n;
      pos += n;
      left -= n;
    }
    int rc = inflate_some(&zs, s, &why);
    if (rc == Z_STREAM_END || why) break;
    if (rc == Z_BUF_ERROR && zs.avail_in == 0 && left == 0) {
      why = L"its compressed data ends early";
      break;
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      why = L"its compressed data is damaged";
      break;
    }
  }
  inflateEnd(&zs);
  return why;
}

const wchar_t* member_data_write(HANDLE archive, uint64_t start, const ZipMember* m, HANDLE out) {
  Sink s = {out, 0, 0, m->usize};
  const wchar_t* why;
  if (m->method == 0) {
    if (m->csize != m->usize) return L"stored sizes disagree";
    why = copy_stored(archive, start, m->csize, &s);
  } else if (m->method == 8) {
    why = copy_deflated(archive, start, m->csize, &s);
  } else {
    return L"unsupported compression method";
  }
  if (why) return why;
  if (s.written != m->usize) return L"its size differs from the declared size";
  if (s.crc != m->crc) return L"CRC-32 mismatch, the data is damaged";
  return NULL;
}
