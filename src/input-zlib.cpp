// The inflater on Windows, and on Linux where ISA-L is missing: zlib. It
// inflates raw deflate data only; the framing reads the gzip header and
// trailer.
#include <stdlib.h>
#include <zlib.h>

#include "decode.h"

static size_t stepzlib(decoder* d, char* out, size_t n, int* found) {
  z_stream* z = (z_stream*)d->lib;
  // zlib counts in 32 bits; a block is far smaller.
  z->next_in = d->next;
  z->avail_in = (uInt)d->avail;
  z->next_out = (Bytef*)out;
  z->avail_out = (uInt)n;
  int r = inflate(z, Z_NO_FLUSH);
  d->next = z->next_in;
  d->avail = z->avail_in;
  *found = r == Z_STREAM_END               ? FRAMEEND
           : r == Z_OK || r == Z_BUF_ERROR ? GOING  // Z_BUF_ERROR: wants more input
                                           : DAMAGED;
  d->damage = fromzlib(r);
  return n - z->avail_out;
}

static void resetzlib(decoder* d) {
  inflateReset((z_stream*)d->lib);
}

static void releasezlib(decoder* d) {
  inflateEnd((z_stream*)d->lib);
  free(d->lib);
}

static uint32_t sumzlib(uint32_t crc, const unsigned char* p, size_t n) {
  return (uint32_t)crc32(crc, p, (uInt)n);  // n is at most a block
}

bool inflatezlib(decoder* d) {
  z_stream* z = (z_stream*)calloc(1, sizeof(z_stream));
  // -15: raw deflate, with the largest window.
  if (z == nullptr || inflateInit2(z, -MAX_WBITS) != Z_OK) {
    free(z);
    return false;
  }
  d->lib = z;
  d->step = stepzlib;
  d->reset = resetzlib;
  d->release = releasezlib;
  d->sum = sumzlib;
  return true;
}
