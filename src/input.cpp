// The log as it is, read from its descriptor with the plain system call,
// which hands back what has arrived so far, where fread() would wait until
// its whole request is filled; the choice between it and an inflater, by the
// bytes a log begins with; and gzip's framing, which both inflaters share.
#include "input.h"

#include <string.h>

// Platform difference: the same calls under other names.
#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
static long sysread(int fd, void* buf, size_t n) {
  return _read(fd, buf, (unsigned)n);
}
static bool shorter(int fd, int64_t taken) {
  struct _stati64 st;
  return _fstati64(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG && st.st_size < taken;
}
#else
#include <sys/stat.h>
#include <unistd.h>
static long sysread(int fd, void* buf, size_t n) {
  return (long)read(fd, buf, n);
}
static bool shorter(int fd, int64_t taken) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size < taken;
}
#endif

// A log emptied while it is read ends early, as if it were whole: the end
// of a regular file is looked at once, and a file shorter than what was
// read of it is a read error. (A file that has grown again past that point
// by then is not noticed.)
long take(input* in, void* buf, size_t n) {
  long got = sysread(in->fd, buf, n);
  if (got > 0)
    in->taken += got;
  if (got == 0 && shorter(in->fd, in->taken))
    return -1;
  return got;
}

static long readplain(input* in, char* buf, size_t n) {
  if (in->held > 0 && n > 0) {
    size_t k = in->held < n ? in->held : n;
    memcpy(buf, in->head, k);
    memmove(in->head, in->head + k, in->held - k);
    in->held -= k;
    return (long)k;
  }
  return take(in, buf, n);
}

void plain(input* in, int fd) {
  in->read = readplain;
  in->end = nullptr;
  in->fd = fd;
  in->state = nullptr;
  in->held = 0;
  in->taken = 0;
}

// A log in a format that is not read here fails at its first read.
static long readnone(input*, char*, size_t) {
  return -1;
}

// The compressed formats by the bytes they begin with; a byte counts where
// it matches under its mask. A log in a format without an inflater here is
// refused: read as bytes, it would give a CSV of nothing and a count of
// lines that are none. A plain log hardly begins like this: its first line
// starts with an address or a host name.
struct format {
  const char* magic;
  const char* mask;
  size_t length;
  bool (*open)(input* in);  // its inflater, or nullptr
};

#if defined(ZETTRIK_ISAL)
static bool (*const gunzip)(input*) = inflateisal;
#elif defined(ZETTRIK_ZLIB)
static bool (*const gunzip)(input*) = inflatezlib;
#else
static bool (*const gunzip)(input*) = nullptr;
#endif

static const format formats[] = {
    {"\x1f\x8b", "\xff\xff", 2, gunzip},                                   // gzip
    {"\x28\xb5\x2f\xfd", "\xff\xff\xff\xff", 4, nullptr},                  // zstd
    {"\x50\x2a\x4d\x18", "\xf0\xff\xff\xff", 4, nullptr},                  // zstd, skippable frame
    {"\xfd\x37\x7a\x58\x5a\x00", "\xff\xff\xff\xff\xff\xff", 6, nullptr},  // xz
    {"BZh0", "\xff\xff\xff\xf0", 4, nullptr},                              // bzip2 and its level
    {"\x04\x22\x4d\x18", "\xff\xff\xff\xff", 4, nullptr},                  // lz4
    {"\x02\x21\x4c\x18", "\xff\xff\xff\xff", 4, nullptr},                  // lz4, legacy
    {"PK\x03\x04", "\xff\xff\xff\xff", 4, nullptr},                        // zip
    {"PK\x05\x06", "\xff\xff\xff\xff", 4, nullptr},                        // zip, empty
    {"\x37\x7a\xbc\xaf\x27\x1c", "\xff\xff\xff\xff\xff\xff", 6, nullptr},  // 7z
    {"\x1f\x9d", "\xff\xff", 2, nullptr},                                  // Unix compress
};

// The format that the n bytes at p begin with, or nullptr.
static const format* recognise(const unsigned char* p, size_t n) {
  for (const format& f : formats) {
    size_t i = 0;
    while (i < f.length && i < n && (p[i] & (unsigned char)f.mask[i]) == (unsigned char)f.magic[i])
      i++;
    if (i == f.length)
      return &f;
  }
  return nullptr;
}

bool compressed(const unsigned char* p, size_t n) {
  return recognise(p, n) != nullptr;
}

bool start(input* in, int fd) {
  plain(in, fd);
  // A pipe may hand over one byte at a time. A read that fails here fails
  // again when the conversion reads, and is reported then.
  while (in->held < sizeof in->head) {
    long n = take(in, in->head + in->held, sizeof in->head - in->held);
    if (n <= 0)
      break;
    in->held += (size_t)n;
  }
  const format* f = recognise(in->head, in->held);
  if (f == nullptr)
    return true;
  if (f->open)
    return f->open(in);
  in->read = readnone;  // a compressed log that is not read here
  return true;
}

void finish(input* in) {
  if (in->end)
    in->end(in);
  in->end = nullptr;
}

// The gzip framing, for both inflaters.
#if defined(ZETTRIK_ISAL) || defined(ZETTRIK_ZLIB)
#include <stdlib.h>

#include "inflate.h"

// Where a gzip log stands between two reads.
enum {
  HEADER,   // in a member's header
  DATA,     // in its deflate data
  TRAILER,  // in its trailer: CRC-32 and length of what it inflates to
  BETWEEN,  // after a member: another member follows, or zeros, or nothing
  ZEROS,    // in the zeros after the last member: nothing else may follow
  BROKEN,   // damaged or unreadable: every read fails from here on
};

// The parts of a member's header, in their order, and its trailer.
enum { FIXED, XLEN, EXTRA, NAME, COMMENT, HCRC, WHOLE, TAIL };

// The header's flags (RFC 1952). The bits of 0xE0 are reserved: a member
// that sets one is refused, as gzip refuses it.
enum { FHCRC = 2, FEXTRA = 4, FNAME = 8, FCOMMENT = 16, RESERVED = 0xe0 };

// Reads more compressed bytes after those not yet taken, which move to the
// start of the buffer, after its spare room; false when reading failed.
static bool refill(input* in, gzip* g) {
  unsigned char* room = g->buf + SPARE;
  memmove(room, g->next, g->avail);
  g->next = room;
  long n = take(in, room + g->avail, sizeof g->buf - SPARE - g->avail);
  g->avail += n > 0 ? (size_t)n : 0;
  g->ended = n == 0;
  return n >= 0;
}

void unread(gzip* g, uint64_t value, size_t k) {
  g->next -= k;
  g->avail += k;
  for (size_t i = 0; i < k; i++)
    g->next[i] = (unsigned char)(value >> (8 * i));
}

// Moves on to the next part of the header that the flags ask for.
static void advance(gzip* g) {
  static const int counts[] = {10, 2, 0, 0, 0, 2, 0, 8};
  do
    g->part++;
  while ((g->part == XLEN && !(g->flags & FEXTRA)) || (g->part == EXTRA && !(g->flags & FEXTRA)) ||
         (g->part == NAME && !(g->flags & FNAME)) ||
         (g->part == COMMENT && !(g->flags & FCOMMENT)) ||
         (g->part == HCRC && !(g->flags & FHCRC)));
  g->want = counts[g->part];
  g->got = 0;
}

static unsigned little(const unsigned char* p, int bytes) {
  unsigned v = 0;
  for (int i = bytes - 1; i >= 0; i--)
    v = v << 8 | p[i];
  return v;
}

// Takes what has arrived of a member's header, whatever the pieces it comes
// in, and checks each part as it is whole: the magic, the method (deflate),
// the reserved flags and, where FHCRC asks for it, the CRC of the header.
// Returns GOING while more is needed, MEMBEREND when the header is whole,
// DAMAGED when it is no gzip header. The name, the comment and the extra
// field are passed over.
static int header(gzip* g) {
  while (g->avail > 0 && g->part != WHOLE) {
    const unsigned char* p = g->next;
    size_t k;
    bool done;
    if (g->part == NAME || g->part == COMMENT) {
      const unsigned char* zero = (const unsigned char*)memchr(p, 0, g->avail);
      k = zero ? (size_t)(zero - p) + 1 : g->avail;
      done = zero != nullptr;
    } else {
      k = g->want - g->got < g->avail ? g->want - g->got : g->avail;
      if (g->part != EXTRA)
        memcpy(g->field + g->got, p, k);
      g->got += k;
      done = g->got == g->want;
    }
    if (g->part != HCRC)
      g->check = g->sum(g->check, p, k);
    g->next += k;
    g->avail -= k;
    if (!done)
      continue;
    if (g->part == FIXED) {
      if (g->field[0] != 0x1f || g->field[1] != 0x8b || g->field[2] != 8 ||
          (g->field[3] & RESERVED))
        return DAMAGED;
      g->flags = g->field[3];
    } else if (g->part == HCRC && little(g->field, 2) != (g->check & 0xffff)) {
      return DAMAGED;
    }
    unsigned extra = g->part == XLEN ? little(g->field, 2) : 0;
    advance(g);
    if (g->part == EXTRA)
      g->want = extra;
  }
  return g->part == WHOLE ? MEMBEREND : GOING;
}

// Takes what has arrived of the trailer: GOING while more is needed, then
// MEMBEREND where the CRC-32 and the length are those of what the member
// inflated to, DAMAGED where they are not.
static int trailer(gzip* g) {
  size_t k = g->want - g->got < g->avail ? g->want - g->got : g->avail;
  memcpy(g->field + g->got, g->next, k);
  g->got += k;
  g->next += k;
  g->avail -= k;
  if (g->got < g->want)
    return GOING;
  bool right = little(g->field, 4) == g->crc && little(g->field + 4, 4) == g->size;
  return right ? MEMBEREND : DAMAGED;
}

static void member(gzip* g) {
  g->phase = HEADER;
  g->flags = 0;
  g->part = FIXED - 1;
  advance(g);
  g->check = 0;
}

// Inflates n bytes into buf, or fewer at the end of the log or before
// damage; after damage, what was made before it is handed on first, and the
// next read fails. Blocks are filled whole: the two workers take turns at
// inflating, and a short block leaves the inflater idle while both scan.
// (Measured on 500 MB compressed to 51 MB: handing on what there was when
// the compressed bytes ran out made every other block about 0.28 MB, and a
// conversion into /dev/null took 0.33 s where inflating alone takes 0.23 s.)
// A compressed log growing slowly in a pipe thus shows progress a block at
// a time, not a line at a time.
static long readgzip(input* in, char* buf, size_t n) {
  gzip* g = (gzip*)in->state;
  size_t made = 0;
  while (made < n && g->phase != BROKEN) {
    if (g->avail == 0 && !g->ended) {
      if (!refill(in, g))
        g->phase = BROKEN;
      continue;
    }
    int found = GOING;
    if (g->phase == HEADER) {
      found = header(g);
      if (found == MEMBEREND) {
        g->reset(g);
        g->crc = g->size = 0;
        g->phase = DATA;
      }
    } else if (g->phase == DATA) {
      size_t before = g->avail;
      size_t k = g->step(g, buf + made, n - made, &found);
      g->crc = g->sum(g->crc, (const unsigned char*)buf + made, k);
      g->size += (uint32_t)k;
      made += k;
      if (found == MEMBEREND) {
        g->phase = TRAILER;
        g->part = TAIL;
        g->want = 8;
        g->got = 0;
      } else if (k == 0 && g->avail == before && before > 0) {
        found = DAMAGED;  // room and bytes, and no step: it would never end
      }
    } else if (g->phase == TRAILER) {
      found = trailer(g);
      if (found == MEMBEREND)
        g->phase = BETWEEN;
    } else if (g->avail == 0) {
      break;  // the end of the log after a whole member, or zeros
    } else if (g->phase == BETWEEN && g->next[0] != 0) {
      member(g);  // another member; its header tells whether it is one
      continue;
    } else {
      // Zeros after the last member, as some tools pad a file, are passed
      // over, as gzip does; anything after them is damage.
      g->phase = ZEROS;
      while (g->avail > 0 && g->next[0] == 0) {
        g->next++;
        g->avail--;
      }
      found = g->avail > 0 ? DAMAGED : GOING;
    }
    // Damage, or a member cut short: it would go on past the end of the log.
    bool cut = found == GOING && g->avail == 0 && g->ended && g->phase < BETWEEN && made < n;
    if (found == DAMAGED || cut)
      g->phase = BROKEN;
  }
  // A log whose inflated bytes are compressed once more would be read as
  // bytes; it is refused as a log in a format not read here. The first
  // read fills a whole block, or holds all there is.
  if (!g->looked && made > 0) {
    g->looked = true;
    if (compressed((const unsigned char*)buf, made)) {
      g->phase = BROKEN;
      return -1;
    }
  }
  if (made == 0 && g->phase == BROKEN)
    return -1;
  return (long)made;
}

static void endgzip(input* in) {
  gzip* g = (gzip*)in->state;
  g->release(g);
  free(g);
  in->state = nullptr;
}

bool inflating(input* in, gzip* g) {
  if (g == nullptr)
    return false;
  g->next = g->buf + SPARE;
  memcpy(g->next, in->head, in->held);
  g->avail = in->held;
  in->held = 0;
  g->ended = false;
  g->looked = false;
  member(g);
  in->state = g;
  in->read = readgzip;
  in->end = endgzip;
  return true;
}
#endif
