// What the decoders share behind the source interface. The framing is kept
// once, in input.cpp: frames (gzip's members, xz's and bzip2's streams)
// one after another, what may stand after the last, a log cut short,
// damage, and, for gzip, each member's header and trailer; the same bytes
// give the same verdict whatever library decodes them. Each decoder unit
// brings one step of its library and a reset for the next frame:
// input-isal.cpp and input-zlib.cpp raw deflate, input-zstd.cpp,
// input-xz.cpp and input-bzip2.cpp their formats.
#ifndef ZETTRIK_DECODE_H
#define ZETTRIK_DECODE_H

#include <stddef.h>
#include <stdint.h>

#include "input.h"

// What a step found.
enum { GOING, FRAMEEND, DAMAGED };

// What may stand after a frame: another frame and no zeros (zstd, bzip2,
// lzip), zeros in any number after the last member only (gzip, as gzip
// takes them), zeros in multiples of four between and after streams (the
// stream padding of xz), or nothing at all (lzma, whose file is one
// stream).
enum { NOZEROS, TRAILINGZEROS, ZEROFOURS, ALONE };

// Room kept before the compressed bytes, so that a library that read a few
// bytes past the end of its data can hand them back (see unread()).
constexpr size_t SPARE = 8;

struct decoder {
  unsigned char buf[SPARE + (1 << 17)];  // compressed bytes read ahead
  unsigned char* next;                   // the first of them not yet taken
  size_t avail;                          // how many are left
  bool ended;                            // the descriptor has no more
  int phase;                             // see readframes() in input.cpp
  int padding;                           // the zeros allowed after a frame
  bool gzip;                             // the framing reads gzip's header and trailer
  uint64_t zeros;                        // zeros passed over after a frame
  uint64_t taken;                        // the frame's bytes taken so far
  bool looked;                           // the start of the decoded log is looked at
  uint64_t frames;                       // frames begun
  int64_t start;                         // where the last began in the log
  int damage;  // set by a step or the framing that finds DAMAGED: a finer cause, or 0
  // gzip's own: the part of a member's header or trailer at hand, its
  // bytes where they are kept (the longest part, the fixed ten bytes), the
  // member's flags, the CRC-32 of its header so far, and the CRC-32 and the
  // number (modulo 2^32) of the bytes it inflated to.
  int part, flags;
  size_t want, got;
  unsigned char field[10];
  uint32_t check, crc, size;
  void* lib;  // the library's own state
  // Decodes from next and avail into out, at most n bytes, and moves next
  // and avail on; returns the bytes made and sets *found. At FRAMEEND, next
  // is the first byte after the frame's data. At DAMAGED it may set damage
  // to what the library said: CHECKSUM, WINDOW, DICTIONARY, or TRAILING
  // for bytes that are no frame of its format.
  size_t (*step)(decoder* d, char* out, size_t n, int* found);
  // Makes the library ready for the next frame.
  void (*reset)(decoder* d);
  // Releases the library's state.
  void (*release)(decoder* d);
  // gzip: the library's CRC-32 of n bytes at p, going on from crc.
  uint32_t (*sum)(uint32_t crc, const unsigned char* p, size_t n);
};

// Sets in up to read through d, whose library part is set; takes over the
// bytes in in->head. Returns false, releasing d, when d is nullptr.
bool decoding(input* in, decoder* d);

// A decoder with its buffer and the rules of its format, the library part
// still to be set, or nullptr where there is no memory.
decoder* newdecoder(int padding, bool gzip);

// Puts back before next the k bytes (k <= SPARE) that a step took past the
// end of the data; value holds them, the first in its lowest byte.
void unread(decoder* d, uint64_t value, size_t k);

#endif
