// The framing that every decoder shares: frames one after another (gzip's
// and lzip's members, xz's and bzip2's streams; lzma's one stream), as the
// format's own tool reads them. The zeros that the format allows after a frame are passed
// over; anything else is damage, as are corrupt data, a wrong checksum, a
// frame cut short and a decoded log that is itself compressed.
#ifndef ZETTRIK_FRAMING_H
#define ZETTRIK_FRAMING_H

#include <stddef.h>

#include "decode.h"
#include "formats.h"
#include "input.h"

// The compressed bytes read from the descriptor at a time.
constexpr size_t READAHEAD = 1 << 17;

// Sets in, which plain() or openlog() has set up, to read the bytes of
// in->head and then of in->fd through the framing of f and the decoder
// that library sets up (f's own, or another for the same format). Returns
// false where there is no memory for it.
bool framed(input* in, const format* f, bool (*library)(decoder* d));

#endif
