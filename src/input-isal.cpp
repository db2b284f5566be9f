// The inflater on Linux: Intel's ISA-L, several times as fast as zlib here,
// so that inflating keeps up with the scan on the other worker. It inflates
// raw deflate data only; the framing reads the gzip header and trailer.
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <stdlib.h>

#include "inflate.h"

static size_t stepisal(gzip* g, char* out, size_t n, int* found) {
  inflate_state* z = (inflate_state*)g->lib;
  z->next_in = g->next;
  z->avail_in = (uint32_t)g->avail;
  z->next_out = (uint8_t*)out;
  z->avail_out = (uint32_t)n;
  int r = isal_inflate(z);
  g->next = z->next_in;
  g->avail = z->avail_in;
  *found = r < 0 ? DAMAGED : z->block_state == ISAL_BLOCK_FINISH ? MEMBEREND : GOING;
  if (*found == MEMBEREND) {
    // ISA-L reads ahead up to eight bytes into a bit buffer, past the end of
    // the deflate data and into the trailer. The bits left there, after the
    // padding of the last byte, are whole bytes that belong to the framing:
    // with 52 bits left, 4 are padding and 6 bytes go back.
    int bits = z->read_in_length;
    unread(g, z->read_in >> (bits % 8), (size_t)(bits / 8));
    z->read_in_length = 0;
  }
  return n - z->avail_out;
}

static void resetisal(gzip* g) {
  inflate_state* z = (inflate_state*)g->lib;
  isal_inflate_reset(z);
  z->crc_flag = ISAL_DEFLATE;
}

static void releaseisal(gzip* g) {
  free(g->lib);
}

static uint32_t sumisal(uint32_t crc, const unsigned char* p, size_t n) {
  return crc32_gzip_refl(crc, p, n);
}

bool inflateisal(input* in) {
  gzip* g = (gzip*)malloc(sizeof(gzip));
  inflate_state* z = (inflate_state*)malloc(sizeof(inflate_state));
  if (g == nullptr || z == nullptr) {
    free(g);
    free(z);
    return false;
  }
  isal_inflate_init(z);
  z->crc_flag = ISAL_DEFLATE;
  g->lib = z;
  g->step = stepisal;
  g->reset = resetisal;
  g->release = releaseisal;
  g->sum = sumisal;
  return inflating(in, g);
}
