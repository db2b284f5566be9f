// What the two inflaters share, behind the source interface: gzip's framing
// (the member header and trailer, members one after another, zeros after
// the last, damage) is kept once, in input.cpp, and the same bytes give the
// same verdict whichever library inflates them. input-isal.cpp and
// input-zlib.cpp each bring one step of raw deflate, a reset for the next
// member and their library's CRC-32.
#ifndef ZETTRIK_INFLATE_H
#define ZETTRIK_INFLATE_H

#include <stddef.h>
#include <stdint.h>

#include "input.h"

// What a step found.
enum { GOING, MEMBEREND, DAMAGED };

// Room kept before the compressed bytes, so that a library that read a few
// bytes past the end of its deflate data can hand them back (see unread()).
constexpr size_t SPARE = 8;

struct gzip {
  unsigned char buf[SPARE + (1 << 17)];  // compressed bytes read ahead
  unsigned char* next;                   // the first of them not yet taken
  size_t avail;                          // how many are left
  bool ended;                            // the descriptor has no more
  int phase;                             // see readgzip() in input.cpp
  int part;                              // the part of the header or trailer at hand
  int flags;                             // the member's flags
  size_t want, got;                      // the bytes of that part, and those taken
  unsigned char field[10];               // the part's bytes, where they are kept
  uint32_t check;                        // CRC-32 of the header so far
  uint32_t crc;                          // CRC-32 of the member's inflated bytes
  uint32_t size;                         // and their number, modulo 2^32
  bool looked;                           // the start of the inflated log is looked at
  void* lib;                             // the library's own state
  // Inflates raw deflate data from next and avail into out, at most n
  // bytes, and moves next and avail on; returns the bytes made and sets
  // *found. At MEMBEREND, next is the first byte after the deflate data.
  size_t (*step)(gzip* g, char* out, size_t n, int* found);
  // Makes the library ready for the next member.
  void (*reset)(gzip* g);
  // Releases the library's state.
  void (*release)(gzip* g);
  // The library's CRC-32 of n bytes at p, going on from crc.
  uint32_t (*sum)(uint32_t crc, const unsigned char* p, size_t n);
};

// Sets in up to read through g, whose library part is set; takes over the
// bytes in in->head. Returns false, releasing g, when g is nullptr.
bool inflating(input* in, gzip* g);

// Puts back before next the k bytes (k <= SPARE) that a step took past the
// end of the deflate data; value holds them, the first in its lowest byte.
void unread(gzip* g, uint64_t value, size_t k);

#endif
