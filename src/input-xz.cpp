// The decoders of liblzma: xz, a stream at a time, with the integrity check
// the stream names (the framing, framing.cpp, passes over the padding
// between and after streams); lzip, a member at a time, each with its
// CRC-32; and the old lzma format, one stream without a check.
#include <lzma.h>
#include <stdlib.h>

#include "decode.h"

// The most memory a stream may ask for: a dictionary of 256 MiB and what
// the decoder needs beside it. xz -9 asks for 64 MiB, xz -6 for 8 MiB; a
// stream that asks for more than this is refused rather than allocated.
constexpr uint64_t MEMLIMIT = (256 + 1) << 20;

struct lzmastate {
  lzma_stream z;
  lzma_ret (*begin)(lzma_stream* z);  // sets z up for the next frame
  int failure;                        // why that failed, as a cause (cause.h)
};

static lzma_ret beginxz(lzma_stream* z) {
  return lzma_stream_decoder(z, MEMLIMIT, 0);
}

static lzma_ret beginlzip(lzma_stream* z) {
  return lzma_lzip_decoder(z, MEMLIMIT, 0);
}

static lzma_ret beginlzma(lzma_stream* z) {
  return lzma_alone_decoder(z, MEMLIMIT);
}

static size_t stepxz(decoder* d, char* out, size_t n, int* found) {
  lzma_stream* z = &((lzmastate*)d->lib)->z;
  z->next_in = d->next;
  z->avail_in = d->avail;
  z->next_out = (uint8_t*)out;
  z->avail_out = n;
  lzma_ret r = lzma_code(z, LZMA_RUN);
  d->next = (unsigned char*)z->next_in;
  d->avail = z->avail_in;
  *found = r == LZMA_STREAM_END ? FRAMEEND : r == LZMA_OK || r == LZMA_BUF_ERROR ? GOING : DAMAGED;
  d->damage = fromlzma(r);
  return n - z->avail_out;
}

// A decoder that could not be set up for the next stream fails at its next
// step, with the cause its setting up gave (no memory, as a rule).
static size_t brokenxz(decoder* d, char*, size_t, int* found) {
  *found = DAMAGED;
  d->damage = ((lzmastate*)d->lib)->failure;
  return 0;
}

static void resetxz(decoder* d) {
  // A new stream or member, with its own header and check.
  lzmastate* s = (lzmastate*)d->lib;
  lzma_ret r = s->begin(&s->z);
  s->failure = fromlzma(r);
  d->step = r == LZMA_OK ? stepxz : brokenxz;
}

static void releasexz(decoder* d) {
  lzma_end(&((lzmastate*)d->lib)->z);
  free(d->lib);
}

static bool decodelzmas(decoder* d, lzma_ret (*begin)(lzma_stream*)) {
  lzmastate* s = (lzmastate*)malloc(sizeof(lzmastate));
  if (s == nullptr)
    return false;
  s->z = LZMA_STREAM_INIT;
  s->begin = begin;
  if (begin(&s->z) != LZMA_OK) {
    free(s);
    return false;
  }
  d->lib = s;
  d->step = stepxz;
  d->reset = resetxz;
  d->release = releasexz;
  return true;
}

bool decodexz(decoder* d) {
  return decodelzmas(d, beginxz);
}

bool decodelzip(decoder* d) {
  return decodelzmas(d, beginlzip);
}

bool decodelzma(decoder* d) {
  return decodelzmas(d, beginlzma);
}
