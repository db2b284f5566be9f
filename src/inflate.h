// What the two inflaters share, behind the source interface: gzip's framing
// (members one after another, zeros after the last, damage) is kept once,
// in input.cpp; input-isal.cpp and input-zlib.cpp each bring one step of
// their library and a reset for the next member.
#ifndef ZETTRIK_INFLATE_H
#define ZETTRIK_INFLATE_H

#include <stddef.h>

#include "input.h"

// What a step found.
enum { GOING, MEMBEREND, DAMAGED };

struct gzip {
  unsigned char buf[1 << 17];  // compressed bytes read ahead
  unsigned char* next;         // the first of them not yet taken
  size_t avail;                // how many are left
  bool ended;                  // the descriptor has no more
  int phase;                   // see readgzip() in input.cpp
  bool fresh;                  // a member begins; its header is not looked at yet
  void* lib;                   // the library's own state
  // Inflates from next and avail into out, at most n bytes, and moves next
  // and avail on; returns the bytes made and sets *found.
  size_t (*step)(gzip* g, char* out, size_t n, int* found);
  // Makes the library ready for the next member.
  void (*reset)(gzip* g);
  // Releases the library's state.
  void (*release)(gzip* g);
};

// Sets in up to read through g, whose library part is set; takes over the
// bytes in in->head. Returns false, releasing g, when g is nullptr.
bool inflating(input* in, gzip* g);

#endif
