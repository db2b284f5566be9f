// The xz decoder: liblzma, a stream at a time, with the integrity check the
// stream names; the framing in input.cpp passes over the padding between
// and after streams.
#include <lzma.h>
#include <stdlib.h>

#include "decode.h"

// The most memory a stream may ask for: a dictionary of 256 MiB and what
// the decoder needs beside it. xz -9 asks for 64 MiB, xz -6 for 8 MiB; a
// stream that asks for more than this is refused rather than allocated.
constexpr uint64_t MEMLIMIT = (256 + 1) << 20;

static size_t stepxz(decoder* d, char* out, size_t n, int* found) {
  lzma_stream* z = (lzma_stream*)d->lib;
  z->next_in = d->next;
  z->avail_in = d->avail;
  z->next_out = (uint8_t*)out;
  z->avail_out = n;
  lzma_ret r = lzma_code(z, LZMA_RUN);
  d->next = (unsigned char*)z->next_in;
  d->avail = z->avail_in;
  *found = r == LZMA_STREAM_END ? FRAMEEND : r == LZMA_OK || r == LZMA_BUF_ERROR ? GOING : DAMAGED;
  return n - z->avail_out;
}

// A decoder that could not be set up for the next stream finds damage.
static size_t brokenxz(decoder*, char*, size_t, int* found) {
  *found = DAMAGED;
  return 0;
}

static void resetxz(decoder* d) {
  // A new stream, with its own header and check.
  bool ready = lzma_stream_decoder((lzma_stream*)d->lib, MEMLIMIT, 0) == LZMA_OK;
  d->step = ready ? stepxz : brokenxz;
}

static void releasexz(decoder* d) {
  lzma_end((lzma_stream*)d->lib);
  free(d->lib);
}

bool decodexz(input* in) {
  decoder* d = newdecoder(ZEROFOURS, false);
  lzma_stream* z = (lzma_stream*)malloc(sizeof(lzma_stream));
  if (d == nullptr || z == nullptr) {
    free(d);
    free(z);
    return false;
  }
  *z = LZMA_STREAM_INIT;
  if (lzma_stream_decoder(z, MEMLIMIT, 0) != LZMA_OK) {
    free(d);
    free(z);
    return false;
  }
  d->lib = z;
  d->step = stepxz;
  d->reset = resetxz;
  d->release = releasexz;
  return decoding(in, d);
}
