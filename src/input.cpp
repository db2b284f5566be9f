// The log as it is, read from its descriptor with the plain system call,
// which hands back what has arrived so far, where fread() would wait until
// its whole request is filled; the choice between it and a decoder, by the
// bytes a log begins with; the framing that every decoder shares; and the
// thread that a decoder works on, a block ahead of the conversion.
#include "input.h"

#include <string.h>

#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

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
// it matches under its mask. A log in a format without a decoder in this
// build is refused: read as bytes, it would give a CSV of nothing and a
// count of lines that are none. A plain log hardly begins like this: its
// first line starts with an address or a host name.
struct format {
  const char* magic;
  const char* mask;
  size_t length;
  bool (*open)(input* in);  // its decoder, or nullptr
};

#if defined(ZETTRIK_ISAL)
static bool (*const gunzip)(input*) = inflateisal;
#elif defined(ZETTRIK_ZLIB)
static bool (*const gunzip)(input*) = inflatezlib;
#else
static bool (*const gunzip)(input*) = nullptr;
#endif
#ifdef ZETTRIK_ZSTD
static bool (*const unzstd)(input*) = decodezstd;
#else
static bool (*const unzstd)(input*) = nullptr;
#endif
#ifdef ZETTRIK_XZ
static bool (*const unxz)(input*) = decodexz;
#else
static bool (*const unxz)(input*) = nullptr;
#endif
#ifdef ZETTRIK_BZIP2
static bool (*const unbzip2)(input*) = decodebzip2;
#else
static bool (*const unbzip2)(input*) = nullptr;
#endif

static const format formats[] = {
    {"\x1f\x8b", "\xff\xff", 2, gunzip},                                   // gzip
    {"\x28\xb5\x2f\xfd", "\xff\xff\xff\xff", 4, unzstd},                   // zstd
    {"\x50\x2a\x4d\x18", "\xf0\xff\xff\xff", 4, unzstd},                   // zstd, skippable frame
    {"\xfd\x37\x7a\x58\x5a\x00", "\xff\xff\xff\xff\xff\xff", 6, unxz},     // xz
    {"BZh0", "\xff\xff\xff\xf0", 4, unbzip2},                              // bzip2 and its level
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

static void ahead(input* in);

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
  if (f->open) {
    if (!f->open(in))
      return false;
    ahead(in);
    return true;
  }
  in->read = readnone;  // a compressed log that is not read here
  return true;
}

void finish(input* in) {
  if (in->end)
    in->end(in);
  in->end = nullptr;
}

// The framing, for every decoder.
#include <stdlib.h>

#include "decode.h"

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

// Reads more compressed bytes after those not yet taken, which move to the
// start of the buffer, after its spare room; false when reading failed.
static bool refill(input* in, decoder* d) {
  unsigned char* room = d->buf + SPARE;
  memmove(room, d->next, d->avail);
  d->next = room;
  long n = take(in, room + d->avail, sizeof d->buf - SPARE - d->avail);
  d->avail += n > 0 ? (size_t)n : 0;
  d->ended = n == 0;
  return n >= 0;
}

void unread(decoder* d, uint64_t value, size_t k) {
  d->next -= k;
  d->avail += k;
  for (size_t i = 0; i < k; i++)
    d->next[i] = (unsigned char)(value >> (8 * i));
}

// Moves on to the next part of the header that the flags ask for.
static void advance(decoder* d) {
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

static unsigned little(const unsigned char* p, int bytes) {
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
static int header(decoder* d) {
  while (d->avail > 0 && d->part != WHOLE) {
    const unsigned char* p = d->next;
    size_t k;
    bool done;
    if (d->part == NAME || d->part == COMMENT) {
      const unsigned char* zero = (const unsigned char*)memchr(p, 0, d->avail);
      k = zero ? (size_t)(zero - p) + 1 : d->avail;
      done = zero != nullptr;
    } else {
      k = d->want - d->got < d->avail ? d->want - d->got : d->avail;
      if (d->part != EXTRA)
        memcpy(d->field + d->got, p, k);
      d->got += k;
      done = d->got == d->want;
    }
    if (d->part != HCRC)
      d->check = d->sum(d->check, p, k);
    d->next += k;
    d->avail -= k;
    if (!done)
      continue;
    if (d->part == FIXED) {
      if (d->field[0] != 0x1f || d->field[1] != 0x8b || d->field[2] != 8 ||
          (d->field[3] & RESERVED))
        return DAMAGED;
      d->flags = d->field[3];
    } else if (d->part == HCRC && little(d->field, 2) != (d->check & 0xffff)) {
      return DAMAGED;
    }
    unsigned extra = d->part == XLEN ? little(d->field, 2) : 0;
    advance(d);
    if (d->part == EXTRA)
      d->want = extra;
  }
  return d->part == WHOLE ? FRAMEEND : GOING;
}

// Takes what has arrived of a gzip member's trailer: GOING while more is
// needed, then FRAMEEND where the CRC-32 and the length are those of what
// the member inflated to, DAMAGED where they are not.
static int trailer(decoder* d) {
  size_t k = d->want - d->got < d->avail ? d->want - d->got : d->avail;
  memcpy(d->field + d->got, d->next, k);
  d->got += k;
  d->next += k;
  d->avail -= k;
  if (d->got < d->want)
    return GOING;
  bool right = little(d->field, 4) == d->crc && little(d->field + 4, 4) == d->size;
  return right ? FRAMEEND : DAMAGED;
}

// Begins the next frame: for gzip with its header, which the framing reads;
// elsewhere the library reads the frame whole.
static void frame(decoder* d) {
  if (d->gzip) {
    d->phase = HEADER;
    d->flags = 0;
    d->part = FIXED - 1;
    advance(d);
    d->check = 0;
  } else {
    d->reset(d);
    d->phase = DATA;
  }
  d->zeros = 0;
  d->taken = 0;
}

// Decodes n bytes into buf, or fewer at the end of the log or before
// damage; after damage, what was made before it is handed on first, and the
// next read fails. Blocks are filled whole: the two workers take turns at
// decoding, and a short block leaves the decoder idle while both scan.
// (Measured with gzip on 500 MB compressed to 51 MB: handing on what there
// was when the compressed bytes ran out made every other block about
// 0.28 MB, and a conversion into /dev/null took 0.33 s where inflating
// alone takes 0.23 s.) A compressed log growing slowly in a pipe thus shows
// progress a block at a time, not a line at a time.
static long readframes(input* in, char* buf, size_t n) {
  decoder* d = (decoder*)in->state;
  size_t made = 0;
  while (made < n && d->phase != BROKEN) {
    if (d->avail == 0 && !d->ended) {
      if (!refill(in, d))
        d->phase = BROKEN;
      continue;
    }
    int found = GOING;
    if (d->phase == HEADER) {
      found = header(d);
      if (found == FRAMEEND) {
        d->reset(d);
        d->crc = d->size = 0;
        d->phase = DATA;
      }
    } else if (d->phase == DATA) {
      size_t before = d->avail;
      size_t k = d->step(d, buf + made, n - made, &found);
      d->taken += before - d->avail;
      if (d->gzip) {
        d->crc = d->sum(d->crc, (const unsigned char*)buf + made, k);
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
      } else if (found == FRAMEEND || (k == 0 && d->avail == before && before > 0)) {
        // A frame that ends without taking a byte, or a step that has room
        // and bytes and makes nothing: either would go round for ever, and
        // no frame of any format is without bytes.
        found = DAMAGED;
      }
    } else if (d->phase == TRAILER) {
      found = trailer(d);
      if (found == FRAMEEND)
        d->phase = BETWEEN;
    } else if (d->avail == 0) {
      // The end of the log after a whole frame, or after zeros, which xz
      // allows only in fours.
      if (d->phase == ZEROS && d->padding == ZEROFOURS && d->zeros % 4 != 0)
        d->phase = BROKEN;
      break;
    } else if (d->next[0] != 0) {
      // Another frame, whose header tells whether it is one; after zeros
      // only where they come in fours between xz's streams.
      if (d->phase == ZEROS && (d->padding != ZEROFOURS || d->zeros % 4 != 0))
        found = DAMAGED;
      else
        frame(d);
    } else if (d->padding == NOZEROS) {
      found = DAMAGED;
    } else {
      // Zeros after a frame, as some tools pad a file, are passed over.
      d->phase = ZEROS;
      while (d->avail > 0 && d->next[0] == 0) {
        d->next++;
        d->avail--;
        d->zeros++;
      }
    }
    // Damage, or a frame cut short: it would go on past the end of the log.
    bool cut = found == GOING && d->avail == 0 && d->ended && d->phase < BETWEEN && made < n;
    if (found == DAMAGED || cut)
      d->phase = BROKEN;
  }
  // A log whose decoded bytes are compressed once more would be read as
  // bytes; it is refused as a log in a format not read here. The first
  // read fills a whole block, or holds all there is.
  if (!d->looked && made > 0) {
    d->looked = true;
    if (compressed((const unsigned char*)buf, made)) {
      d->phase = BROKEN;
      return -1;
    }
  }
  if (made == 0 && d->phase == BROKEN)
    return -1;
  return (long)made;
}

static void enddecoder(input* in) {
  decoder* d = (decoder*)in->state;
  d->release(d);
  free(d);
  in->state = nullptr;
}

decoder* newdecoder(int padding, bool gzip) {
  decoder* d = (decoder*)malloc(sizeof(decoder));
  if (d) {
    d->padding = padding;
    d->gzip = gzip;
    d->lib = nullptr;
  }
  return d;
}

bool decoding(input* in, decoder* d) {
  if (d == nullptr)
    return false;
  d->next = d->buf + SPARE;
  memcpy(d->next, in->head, in->held);
  d->avail = in->held;
  in->held = 0;
  d->ended = false;
  d->looked = false;
  frame(d);
  in->state = d;
  in->read = readframes;
  in->end = enddecoder;
  return true;
}

// Decoding ahead. A decoder works on its own thread, one block ahead of the
// conversion, which copies each block out as it reads. The two workers of
// the conversion took turns at decoding before, so the decoder's state and
// its window went from one core's cache to the other's at every block:
// zstd's window of a few megabytes made that cost more than decoding itself
// (500 MB from zstd -3: 0.83 s of CPU on two cores, 0.51 s on one). On its
// own thread it stays on one core, and the two workers scan and write.
// Changes here are measured with bench/bench.py --only compressed.
constexpr size_t AHEAD = 1 << 20;  // the conversion's block

struct aheadstate {
  input inner;  // the decoder, as start() set it up
  std::thread thread;
  std::mutex lock;
  std::condition_variable moved;
  char* slot;    // the block decoded ahead
  long got;      // its bytes; 0 at the end of the log, -1 on failure
  size_t used;   // the bytes of it copied out
  bool full;     // the slot holds what the reader has not yet taken
  bool stop;     // the reader is gone
  bool started;  // the thread was started, or could not be
};

static void decodeahead(aheadstate* a) {
  for (;;) {
    long n = a->inner.read(&a->inner, a->slot, AHEAD);
    std::unique_lock<std::mutex> hold(a->lock);
    a->got = n;
    a->used = 0;
    a->full = true;
    a->moved.notify_all();
    if (n <= 0)
      return;
    a->moved.wait(hold, [a] { return !a->full || a->stop; });
    if (a->stop)
      return;
  }
}

static long readahead(input* in, char* buf, size_t n) {
  aheadstate* a = (aheadstate*)in->state;
  if (!a->started) {
    a->started = true;
    // Where the thread cannot be started, the decoder is read here as it
    // was. std::thread tells that by throwing; this catch, as the one in
    // convert.cpp, only turns the failure back into that.
    try {
      a->thread = std::thread(decodeahead, a);
    } catch (const std::system_error&) {
    }
  }
  if (!a->thread.joinable())
    return a->inner.read(&a->inner, buf, n);
  std::unique_lock<std::mutex> hold(a->lock);
  a->moved.wait(hold, [a] { return a->full; });
  if (a->got <= 0)
    return a->got;  // and the same at every later read
  size_t k = (size_t)a->got - a->used < n ? (size_t)a->got - a->used : n;
  memcpy(buf, a->slot + a->used, k);
  a->used += k;
  if (a->used == (size_t)a->got) {
    a->full = false;
    a->moved.notify_all();
  }
  return (long)k;
}

static void endahead(input* in) {
  aheadstate* a = (aheadstate*)in->state;
  if (a->thread.joinable()) {
    {
      std::lock_guard<std::mutex> hold(a->lock);
      a->stop = true;
    }
    a->moved.notify_all();
    a->thread.join();
  }
  if (a->inner.end)
    a->inner.end(&a->inner);
  free(a->slot);
  delete a;
  in->state = nullptr;
}

// Puts the decoder that in holds on a thread of its own. Without the memory
// for that, it is read as it is.
static void ahead(input* in) {
  aheadstate* a = new (std::nothrow) aheadstate;
  char* slot = (char*)malloc(AHEAD);
  if (a == nullptr || slot == nullptr) {
    delete a;
    free(slot);
    return;
  }
  a->inner = *in;
  a->slot = slot;
  a->got = 0;
  a->used = 0;
  a->full = a->stop = a->started = false;
  in->state = a;
  in->read = readahead;
  in->end = endahead;
}
