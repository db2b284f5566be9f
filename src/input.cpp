// The log as it is, read from its descriptor with the plain system call,
// which hands back what has arrived so far, where fread() would wait until
// its whole request is filled; the choice between it and a decoder, by the
// bytes a log begins with; the framing that every decoder shares; and the
// thread that a decoder works on, a block ahead of the conversion.
#include "input.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <condition_variable>
#include <mutex>
#include <new>

#include "decode.h"
#include "threads.h"

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
  // A signal that has a handler ends a read that waits on a pipe early,
  // with nothing read: that is no failure of the log. (The program sets no
  // such handler; a host that runs it in-process may, as the fuzzers'
  // driver does with its timer.)
  long got;
  do
    got = sysread(in->fd, buf, n);
  while (got < 0 && errno == EINTR);
  if (got > 0)
    in->taken += got;
  if (got < 0)
    note(&in->why, because(SYSTEM, errno));
  if (got == 0 && shorter(in->fd, in->taken)) {
    cause c = because(TRUNCATED);
    c.at = in->taken;
    note(&in->why, c);
    return -1;
  }
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
  in->format = nullptr;
  in->why = because(UNKNOWN);
}

// A log in a format that is not read here fails at its first read.
static long readnone(input*, char*, size_t) {
  return -1;
}

// The compressed formats by the bytes they begin with: each byte of the
// magic lies between its low and its high byte, and a format may look at
// the whole magic once more. A log in a format without a decoder in this
// build is refused: read as bytes, it would give a CSV of nothing, or of
// binary bytes before pieces of lines (lzop stores runs of the log as
// they are), and a count of lines that are none. A plain log does not
// begin like this: its first line starts with an address or a host name,
// and every magic here but bzip2's holds a byte that no line of text does
// (a control byte, or a byte from 0x80) within its first five bytes
// (bzip2's "BZh1" could begin a host name, BZh1.example.net) within its
// first five bytes; bzip2 counts only with the magic of a block after it
// ("1AY&SY", and no host name holds a "&") or of the end of the stream.
struct format {
  const char* name;
  const char* low;
  const char* high;
  size_t length;
  bool (*also)(const unsigned char* p);  // or nullptr
  bool (*open)(input* in);               // its decoder, or nullptr
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
static bool (*const unlzma)(input*) = decodelzma;
static bool (*const unlzip)(input*) = decodelzip;
#else
static bool (*const unxz)(input*) = nullptr;
static bool (*const unlzma)(input*) = nullptr;
static bool (*const unlzip)(input*) = nullptr;
#endif
#ifdef ZETTRIK_BZIP2
static bool (*const unbzip2)(input*) = decodebzip2;
#else
static bool (*const unbzip2)(input*) = nullptr;
#endif

// The header of the old lzma format has no magic: a byte of the literal
// coder's properties, the dictionary's size (4 bytes) and the size of the
// data (8). It is taken as such only in the form that xz --format=lzma
// writes: the properties of every preset (0x5D: lc=3, lp=0, pb=2, as
// (pb * 5 + lp) * 9 + lc), a dictionary of 2^n or 2^n + 2^(n-1) bytes from
// 4 KiB to 1.5 GiB (so its lowest byte is 0), and the size unknown (all
// ones), as a tool writes who streams the data. "]" and a zero byte begin
// no line of text.
static bool lzmaheader(const unsigned char* p) {
  uint32_t size =
      (uint32_t)p[1] | (uint32_t)p[2] << 8 | (uint32_t)p[3] << 16 | (uint32_t)p[4] << 24;
  for (uint32_t n = 1u << 12; n <= 1u << 30; n <<= 1)
    if (size == n || size == n + n / 2)
      return true;
  return false;
}

#define BZIP2LOW "BZh1"
#define BZIP2HIGH "BZh9"
#define BLOCKMAGIC "\x31\x41\x59\x26\x53\x59"
#define ENDMAGIC "\x17\x72\x45\x38\x50\x90"
#define ONES "\xff\xff\xff\xff\xff\xff\xff\xff"

static const format formats[] = {
    {"gzip", "\x1f\x8b", "\x1f\x8b", 2, nullptr, gunzip},
    {"zstd", "\x28\xb5\x2f\xfd", "\x28\xb5\x2f\xfd", 4, nullptr, unzstd},
    {"zstd", "\x50\x2a\x4d\x18", "\x5f\x2a\x4d\x18", 4, nullptr, unzstd},  // a skippable frame
    {"xz", "\xfd\x37\x7a\x58\x5a\x00", "\xfd\x37\x7a\x58\x5a\x00", 6, nullptr, unxz},
    {"lzma", "\x5d\x00\x00\x00\x00" ONES, "\x5d\x00\xff\xff\xff" ONES, 13, lzmaheader, unlzma},
    {"lzip", "LZIP\x00", "LZIP\x01", 5, nullptr, unlzip},  // versions 0 and 1
    {"bzip2", BZIP2LOW BLOCKMAGIC, BZIP2HIGH BLOCKMAGIC, 10, nullptr, unbzip2},
    {"bzip2", BZIP2LOW ENDMAGIC, BZIP2HIGH ENDMAGIC, 10, nullptr, unbzip2},  // an empty stream
    {"lz4", "\x04\x22\x4d\x18", "\x04\x22\x4d\x18", 4, nullptr, nullptr},
    {"lz4", "\x02\x21\x4c\x18", "\x02\x21\x4c\x18", 4, nullptr, nullptr},  // legacy
    {"lzop", "\x89LZO\x00\r\n\x1a\n", "\x89LZO\x00\r\n\x1a\n", 9, nullptr, nullptr},
    {"zip", "PK\x03\x04", "PK\x03\x04", 4, nullptr, nullptr},
    {"zip", "PK\x05\x06", "PK\x05\x06", 4, nullptr, nullptr},  // an empty archive
    {"7z", "\x37\x7a\xbc\xaf\x27\x1c", "\x37\x7a\xbc\xaf\x27\x1c", 6, nullptr, nullptr},
    {"compress", "\x1f\x9d", "\x1f\x9d", 2, nullptr, nullptr},
};

// The format that the n bytes at p begin with, or nullptr. Where the n
// bytes are fewer than the format's magic but, two or more, all match it,
// *cut is set: a compressed file cut short within its magic, which its
// own tool calls damaged.
static const format* recognise(const unsigned char* p, size_t n, bool* cut) {
  *cut = false;
  for (const format& f : formats) {
    size_t i = 0;
    while (i < f.length && i < n && p[i] >= (unsigned char)f.low[i] &&
           p[i] <= (unsigned char)f.high[i])
      i++;
    if (i == f.length && (f.also == nullptr || f.also(p)))
      return &f;
    if (i == n && n >= 2 && n < f.length) {
      *cut = true;
      return &f;
    }
  }
  return nullptr;
}

bool compressed(const unsigned char* p, size_t n) {
  bool cut;
  return recognise(p, n, &cut) != nullptr;
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
  bool cut;
  const format* f = recognise(in->head, in->held, &cut);
  if (f == nullptr)
    return true;
  in->format = f->name;
  if (cut || f->open == nullptr) {
    // A compressed log that is not read here, or one cut within its magic.
    cause c = because(cut ? CUTMAGIC : NOTREAD);
    c.format = f->name;
    c.at = in->taken;
    note(&in->why, c);
    in->read = readnone;
    return true;
  }
  if (!f->open(in)) {
    note(&in->why, because(NOMEMORY));
    return false;
  }
  ahead(in);
  return true;
}

void finish(input* in) {
  if (in->end)
    in->end(in);
  in->end = nullptr;
}

// The framing, for every decoder.

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
    // The magic is looked at as soon as it is there: bytes after the last
    // member that are no member are told so, however few they are.
    if (d->part == FIXED &&
        ((d->got >= 1 && d->field[0] != 0x1f) || (d->got >= 2 && d->field[1] != 0x8b))) {
      d->damage = TRAILING;  // no gzip member at all
      return DAMAGED;
    }
    if (!done)
      continue;
    if (d->part == FIXED) {
      if (d->field[2] != 8 || (d->field[3] & RESERVED))
        return DAMAGED;
      d->flags = d->field[3];
    } else if (d->part == HCRC && little(d->field, 2) != (d->check & 0xffff)) {
      d->damage = CHECKSUM;
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
  d->damage = right ? 0 : CHECKSUM;
  return right ? FRAMEEND : DAMAGED;
}

// Begins the next frame: for gzip with its header, which the framing reads;
// elsewhere the library reads the frame whole.
static void frame(input* in, decoder* d) {
  d->start = in->taken - (int64_t)d->avail;
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
  d->frames++;
}

// Ends the log at damage of the given kind (a cause), found after the
// bytes of the log taken so far less those not yet decoded. Bytes that
// are no frame of the format count as bytes after the log's end only
// where a frame came before them, and are told from where they begin.
static void broke(input* in, decoder* d, int kind) {
  bool begun = d->phase == HEADER || d->phase == DATA;
  cause c = because(kind == TRAILING && begun && d->frames <= 1 ? CORRUPT : kind);
  c.format = in->format;
  c.at = kind == TRAILING && begun ? d->start : in->taken - (int64_t)d->avail;
  note(&in->why, c);
  d->phase = BROKEN;
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
        d->phase = BROKEN;  // take() holds the cause
      continue;
    }
    int found = GOING;
    d->damage = 0;
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
        broke(in, d, TRAILING);
      break;
    } else if (d->next[0] != 0) {
      // Another frame, whose header tells whether it is one; after zeros
      // only where they come in fours between xz's streams.
      if (d->padding == ALONE ||
          (d->phase == ZEROS && (d->padding != ZEROFOURS || d->zeros % 4 != 0))) {
        found = DAMAGED;
        d->damage = TRAILING;
      } else {
        frame(in, d);
      }
    } else if (d->padding == NOZEROS || d->padding == ALONE) {
      found = DAMAGED;
      d->damage = TRAILING;
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
    if (found == DAMAGED)
      broke(in, d, d->damage ? d->damage : CORRUPT);
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
  d->frames = 0;
  frame(in, d);
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
  runner thread;
  std::mutex lock;
  std::condition_variable moved;
  char* slot;   // the block decoded ahead
  long got;     // its bytes; 0 at the end of the log, -1 on failure
  size_t used;  // the bytes of it copied out
  bool full;    // the slot holds what the reader has not yet taken
  bool stop;    // the reader is gone
  bool tried;   // the thread was started, or could not be
};

static void* decodeahead(void* state) {
  aheadstate* a = (aheadstate*)state;
  for (;;) {
    long n = a->inner.read(&a->inner, a->slot, AHEAD);
    std::unique_lock<std::mutex> hold(a->lock);
    a->got = n;
    a->used = 0;
    a->full = true;
    a->moved.notify_all();
    if (n <= 0)
      return nullptr;
    a->moved.wait(hold, [a] { return !a->full || a->stop; });
    if (a->stop)
      return nullptr;
  }
}

static long readahead(input* in, char* buf, size_t n) {
  aheadstate* a = (aheadstate*)in->state;
  if (!a->tried) {
    a->tried = true;
    // Where the thread cannot be started, the decoder is read here as it
    // was.
    launch(&a->thread, decodeahead, a);
  }
  if (!a->thread.started) {
    long got = a->inner.read(&a->inner, buf, n);
    if (got < 0)
      note(&in->why, a->inner.why);
    return got;
  }
  std::unique_lock<std::mutex> hold(a->lock);
  a->moved.wait(hold, [a] { return a->full; });
  if (a->got < 0)
    note(&in->why, a->inner.why);  // written before got, under the lock
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
  if (a->thread.started) {
    {
      std::lock_guard<std::mutex> hold(a->lock);
      a->stop = true;
    }
    a->moved.notify_all();
    await(&a->thread);
  }
  if (a->inner.end)
    a->inner.end(&a->inner);
  free(a->slot);
  a->~aheadstate();
  free(a);
  in->state = nullptr;
}

// Puts the decoder that in holds on a thread of its own. Without the memory
// for that, it is read as it is.
static void ahead(input* in) {
  void* room = malloc(sizeof(aheadstate));
  char* slot = (char*)malloc(AHEAD);
  if (room == nullptr || slot == nullptr) {
    free(room);
    free(slot);
    return;
  }
  aheadstate* a = new (room) aheadstate;
  a->inner = *in;
  a->slot = slot;
  a->got = 0;
  a->used = 0;
  a->full = a->stop = a->tried = a->thread.started = false;
  in->state = a;
  in->read = readahead;
  in->end = endahead;
}
