// The inflater on Windows, and on Linux where ISA-L is missing: zlib. It
// inflates raw deflate data only; the framing reads the gzip header and
// trailer.
#include <stdlib.h>
#include <zlib.h>

#include "inflate.h"

static size_t stepzlib(gzip* g, char* out, size_t n, int* found) {
  z_stream* z = (z_stream*)g->lib;
  // zlib counts in 32 bits; a block is far smaller.
  z->next_in = g->next;
  z->avail_in = (uInt)g->avail;
  z->next_out = (Bytef*)out;
  z->avail_out = (uInt)n;
  int r = inflate(z, Z_NO_FLUSH);
  g->next = z->next_in;
  g->avail = z->avail_in;
  *found = r == Z_STREAM_END               ? MEMBEREND
           : r == Z_OK || r == Z_BUF_ERROR ? GOING  // Z_BUF_ERROR: wants more input
                                           : DAMAGED;
  return n - z->avail_out;
}

static void resetzlib(gzip* g) {
  inflateReset((z_stream*)g->lib);
}

static void releasezlib(gzip* g) {
  inflateEnd((z_stream*)g->lib);
  free(g->lib);
}

static uint32_t sumzlib(uint32_t crc, const unsigned char* p, size_t n) {
  return (uint32_t)crc32(crc, p, (uInt)n);  // n is at most a block
}

bool inflatezlib(input* in) {
  gzip* g = (gzip*)malloc(sizeof(gzip));
  z_stream* z = (z_stream*)calloc(1, sizeof(z_stream));
  // -15: raw deflate, with the largest window.
  if (g == nullptr || z == nullptr || inflateInit2(z, -MAX_WBITS) != Z_OK) {
    free(g);
    free(z);
    return false;
  }
  g->lib = z;
  g->step = stepzlib;
  g->reset = resetzlib;
  g->release = releasezlib;
  g->sum = sumzlib;
  return inflating(in, g);
}
