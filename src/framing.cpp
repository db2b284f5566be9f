// The framing that every decoder shares (framing.h).
#include "framing.h"

#include <stdlib.h>
#include <string.h>

#include "descriptor.h"

// Where a compressed log stands between two reads.
enum {
  HEADER,   // in a gzip member's header
  DATA,     // in a frame's data, which the library decodes
  TRAILER,  // in a gzip member's trailer: CRC-32 and length of its data
  BETWEEN,  // after a frame: another follows, or zeros, or nothing
  ZEROS,    // in zeros after a frame
  BROKEN,   // damaged or unreadable: every read fails from here on
};

// The parts of a gzip member's header, in their order, and its trailer.
enum { FIXED, XLEN, EXTRA, NAME, COMMENT, HCRC, WHOLE, TAIL };

// The header's flags (RFC 1952). The bits of 0xE0 are reserved: a member
// that sets one is refused, as gzip refuses it.
enum { FHCRC = 2, FEXTRA = 4, FNAME = 8, FCOMMENT = 16, RESERVED = 0xe0 };

// A decoder's framing: the library's part, the compressed bytes read ahead,
// and where the log stands.
struct framing {
  decoder dec;
  unsigned char buf[SPARE + READAHEAD];  // compressed bytes read ahead
  bool ended;                            // the descriptor has no more
  int phase;                             // see readframes()
  int padding;                           // the zeros allowed after a frame
  bool gzip;                             // the framing reads gzip's header and trailer
  uint64_t zeros;                        // zeros passed over after a frame
  uint64_t taken;                        // the frame's bytes taken so far
  bool looked;                           // the start of the decoded log is looked at
  uint64_t frames;                       // frames begun
  int64_t start;                         // where the last began in the log
  // gzip's own: the part of a member's header or trailer at hand, its
  // bytes where they are kept (the longest part, the fixed ten bytes), the
  // member's flags, the CRC-32 of its header so far, and the CRC-32 and the
  // number (modulo 2^32) of the bytes it inflated to.
  int part, flags;
  size_t want, got;
  unsigned char field[10];
  uint32_t check, crc, size;
};

// Reads more compressed bytes after those not yet taken, which move to the
// start of the buffer, after its spare room; false when reading failed.
static bool refill(input* in, framing* d) {
  unsigned char* room = d->buf + SPARE;
  memmove(room, d->dec.next, d->dec.avail);
  d->dec.next = room;
  long n = take(in, room + d->dec.avail, sizeof d->buf - SPARE - d->dec.avail);
  d->dec.avail += n > 0 ? (size_t)n : 0;
  d->ended = n == 0;
  return n >= 0;
}

// The framing's refill leaves SPARE bytes before next, always.
void giveback(decoder* d, uint64_t value, size_t k) {
  d->next -= k;
  d->avail += k;
  for (size_t i = 0; i < k; i++)
    d->next[i] = (unsigned char)(value >> (8 * i));
}

// Moves on to the next part of the header that the flags ask for.
static void advance(framing* d) {
  static const int counts[] = {10, 2, 0, 0, 0, 2, 0, 8};
  do
    d->part++;
  while ((d->part == XLEN && !(d->flags & FEXTRA)) || (d->part == EXTRA && !(d->flags & FEXTRA)) ||
         (d->part == NAME && !(d->flags & FNAME)) ||
         (d->part == COMMENT && !(d->flags & FCOMMENT)) ||
         (d->part == HCRC && !(d->flags & FHCRC)));
  d->want = counts[d->part];
  d->got = 0;
}

// The number of the given bytes at p, the first the lowest.
static unsigned leword(const unsigned char* p, int bytes) {
  unsigned v = 0;
  for (int i = bytes - 1; i >= 0; i--)
    v = v << 8 | p[i];
  return v;
}

// Takes what has arrived of a gzip member's header, whatever the pieces it
// comes in, and checks each part as it is whole: the magic, the method
// (deflate), the reserved flags and, where FHCRC asks for it, the CRC of
// the header. Returns GOING while more is needed, FRAMEEND when the header
// is whole, DAMAGED when it is no gzip header. The name, the comment and
// the extra field are passed over.
static int gzipheader(framing* d) {
  while (d->dec.avail > 0 && d->part != WHOLE) {
    const unsigned char* p = d->dec.next;
    size_t k;
    bool done;
    if (d->part == NAME || d->part == COMMENT) {
      const unsigned char* zero = (const unsigned char*)memchr(p, 0, d->dec.avail);
      k = zero ? (size_t)(zero - p) + 1 : d->dec.avail;
      done = zero != nullptr;
    } else {
      k = d->want - d->got < d->dec.avail ? d->want - d->got : d->dec.avail;
      if (d->part != EXTRA)
        memcpy(d->field + d->got, p, k);
      d->got += k;
      done = d->got == d->want;
    }
    if (d->part != HCRC)
      d->check = d->dec.sum(d->check, p, k);
    d->dec.next += k;
    d->dec.avail -= k;
    // The magic is looked at as soon as it is there: bytes after the last
    // member that are no member are told so, however few they are.
    if (d->part == FIXED &&
        ((d->got >= 1 && d->field[0] != 0x1f) || (d->got >= 2 && d->field[1] != 0x8b))) {
      d->dec.damage = TRAILING;  // no gzip member at all
      return DAMAGED;
    }
    if (!done)
      continue;
    if (d->part == FIXED) {
      if (d->field[2] != 8 || (d->field[3] & RESERVED))
        return DAMAGED;
      d->flags = d->field[3];
    } else if (d->part == HCRC && leword(d->field, 2) != (d->check & 0xffff)) {
      d->dec.damage = CHECKSUM;
      return DAMAGED;
    }
    unsigned extra = d->part == XLEN ? leword(d->field, 2) : 0;
    advance(d);
    if (d->part == EXTRA)
      d->want = extra;
  }
  return d->part == WHOLE ? FRAMEEND : GOING;
}

// Takes what has arrived of a gzip member's trailer: GOING while more is
// needed, then FRAMEEND where the CRC-32 and the length are those of what
// the member inflated to, DAMAGED where they are not.
static int gziptrailer(framing* d) {
  size_t k = d->want - d->got < d->dec.avail ? d->want - d->got : d->dec.avail;
  memcpy(d->field + d->got, d->dec.next, k);
  d->got += k;
  d->dec.next += k;
  d->dec.avail -= k;
  if (d->got < d->want)
    return GOING;
  bool right = leword(d->field, 4) == d->crc && leword(d->field + 4, 4) == d->size;
  d->dec.damage = right ? 0 : CHECKSUM;
  return right ? FRAMEEND : DAMAGED;
}

// Begins the next frame: for gzip with its header, which the framing reads;
// elsewhere the library reads the frame whole.
static void frame(input* in, framing* d) {
  d->start = in->taken - (int64_t)d->dec.avail;
  if (d->gzip) {
    d->phase = HEADER;
    d->flags = 0;
    d->part = FIXED - 1;
    advance(d);
    d->check = 0;
  } else {
    d->dec.reset(&d->dec);
    d->phase = DATA;
  }
  d->zeros = 0;
  d->taken = 0;
  d->frames++;
}

// Ends the log at damage of the given kind (a cause), found after the
// bytes of the log taken so far less those not yet decoded. Bytes that
// are no frame of the format count as bytes after the log's end only
// where a frame came before them, and are told from where they begin.
static void broke(input* in, framing* d, int kind) {
  bool begun = d->phase == HEADER || d->phase == DATA;
  cause c = because(kind == TRAILING && begun && d->frames <= 1 ? CORRUPT : kind);
  c.format = in->format;
  c.at = kind == TRAILING && begun ? d->start : in->taken - (int64_t)d->dec.avail;
  note(&in->why, c);
  d->phase = BROKEN;
}

// Decodes n bytes into buf, or fewer at the end of the log or before
// damage; after damage, what was made before it is handed on first, and the
// next read fails. Blocks are filled whole: a short block would leave the
// decoder's thread idle while both workers make theirs.
// (Measured with gzip on 500 MB compressed to 51 MB: handing on what there
// was when the compressed bytes ran out made every other block about
// 0.28 MB, and a conversion into /dev/null took 0.33 s where inflating
// alone takes 0.23 s.) A compressed log growing slowly in a pipe thus shows
// progress a block at a time, not a line at a time.
static long readframes(input* in, char* buf, size_t n) {
  framing* d = (framing*)in->state;
  size_t made = 0;
  while (made < n && d->phase != BROKEN) {
    if (d->dec.avail == 0 && !d->ended) {
      if (!refill(in, d))
        d->phase = BROKEN;  // take() holds the cause
      continue;
    }
    int found = GOING;
    d->dec.damage = 0;
    if (d->phase == HEADER) {
      found = gzipheader(d);
      if (found == FRAMEEND) {
        d->dec.reset(&d->dec);
        d->crc = d->size = 0;
        d->phase = DATA;
      }
    } else if (d->phase == DATA) {
      size_t before = d->dec.avail;
      size_t k = d->dec.step(&d->dec, buf + made, n - made, &found);
      d->taken += before - d->dec.avail;
      if (d->gzip) {
        d->crc = d->dec.sum(d->crc, (const unsigned char*)buf + made, k);
        d->size += (uint32_t)k;
      }
      made += k;
      if (found == FRAMEEND && d->gzip) {
        found = GOING;
        d->phase = TRAILER;
        d->part = TAIL;
        d->want = 8;
        d->got = 0;
      } else if (found == FRAMEEND && d->taken > 0) {
        d->phase = BETWEEN;
      } else if (found == FRAMEEND || (k == 0 && d->dec.avail == before && before > 0)) {
        // A frame that ends without taking a byte, or a step that has room
        // and bytes and makes nothing: either would go round for ever, and
        // no frame of any format is without bytes.
        found = DAMAGED;
      }
    } else if (d->phase == TRAILER) {
      found = gziptrailer(d);
      if (found == FRAMEEND)
        d->phase = BETWEEN;
    } else if (d->dec.avail == 0) {
      // The end of the log after a whole frame, or after zeros, which xz
      // allows only in fours.
      if (d->phase == ZEROS && d->padding == ZEROFOURS && d->zeros % 4 != 0)
        broke(in, d, TRAILING);
      break;
    } else if (d->dec.next[0] != 0) {
      // Another frame, whose header tells whether it is one; after zeros
      // only where they come in fours between xz's streams.
      if (d->padding == ALONE ||
          (d->phase == ZEROS && (d->padding != ZEROFOURS || d->zeros % 4 != 0))) {
        found = DAMAGED;
        d->dec.damage = TRAILING;
      } else {
        frame(in, d);
      }
    } else if (d->padding == NOZEROS || d->padding == ALONE) {
      found = DAMAGED;
      d->dec.damage = TRAILING;
    } else {
      // Zeros after a frame, as some tools pad a file, are passed over.
      d->phase = ZEROS;
      while (d->dec.avail > 0 && d->dec.next[0] == 0) {
        d->dec.next++;
        d->dec.avail--;
        d->zeros++;
      }
    }
    // Damage, or a frame cut short: it would go on past the end of the log.
    bool cut = found == GOING && d->dec.avail == 0 && d->ended && d->phase < BETWEEN && made < n;
    if (found == DAMAGED)
      broke(in, d, d->dec.damage ? d->dec.damage : CORRUPT);
    else if (cut)
      broke(in, d, CUTSHORT);
  }
  // A log whose decoded bytes are compressed once more would be read as
  // bytes; it is refused as a log in a format not read here. The first
  // read fills a whole block, or holds all there is.
  if (!d->looked && made > 0) {
    d->looked = true;
    if (compressed((const unsigned char*)buf, made)) {
      d->phase = BROKEN;
      cause c = because(TWICE);
      c.format = in->format;
      note(&in->why, c);
      return -1;
    }
  }
  if (made == 0 && d->phase == BROKEN)
    return -1;
  return (long)made;
}

static void enddecoder(input* in) {
  framing* d = (framing*)in->state;
  d->dec.release(&d->dec);
  free(d);
  in->state = nullptr;
}

bool framed(input* in, const format* f, bool (*library)(decoder* d)) {
  framing* d = (framing*)malloc(sizeof(framing));
  if (d == nullptr)
    return false;
  d->padding = f->padding;
  d->gzip = f->gzip;
  d->dec.lib = nullptr;
  d->dec.sum = nullptr;
  if (!library(&d->dec)) {
    free(d);
    return false;
  }
  in->format = f->name;
  d->dec.next = d->buf + SPARE;
  memcpy(d->dec.next, in->head, in->held);
  d->dec.avail = in->held;
  in->held = 0;
  d->ended = false;
  d->looked = false;
  d->frames = 0;
  frame(in, d);
  in->state = d;
  in->read = readframes;
  in->end = enddecoder;
  return true;
}
