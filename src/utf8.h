// UTF-8 as the messages and the workbook take it: which bytes form a valid
// sequence, and the character they stand for.
#ifndef ZETTRIK_UTF8_H
#define ZETTRIK_UTF8_H

#include <stddef.h>
#include <stdint.h>

// The length of the valid UTF-8 sequence at p, of the n bytes there, or 0
// where none begins; 1 for an ASCII byte. The second byte's range shuts out
// overlong forms, surrogates and code points past U+10FFFF: E0 needs A0 to
// BF after it, ED 80 to 9F, F0 90 to BF, F4 80 to 8F.
static inline size_t sequence(const unsigned char* p, size_t n) {
  unsigned char c = p[0];
  if (c < 0x80)
    return 1;
  size_t k = c >= 0xc2 && c <= 0xdf   ? 2
             : c >= 0xe0 && c <= 0xef ? 3
             : c >= 0xf0 && c <= 0xf4 ? 4
                                      : 0;
  if (k == 0 || k > n)
    return 0;
  unsigned char low = c == 0xe0 ? 0xa0 : c == 0xf0 ? 0x90 : 0x80;
  unsigned char high = c == 0xed ? 0x9f : c == 0xf4 ? 0x8f : 0xbf;
  if (p[1] < low || p[1] > high)
    return 0;
  for (size_t i = 2; i < k; i++)
    if ((p[i] & 0xc0) != 0x80)
      return 0;
  return k;
}

// The code point of the valid sequence of k bytes at p.
static inline uint32_t codepoint(const unsigned char* p, size_t k) {
  static const unsigned char lead[] = {0, 0x7f, 0x1f, 0x0f, 0x07};
  uint32_t c = p[0] & lead[k];
  for (size_t i = 1; i < k; i++)
    c = c << 6 | (p[i] & 0x3f);
  return c;
}

#endif
