#include "zip/crc32.h"

#include <zlib.h>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#include <immintrin.h>
#define ZG_CRC32_FOLDS 1
#endif

namespace trvzip {

namespace {

// Runs shorter than this are zlib's: the fold's set-up would cost more.
constexpr std::size_t kShortest = 64;

#ifdef ZG_CRC32_FOLDS

// Folding 128 bits forward by 512 bits (four lanes at once) and by 128 bits,
// the constants of x^n mod P for the reflected polynomial: x^(4*128+32) and
// x^(4*128-32), x^(128+32) and x^(128-32), then x^64 for the 64-bit fold, and
// P with floor(x^64 / P) for the Barrett reduction to 32 bits.
constexpr long long kFold512Low = 0x154442bd4, kFold512High = 0x1c6e41596;
constexpr long long kFold128Low = 0x1751997d0, kFold128High = 0x0ccaa009e;
constexpr long long kFold64 = 0x163cd6124;
constexpr long long kPolynomial = 0x1db710641, kQuotient = 0x1f7011641;

__attribute__((target("pclmul"))) inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
  const __m128i low = _mm_clmulepi64_si128(x, k, 0x00);
  const __m128i high = _mm_clmulepi64_si128(x, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

inline __m128i Load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// The running (not inverted) CRC of n bytes, n a multiple of 16 and at least 64.
__attribute__((target("pclmul"))) uint32_t FoldBlocks(uint32_t crc, const uint8_t* p,
                                                      std::size_t n) {
  const __m128i by512 = _mm_set_epi64x(kFold512High, kFold512Low);
  const __m128i by128 = _mm_set_epi64x(kFold128High, kFold128Low);
  __m128i x1 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x2 = Load(p + 16), x3 = Load(p + 32), x4 = Load(p + 48);
  for (p += 64, n -= 64; n >= 64; p += 64, n -= 64) {
    x1 = Fold(x1, by512, Load(p));
    x2 = Fold(x2, by512, Load(p + 16));
    x3 = Fold(x3, by512, Load(p + 32));
    x4 = Fold(x4, by512, Load(p + 48));
  }
  x1 = Fold(Fold(Fold(x1, by128, x2), by128, x3), by128, x4);
  for (; n >= 16; p += 16, n -= 16) x1 = Fold(x1, by128, Load(p));
  // 128 bits to 64 (with the 32 zero bits a CRC appends), then to 32.
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, by128, 0x10));
  const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);
  const __m128i by64 = _mm_set_epi64x(0, kFold64);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 4),
                     _mm_clmulepi64_si128(_mm_and_si128(x1, low32), by64, 0x00));
  const __m128i barrett = _mm_set_epi64x(kQuotient, kPolynomial);
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), barrett, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), barrett, 0x00);
  return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(_mm_xor_si128(x1, t), 4)));
}

bool Folds() {
  static const bool folds = [] {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (ecx & bit_PCLMUL) != 0;
  }();
  return folds;
}

#endif

uint32_t Zlib(uint32_t crc, const uint8_t* data, std::size_t n) {
  return static_cast<uint32_t>(crc32_z(crc, data, n));
}

}  // namespace

uint32_t Crc32(uint32_t crc, const uint8_t* data, std::size_t n) {
#ifdef ZG_CRC32_FOLDS
  if (n >= kShortest && Folds()) {
    const std::size_t blocks = n & ~std::size_t{15};
    const uint32_t folded = FoldBlocks(~crc, data, blocks);
    return Zlib(~folded, data + blocks, n - blocks);
  }
#endif
  return Zlib(crc, data, n);
}

}  // namespace trvzip
