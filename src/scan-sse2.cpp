// The window loop with SSE2 masks, 64 bytes at a time: every x86-64
// processor has SSE2, which compares 16 bytes at once.
#include <emmintrin.h>
#include <stddef.h>
#include <stdint.h>

#include "scanbits.h"
#include "scanloop.h"

int scansse2(char* p, char* end, counts* c, ending* lines) {
  return sweep(p, end, c, lines);
}

static inline void masks(const char* p, uint64_t* quote, uint64_t* bracket, uint64_t* space,
                         uint64_t* lf) {
  *quote = *bracket = *space = *lf = 0;
  for (int i = 0; i < 4; i++) {
    int at = 16 * i;
    __m128i v = _mm_loadu_si128((const __m128i*)(p + at));
    *quote |= (uint64_t)(unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('"'))) << at;
    *bracket |= (uint64_t)(unsigned)_mm_movemask_epi8(_mm_or_si128(
                    _mm_cmpeq_epi8(v, _mm_set1_epi8('[')), _mm_cmpeq_epi8(v, _mm_set1_epi8(']'))))
                << at;
    *space |= (uint64_t)(unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(' '))) << at;
    *lf |= (uint64_t)(unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))) << at;
  }
}

// Turns the spaces that the mask marks, bit i for p[i], into semicolons;
// p has left bytes. Space (0x20) and semicolon (0x3B) differ in the bits
// 0x1B, so the marked bytes are XORed with 0x1B. The mask becomes a byte
// mask 16 bits at a time: the two bytes b0 b1 of the 16 bits are spread to
// b0 eight times, then b1 eight times, and byte i keeps 0xFF where it has
// bit i % 8 set. A loop with a store per separator costs more, as its exit
// is hard to predict; it serves the last bytes, where 16 may not be there.
static inline void replace(char* p, uint64_t space, size_t left) {
  if (left < 64) {
    for (; space; space &= space - 1)
      p[lowest(space)] = ';';
    return;
  }
  const __m128i bit = _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
  for (int i = 0; i < 4; i++, space >>= 16) {
    if ((space & 0xffff) == 0)
      continue;
    __m128i m = _mm_cvtsi32_si128((int)(space & 0xffff));
    m = _mm_unpacklo_epi8(m, m);
    m = _mm_unpacklo_epi16(m, m);
    m = _mm_unpacklo_epi32(m, m);
    m = _mm_cmpeq_epi8(_mm_and_si128(m, bit), bit);
    __m128i* at = (__m128i*)(p + (ptrdiff_t)16 * i);
    __m128i v = _mm_loadu_si128(at);
    _mm_storeu_si128(at, _mm_xor_si128(v, _mm_and_si128(m, _mm_set1_epi8(' ' ^ ';'))));
  }
}
