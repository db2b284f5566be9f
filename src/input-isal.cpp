// The inflater on Linux: Intel's ISA-L, several times as fast as zlib here,
// so that inflating keeps up with the scan on the other worker.
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
  return n - z->avail_out;
}

static void resetisal(gzip* g) {
  inflate_state* z = (inflate_state*)g->lib;
  isal_inflate_reset(z);
  z->crc_flag = ISAL_GZIP;  // reads the header, checks the CRC and the length
}

static void releaseisal(gzip* g) {
  free(g->lib);
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
  z->crc_flag = ISAL_GZIP;
  g->lib = z;
  g->step = stepisal;
  g->reset = resetisal;
  g->release = releaseisal;
  return inflating(in, g);
}
