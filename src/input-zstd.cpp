// The zstd decoder: the reference library. It reads each frame whole,
// skippable frames included; the framing (framing.cpp) says what may follow.
#include <stdlib.h>
#include <zstd.h>
#include <zstd_errors.h>  // ZSTD_getErrorCode()

#include "decode.h"

// The largest window a frame may ask for: 128 MiB, the library's own limit
// unless a frame was made with --long=28 or more and the decoder is told to
// allow it. A frame that asks for more is refused rather than allocated.
constexpr int WINDOWLOG = 27;

struct zstdstate {
  ZSTD_DCtx* z;
  size_t hint;  // the input the library asked for, a block's worth
};

// A call that finds damage hands back nothing of what it decoded before it
// in that call. So each call is given no more input than the library asked
// for, which is the next block: what the blocks before the damage hold is
// handed on. (Given all the input at once, it lost up to a megabyte of
// lines before a damaged block.)
static size_t stepzstd(decoder* d, char* out, size_t n, int* found) {
  zstdstate* s = (zstdstate*)d->lib;
  ZSTD_inBuffer in = {d->next, d->avail < s->hint ? d->avail : s->hint, 0};
  ZSTD_outBuffer put = {out, n, 0};
  size_t r = ZSTD_decompressStream(s->z, &put, &in);
  d->next += in.pos;
  d->avail -= in.pos;
  // 0: a frame is decoded and every byte of it handed out.
  *found = ZSTD_isError(r) ? DAMAGED : r == 0 ? FRAMEEND : GOING;
  d->damage = fromzstd(ZSTD_getErrorCode(r));
  s->hint = r > 0 && !ZSTD_isError(r) ? r : 1;
  return put.pos;
}

static void resetzstd(decoder* d) {
  zstdstate* s = (zstdstate*)d->lib;
  ZSTD_DCtx_reset(s->z, ZSTD_reset_session_only);
  s->hint = 1;
}

static void releasezstd(decoder* d) {
  zstdstate* s = (zstdstate*)d->lib;
  ZSTD_freeDCtx(s->z);
  free(s);
}

bool decodezstd(decoder* d) {
  zstdstate* s = (zstdstate*)malloc(sizeof(zstdstate));
  ZSTD_DCtx* z = ZSTD_createDCtx();
  if (s == nullptr || z == nullptr ||
      ZSTD_isError(ZSTD_DCtx_setParameter(z, ZSTD_d_windowLogMax, WINDOWLOG))) {
    free(s);
    ZSTD_freeDCtx(z);
    return false;
  }
  s->z = z;
  s->hint = 1;
  d->lib = s;
  d->step = stepzstd;
  d->reset = resetzstd;
  d->release = releasezstd;
  return true;
}
