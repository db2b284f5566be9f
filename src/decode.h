// What a decoder unit brings to the framing (framing.h): one step of its
// library over the compressed bytes at hand, a reset for the next frame,
// and for gzip the library's CRC-32. The framing keeps everything else
// once for every format: frames one after another, what may stand after
// the last, a log cut short, damage, and gzip's header and trailer. So the
// same bytes give the same verdict whatever library decodes them.
#ifndef ZETTRIK_DECODE_H
#define ZETTRIK_DECODE_H

#include <stddef.h>
#include <stdint.h>

#include "cause.h"

// What a step found.
enum { GOING, FRAMEEND, DAMAGED };

// Room kept before the compressed bytes, so that a library that read a few
// bytes past the end of its data can hand them back (giveback()).
constexpr size_t SPARE = 8;

struct decoder {
  unsigned char* next;  // the first compressed byte not yet taken
  size_t avail;         // how many are at hand from there
  int damage;           // at DAMAGED, the cause where the library gives one, or 0
  void* lib;            // the library's own state
  // Decodes from next and avail into out, at most n bytes, and moves next
  // and avail on; returns the bytes made and sets *found. At FRAMEEND, next
  // is the first byte after the frame's data. At DAMAGED (the step failed)
  // it sets damage to what the library said, in the causes unit's words
  // (fromzlib() and the others in cause.h): NOMEMORY where the library had
  // no memory for the frame, which is no damage of the log; CHECKSUM,
  // WINDOW, DICTIONARY, or TRAILING for bytes that are no frame of its
  // format.
  size_t (*step)(decoder* d, char* out, size_t n, int* found);
  // Makes the library ready for the next frame.
  void (*reset)(decoder* d);
  // Releases the library's state.
  void (*release)(decoder* d);
  // gzip: the library's CRC-32 of n bytes at p, going on from crc.
  uint32_t (*sum)(uint32_t crc, const unsigned char* p, size_t n);
};

// Puts back before next the k bytes (k <= SPARE) that a step took past the
// end of the data; value holds them, the first in its lowest byte.
void giveback(decoder* d, uint64_t value, size_t k);

// The libraries, each setting up the library part of d: false where there
// is no memory for it. gzip has two: ISA-L and zlib; liblzma reads three
// formats.
#ifdef ZETTRIK_ISAL
bool inflateisal(decoder* d);
#endif
#ifdef ZETTRIK_ZLIB
bool inflatezlib(decoder* d);
#endif
#ifdef ZETTRIK_ZSTD
bool decodezstd(decoder* d);
#endif
#ifdef ZETTRIK_XZ
bool decodexz(decoder* d);
bool decodelzma(decoder* d);
bool decodelzip(decoder* d);
#endif
#ifdef ZETTRIK_BZIP2
bool decodebzip2(decoder* d);
#endif

#endif
