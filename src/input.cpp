// The log as it is, read from its descriptor with the plain system call,
// which hands back what has arrived so far, where fread() would wait until
// its whole request is filled; and the choice between it and an inflater.
#include "input.h"

#include <string.h>

// Platform difference: the same call under another name.
#ifdef _WIN32
#include <io.h>
static long sysread(int fd, void* buf, size_t n) {
  return _read(fd, buf, (unsigned)n);
}
#else
#include <unistd.h>
static long sysread(int fd, void* buf, size_t n) {
  return (long)read(fd, buf, n);
}
#endif

static long readplain(input* in, char* buf, size_t n) {
  if (in->held > 0 && n > 0) {
    size_t k = in->held < n ? in->held : n;
    memcpy(buf, in->head, k);
    memmove(in->head, in->head + k, in->held - k);
    in->held -= k;
    return (long)k;
  }
  return sysread(in->fd, buf, n);
}

void plain(input* in, int fd) {
  in->read = readplain;
  in->end = nullptr;
  in->fd = fd;
  in->state = nullptr;
  in->held = 0;
}

bool start(input* in, int fd) {
  plain(in, fd);
  // A pipe may hand over one byte at a time. A read that fails here fails
  // again when the conversion reads, and is reported then.
  while (in->held < 2) {
    long n = sysread(fd, in->head + in->held, 2 - in->held);
    if (n <= 0)
      break;
    in->held += (size_t)n;
  }
  if (in->held < 2 || in->head[0] != 0x1f || in->head[1] != 0x8b)
    return true;
#if defined(ZETTRIK_ISAL)
  return inflateisal(in);
#elif defined(ZETTRIK_ZLIB)
  return inflatezlib(in);
#else
  return true;  // built without an inflater: the bytes are read as they are
#endif
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
  MEMBER,   // inside a member
  BETWEEN,  // after a member: another member follows, or zeros, or nothing
  ZEROS,    // in the zeros after the last member: nothing else may follow
  BROKEN,   // damaged or unreadable: every read fails from here on
};

// Reads more compressed bytes after those not yet taken; false when reading
// failed.
static bool refill(input* in, gzip* g) {
  memmove(g->buf, g->next, g->avail);
  g->next = g->buf;
  long n = sysread(in->fd, g->buf + g->avail, sizeof g->buf - g->avail);
  g->avail += n > 0 ? (size_t)n : 0;
  g->ended = n == 0;
  return n >= 0;
}

// Whether the header of the member at g->next may go to the library, with
// its first four bytes at hand. gzip refuses a member whose reserved flag
// bits (0xE0 of the fourth byte) are set, as RFC 1952 asks, and so does
// zlib, but ISA-L takes it: it is refused here, so that every inflater, and
// the program on every platform, gives the same verdict. The library checks
// the rest of the header.
static bool plausible(const gzip* g) {
  return g->avail < 4 || (g->next[3] & 0xe0) == 0;
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
    bool short4 = g->phase == MEMBER && g->fresh && g->avail < 4;
    if ((g->avail == 0 || short4) && !g->ended) {
      if (!refill(in, g)) {
        g->phase = BROKEN;
        break;
      }
      continue;
    }
    if (g->phase == MEMBER && g->fresh) {
      g->fresh = false;
      if (!plausible(g))
        g->phase = BROKEN;
    } else if (g->phase == MEMBER) {
      int found = GOING;
      made += g->step(g, buf + made, n - made, &found);
      // Cut short: the member would go on past the end of the log.
      bool cut = found == GOING && g->avail == 0 && g->ended && made < n;
      if (found == DAMAGED || cut)
        g->phase = BROKEN;
      else if (found == MEMBEREND)
        g->phase = BETWEEN;
    } else if (g->avail == 0) {
      break;  // the end of the log after a whole member, or zeros
    } else if (g->phase == BETWEEN && g->next[0] != 0) {
      g->reset(g);  // another member; the library tells damage in its header
      g->phase = MEMBER;
      g->fresh = true;
    } else {
      // Zeros after the last member, as some tools pad a file, are passed
      // over, as gzip does; anything after them is damage.
      g->phase = ZEROS;
      while (g->avail > 0 && g->next[0] == 0) {
        g->next++;
        g->avail--;
      }
      if (g->avail > 0)
        g->phase = BROKEN;
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
  memcpy(g->buf, in->head, in->held);
  g->next = g->buf;
  g->avail = in->held;
  in->held = 0;
  g->ended = false;
  g->phase = MEMBER;
  g->fresh = true;
  in->state = g;
  in->read = readgzip;
  in->end = endgzip;
  return true;
}
#endif
