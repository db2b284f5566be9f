// The bit helpers of the window loop, with plain operations only, for the
// scans whose instruction set has no single instruction for them: included
// by scan-plain.cpp and scan-sse2.cpp before scanloop.h.
#ifndef ZETTRIK_SCANBITS_H
#define ZETTRIK_SCANBITS_H

#include <stdint.h>

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
  return __builtin_ctzll(x);
}

#endif
