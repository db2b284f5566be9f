// The window loop, sweep(), shared by the scans that take 64 bytes at a
// time. It is compiled once for each set of processor instructions, in
// scan-plain.cpp, scan-sse2.cpp and scan-avx2.cpp: each defines, for its
// set, the helpers declared here, and includes this file.
#ifndef ZETTRIK_SCANLOOP_H
#define ZETTRIK_SCANLOOP_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "scan.h"

// The four masks of the 64 bytes at p, one bit a byte.
static inline void masks(const char* p, uint64_t* quote, uint64_t* bracket, uint64_t* space,
                         uint64_t* lf);
// Turns the spaces marked in space into semicolons; p has left bytes.
static inline void replace(char* p, uint64_t space, size_t left);
// Bit i of the result: the XOR of bits 0 to i of x.
static inline uint64_t prefix(uint64_t x);
// The number of set bits.
static inline int count(uint64_t x);
// The index of the lowest set bit; x must not be 0.
static inline int lowest(uint64_t x);

// Does what bytewise() does, 64 bytes at a time. Each window of 64 bytes
// becomes four masks, one bit a byte (bit i for the byte at p + i): quotes,
// brackets, spaces and line feeds. Whether a byte stands inside quotes is the
// parity of the quotes before it in its line: the prefix XOR of the quote
// mask, turned over where the line's quotes before the window were odd. The
// brackets outside quotes go the same way, and the separators are the spaces
// outside both.
//
// A line feed starts the parities again. A window holds one line feed or
// none most of the time, as lines are longer than a window: then the bytes
// up to it (first) continue the line before, and the bytes after it (rest)
// begin a line whose parity is that of the prefix XOR from the line feed on.
// That case runs without a branch that depends on the data. A window with
// more line feeds is taken a line at a time.
//
// The counts are kept in plain locals: through a pointer, every semicolon
// stored would make the compiler load them again, and a choice between two
// whole records goes through memory.
//
// This is the converter's hot loop: changes to it are measured with the
// benchmark under bench/, and held to bytewise() by the tests.
static int sweep(char* p, char* end, counts* c, ending* lines) {
  int quotes = c->quotes, brackets = c->brackets, separators = c->separators;
  int n = 0;
  // The separators of a window are written while the next window is taken:
  // written at once, its stores waited at the end of a long chain of
  // dependent steps and held up the next window's. (Measured: the scan took
  // about 14% less time.) The windows do not overlap, so the order of the
  // stores does not matter.
  char* last = p;        // the window before, whose separators are still spaces
  uint64_t pending = 0;  // its separators
  size_t lastleft = 0;   // its bytes, as replace() takes them
  while (p < end) {
    size_t left = end - p;
    uint64_t valid = ~(uint64_t)0;
    const char* from = p;
    char tail[64];
    if (left < 64) {
      // The last bytes are copied, so that nothing past end is read.
      memset(tail, 0, sizeof tail);
      memcpy(tail, p, left);
      from = tail;
      valid = ((uint64_t)1 << left) - 1;
    }
    uint64_t quote, bracket, space, lf;
    masks(from, &quote, &bracket, &space, &lf);
    lf &= valid;

    // Up to and including the first line feed: lf ^ (lf - 1) sets the lowest
    // set bit of lf and every bit below it. For lf = 0b01000100 that is
    // 0b00000111; for lf = 0, all 64 bits.
    uint64_t first = lf ^ (lf - 1);
    uint64_t marked = 0;  // the separators of the window
    if ((lf & (lf - 1)) == 0) {
      uint64_t rest = ~first & valid;
      int q = count(quote & first);
      uint64_t inquotes = prefix(quote) ^ (even(quotes) ? 0 : first) ^ (even(q) ? 0 : rest);
      bracket &= ~inquotes;
      int b = count(bracket & first);
      uint64_t inbrackets = prefix(bracket) ^ (even(brackets) ? 0 : first) ^ (even(b) ? 0 : rest);
      marked = space & ~inquotes & ~inbrackets & valid;
      quotes += q;
      brackets += b;
      separators += count(marked & first);
      // Told whether or not a line ended here; counted only if one did.
      size_t at = (size_t)lowest(lf | (uint64_t)1 << 63);
      lines[n].next = p + (at < left ? at + 1 : 0);
      lines[n].shaped = separators == 8 && quotes == 6 && brackets == 2;
      n += lf != 0;
      quotes = lf ? count(quote & rest) : quotes;
      brackets = lf ? count(bracket & rest) : brackets;
      separators = lf ? count(marked & rest) : separators;
    } else if (((quote | bracket | space) & valid) == 0) {
      // Line feeds and nothing the rules look at: only the first line can
      // have the right counts, carried in from before; the lines after it
      // are empty or plain text, and so is the start of the next.
      lines[n].next = p + lowest(lf) + 1;
      lines[n++].shaped = separators == 8 && quotes == 6 && brackets == 2;
      for (lf &= lf - 1; lf; lf &= lf - 1) {
        lines[n].next = p + lowest(lf) + 1;
        lines[n++].shaped = false;
      }
      quotes = brackets = separators = 0;
    } else {
      for (uint64_t rest = valid; rest; lf &= lf - 1) {
        // Up to and including the next line feed, or the bytes after the last.
        uint64_t part = lf ? rest & (lf ^ (lf - 1)) : rest;
        // Short lines seldom hold a quote or a bracket.
        uint64_t q = quote & part;
        uint64_t inquotes = even(quotes) ? 0 : ~(uint64_t)0;
        if (q) {
          inquotes ^= prefix(q);
          quotes += count(q);
        }
        uint64_t b = bracket & part & ~inquotes;
        uint64_t inbrackets = even(brackets) ? 0 : ~(uint64_t)0;
        if (b) {
          inbrackets ^= prefix(b);
          brackets += count(b);
        }
        uint64_t s = space & part & ~inquotes & ~inbrackets;
        if (s) {
          separators += count(s);
          marked |= s;
        }
        rest &= ~part;
        if (!lf)
          break;
        lines[n].next = p + lowest(lf) + 1;
        lines[n].shaped = separators == 8 && quotes == 6 && brackets == 2;
        n++;
        quotes = brackets = separators = 0;
      }
    }
    replace(last, pending, lastleft);
    last = p;
    pending = marked;
    lastleft = left;
    p += left < 64 ? left : 64;
  }
  replace(last, pending, lastleft);
  c->quotes = quotes;
  c->brackets = brackets;
  c->separators = separators;
  return n;
}

#endif
