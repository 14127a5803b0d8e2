/* Little-endian integers as the ZIP records hold them. */
#ifndef LE_BYTES_H
#define LE_BYTES_H

#include <stdint.h>

static inline unsigned le16(const unsigned char* p) { return p[0] | (p[1] << 8); }

static inline uint32_t le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

static inline uint64_t le64(const unsigned char* p) {
  return le32(p) | ((uint64_t)le32(p + 4) << 32);
}

#endif
