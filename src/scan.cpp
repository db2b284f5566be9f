// The classification of a line's bytes: bytewise() states the rules
// plainly, one byte at a time; blockwise() does the same on 64 bytes at once
// with SSE2, and blockwide() (scan-avx2.cpp) with AVX2 where the processor
// has it; scan() picks the fastest. The tests hold every one of them to
// bytewise(), byte for byte, on fixed and random inputs and across every
// place where a window or a block can end.
//
// The rules: a double quote always counts; a bracket, '[' or ']' alike,
// counts while the quotes before it in its line are even; a space while both
// the quotes and the brackets before it are even is a separator and becomes
// a semicolon. A line feed ends the line; everything else is copied as it is.
#include <stddef.h>
#include <string.h>

#include "zettrik.h"

// Platform difference: x86-64 always has SSE2, which compares 16 bytes at
// once; other processors take the same 64-bit masks from a plain loop. The
// portable loop can be chosen on x86-64 too, to test it.
#if (defined(__SSE2__) || defined(_M_X64)) && !defined(ZETTRIK_PORTABLE)
#include <emmintrin.h>
#define ZETTRIK_SSE2 1
#endif
#ifdef _MSC_VER
#include <intrin.h>
#endif

// Scans the bytes from p to end one at a time: turns the separating spaces
// into semicolons in place and counts into c. Every line feed finishes a
// line, which is told in lines[], and c starts again from zero; lines[] has
// room for as many lines as there are bytes. Returns the number of lines
// told; c holds the counts of the line that end cut.
int bytewise(char* p, char* end, counts* c, ending* lines) {
  int n = 0;
  while (p < end) {
    char ch = *p++;
    if (ch == '"')
      c->quotes++;
    else if ((ch == '[' || ch == ']') && even(c->quotes))
      c->brackets++;
    else if (ch == ' ' && even(c->quotes) && even(c->brackets)) {
      c->separators++;
      p[-1] = ';';
    } else if (ch == '\n') {
      lines[n].next = p;
      lines[n].shaped = c->separators == 8 && c->quotes == 6 && c->brackets == 2;
      n++;
      c->quotes = c->brackets = c->separators = 0;
    }
  }
  return n;
}

#include "scanloop.h"

// The block scan with SSE2, or with the portable masks.
int blockwise(char* p, char* end, counts* c, ending* lines) {
  return windows(p, end, c, lines);
}

// Whether this processor runs blockwide(): AVX2 for the masks, and the bit
// instructions that came with it. The compiler's check includes the
// operating system's support for the wide registers.
int wide() {
#ifdef ZETTRIK_AVX2
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
         __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt") &&
         __builtin_cpu_supports("pclmul");
#else
  return 0;
#endif
}

// The fastest block scan that this processor runs.
int scan(char* p, char* end, counts* c, ending* lines) {
#ifdef ZETTRIK_AVX2
  if (wide())
    return blockwide(p, end, c, lines);
#endif
  return blockwise(p, end, c, lines);
}

// The four masks of the 64 bytes at p.
static inline void masks(const char* p, uint64_t* quote, uint64_t* bracket, uint64_t* space,
                         uint64_t* lf) {
  *quote = *bracket = *space = *lf = 0;
#ifdef ZETTRIK_SSE2
  for (int i = 0; i < 4; i++) {
    int at = 16 * i;
    __m128i v = _mm_loadu_si128((const __m128i*)(p + at));
    *quote |= (uint64_t)(unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('"'))) << at;
    *bracket |= (uint64_t)(unsigned)_mm_movemask_epi8(
                    _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('[')),
                                 _mm_cmpeq_epi8(v, _mm_set1_epi8(']'))))
                << at;
    *space |= (uint64_t)(unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(' '))) << at;
    *lf |= (uint64_t)(unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))) << at;
  }
#else
  for (int i = 0; i < 64; i++) {
    uint64_t bit = (uint64_t)1 << i;
    *quote |= p[i] == '"' ? bit : 0;
    *bracket |= p[i] == '[' || p[i] == ']' ? bit : 0;
    *space |= p[i] == ' ' ? bit : 0;
    *lf |= p[i] == '\n' ? bit : 0;
  }
#endif
}

// Turns the spaces that the mask marks, bit i for p[i], into semicolons;
// p has left bytes. Space (0x20) and semicolon (0x3B) differ in the bits
// 0x1B, so the marked bytes are XORed with 0x1B. With SSE2 the mask becomes a
// byte mask 16 bits at a time: the two bytes b0 b1 of the 16 bits are spread
// to b0 eight times, then b1 eight times, and byte i keeps 0xFF where it has
// bit i % 8 set. A loop with a store per separator costs more, as its exit
// is hard to predict; it serves the last bytes, where 16 may not be there.
static inline void replace(char* p, uint64_t space, size_t left) {
#ifdef ZETTRIK_SSE2
  if (left >= 64) {
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
    return;
  }
#else
  (void)left;
#endif
  for (; space; space &= space - 1)
    p[lowest(space)] = ';';
}

// Bit i of the result is the XOR of bits 0 to i of x: set where an odd number
// of set bits stands at or below it. Quotes at bits 1 and 4 (x = 0b010010)
// give 0b001110: the bytes from the opening quote up to the closing one, the
// closing quote itself not included. Six shifts double the reach each time.
static inline uint64_t prefix(uint64_t x) {
  x ^= x << 1;
  x ^= x << 2;
  x ^= x << 4;
  x ^= x << 8;
  x ^= x << 16;
  x ^= x << 32;
  return x;
}

// The number of set bits, by adding neighbours in ever wider fields; the
// population count instruction is not part of the x86-64 baseline.
static inline int count(uint64_t x) {
  x = x - ((x >> 1) & 0x5555555555555555u);
  x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
  x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0fu;
  return (int)((x * 0x0101010101010101u) >> 56);
}

// The index of the lowest set bit; x must not be 0.
static inline int lowest(uint64_t x) {
#ifdef _MSC_VER
  unsigned long i;
  _BitScanForward64(&i, x);
  return (int)i;
#else
  return __builtin_ctzll(x);
#endif
}
