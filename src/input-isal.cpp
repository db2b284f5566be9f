// The inflater on Linux: Intel's ISA-L, several times as fast as zlib here,
// so that the decoder's thread keeps up with the two workers. It inflates
// raw deflate data only; the framing reads the gzip header and trailer.
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <stdlib.h>

#include "decode.h"

static size_t stepisal(decoder* d, char* out, size_t n, int* found) {
  inflate_state* z = (inflate_state*)d->lib;
  z->next_in = d->next;
  z->avail_in = (uint32_t)d->avail;
  z->next_out = (uint8_t*)out;
  z->avail_out = (uint32_t)n;
  int r = isal_inflate(z);
  d->next = z->next_in;
  d->avail = z->avail_in;
  *found = r < 0 ? DAMAGED : z->block_state == ISAL_BLOCK_FINISH ? FRAMEEND : GOING;
  if (*found == FRAMEEND) {
    // ISA-L reads ahead up to eight bytes into a bit buffer, past the end of
    // the deflate data and into the trailer. The bits left there, after the
    // padding of the last byte, are whole bytes that belong to the framing:
    // with 52 bits left, 4 are padding and 6 bytes go back.
    int bits = z->read_in_length;
    giveback(d, z->read_in >> (bits % 8), (size_t)(bits / 8));
    z->read_in_length = 0;
  }
  return n - z->avail_out;
}

static void resetisal(decoder* d) {
  inflate_state* z = (inflate_state*)d->lib;
  isal_inflate_reset(z);
  z->crc_flag = ISAL_DEFLATE;
}

static void releaseisal(decoder* d) {
  free(d->lib);
}

static uint32_t sumisal(uint32_t crc, const unsigned char* p, size_t n) {
  return crc32_gzip_refl(crc, p, n);
}

bool inflateisal(decoder* d) {
  // Zeroed, not only allocated: on damaged data ISA-L may copy a match from
  // its own history buffer before it finds the distance too far back, and the
  // bytes it hands out then must be zeros rather than whatever the heap held.
  inflate_state* z = (inflate_state*)calloc(1, sizeof(inflate_state));
  if (z == nullptr)
    return false;
  isal_inflate_init(z);
  z->crc_flag = ISAL_DEFLATE;
  d->lib = z;
  d->step = stepisal;
  d->reset = resetisal;
  d->release = releaseisal;
  d->sum = sumisal;
  return true;
}
