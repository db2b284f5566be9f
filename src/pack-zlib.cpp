// Raw deflate with zlib, at its fastest level: the Windows program's, and
// on Linux where ISA-L is missing.
#include <stdlib.h>
#include <zlib.h>

#include "pack.h"

// Only one of pack-isal.cpp and pack-zlib.cpp is built into a program.
// cppcheck-suppress ctuOneDefinitionRuleViolation
struct packer {
  z_stream z;
};

packer* newpacker() {
  packer* p = (packer*)calloc(1, sizeof(packer));
  // -15: raw deflate, with the largest window.
  if (p && deflateInit2(&p->z, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    free(p);
    p = nullptr;
  }
  return p;
}

void freepacker(packer* p) {
  if (p)
    deflateEnd(&p->z);
  free(p);
}

void restart(packer* p) {
  deflateReset(&p->z);
}

bool squeeze(packer* p, const char* from, size_t n, int end, buffer* out) {
  z_stream* z = &p->z;
  z->next_in = (Bytef*)from;
  z->avail_in = (uInt)n;  // a chunk of XML, far below 4 GiB
  int flush = end == MORE ? Z_NO_FLUSH : end == FLUSHED ? Z_FULL_FLUSH : Z_FINISH;
  for (;;) {
    if (!grow(out, deflateBound(z, z->avail_in) + 64))
      return false;
    z->next_out = (Bytef*)out->data + out->used;
    z->avail_out = (uInt)(out->room - out->used);
    int r = deflate(z, flush);
    out->used = out->room - z->avail_out;
    if (r == Z_STREAM_ERROR)
      return false;
    // Whole when the input is taken and the output was not filled (a flush
    // or the end wants room to finish in).
    if (z->avail_in == 0 && (flush == Z_NO_FLUSH || z->avail_out > 0))
      return true;
  }
}

uint32_t crc32of(uint32_t crc, const char* from, size_t n) {
  return (uint32_t)crc32(crc, (const Bytef*)from, (uInt)n);  // a chunk, far below 4 GiB
}
