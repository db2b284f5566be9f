// The window loop with AVX2: masks taken 32 bytes at a time and the bit
// work done by single instructions. This file alone is compiled for AVX2,
// BMI2, POPCNT and PCLMUL; it is chosen only where avx2() found them. It
// includes no C++ header, so that no inline library function compiled for
// AVX2 can stand in for the plain one elsewhere.
#include <immintrin.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "scanloop.h"

int scanavx2(char* p, char* end, counts* c, ending* lines) {
  return sweep(p, end, c, lines);
}

// One of the four masks of 64 bytes from the compare results of its halves.
static inline uint64_t join(__m256i low, __m256i high) {
  return (uint64_t)(uint32_t)_mm256_movemask_epi8(low) |
         (uint64_t)(uint32_t)_mm256_movemask_epi8(high) << 32;
}

static inline void masks(const char* p, uint64_t* quote, uint64_t* bracket, uint64_t* space,
                         uint64_t* lf) {
  __m256i a = _mm256_loadu_si256((const __m256i*)p);
  __m256i b = _mm256_loadu_si256((const __m256i*)(p + 32));
  __m256i q = _mm256_set1_epi8('"');
  __m256i open = _mm256_set1_epi8('[');
  __m256i close = _mm256_set1_epi8(']');
  __m256i s = _mm256_set1_epi8(' ');
  __m256i n = _mm256_set1_epi8('\n');
  *quote = join(_mm256_cmpeq_epi8(a, q), _mm256_cmpeq_epi8(b, q));
  *bracket = join(_mm256_or_si256(_mm256_cmpeq_epi8(a, open), _mm256_cmpeq_epi8(a, close)),
                  _mm256_or_si256(_mm256_cmpeq_epi8(b, open), _mm256_cmpeq_epi8(b, close)));
  *space = join(_mm256_cmpeq_epi8(a, s), _mm256_cmpeq_epi8(b, s));
  *lf = join(_mm256_cmpeq_epi8(a, n), _mm256_cmpeq_epi8(b, n));
}

// As in scan-sse2.cpp, the marked bytes are XORed with 0x1B (space ^ semicolon).
// Here 32 bits at a time become a byte mask: the 32 bits are copied into
// every four bytes, the shuffle gives byte i of each 128-bit lane the byte
// of the bits that holds bit i, and byte i keeps 0xFF where bit i % 8 is set.
static inline void replace(char* p, uint64_t space, size_t left) {
  if (left < 64) {
    for (; space; space &= space - 1)
      p[lowest(space)] = ';';
    return;
  }
  const __m256i spread = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1,  //
                                          2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3);
  const __m256i bit = _mm256_set1_epi64x((long long)0x8040201008040201u);
  for (int i = 0; i < 2; i++, space >>= 32) {
    if ((uint32_t)space == 0)
      continue;
    __m256i m = _mm256_shuffle_epi8(_mm256_set1_epi32((int)(uint32_t)space), spread);
    m = _mm256_cmpeq_epi8(_mm256_and_si256(m, bit), bit);
    __m256i* at = (__m256i*)(p + (ptrdiff_t)32 * i);
    __m256i v = _mm256_loadu_si256(at);
    _mm256_storeu_si256(at, _mm256_xor_si256(v, _mm256_and_si256(m, _mm256_set1_epi8(' ' ^ ';'))));
  }
}

// The prefix XOR as a carry-less multiplication by all ones: bit i of the
// product is the XOR of bits 0 to i of x.
static inline uint64_t prefix(uint64_t x) {
  __m128i product = _mm_clmulepi64_si128(_mm_set_epi64x(0, (long long)x), _mm_set1_epi8(-1), 0);
  return (uint64_t)_mm_cvtsi128_si64(product);
}

static inline int count(uint64_t x) {
  return (int)_mm_popcnt_u64(x);
}

static inline int lowest(uint64_t x) {
  return (int)_tzcnt_u64(x);
}
