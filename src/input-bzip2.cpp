// The bzip2 decoder: libbz2, a stream at a time, each checked by its own
// CRCs; the framing (framing.cpp) says what may follow.
#include <bzlib.h>
#include <stdlib.h>

#include "decode.h"

static size_t stepbzip2(decoder* d, char* out, size_t n, int* found) {
  bz_stream* z = (bz_stream*)d->lib;
  // libbz2 counts in 32 bits; a block is far smaller.
  z->next_in = (char*)d->next;
  z->avail_in = (unsigned)d->avail;
  z->next_out = out;
  z->avail_out = (unsigned)n;
  int r = BZ2_bzDecompress(z);
  d->next = (unsigned char*)z->next_in;
  d->avail = z->avail_in;
  *found = r == BZ_STREAM_END ? FRAMEEND : r == BZ_OK ? GOING : DAMAGED;
  d->damage = frombzip2(r);
  return n - z->avail_out;
}

// A decoder that could not be set up for the next stream fails at its next
// step: the library had no memory for it.
static size_t brokenbzip2(decoder* d, char*, size_t, int* found) {
  *found = DAMAGED;
  d->damage = NOMEMORY;
  return 0;
}

// The library ends with its stream: a new one for the next.
static void resetbzip2(decoder* d) {
  bz_stream* z = (bz_stream*)d->lib;
  BZ2_bzDecompressEnd(z);
  d->step = BZ2_bzDecompressInit(z, 0, 0) == BZ_OK ? stepbzip2 : brokenbzip2;
}

static void releasebzip2(decoder* d) {
  BZ2_bzDecompressEnd((bz_stream*)d->lib);
  free(d->lib);
}

bool decodebzip2(decoder* d) {
  bz_stream* z = (bz_stream*)calloc(1, sizeof(bz_stream));
  if (z == nullptr || BZ2_bzDecompressInit(z, 0, 0) != BZ_OK) {
    free(z);
    return false;
  }
  d->lib = z;
  d->step = stepbzip2;
  d->reset = resetbzip2;
  d->release = releasebzip2;
  return true;
}
