// The compressed formats by the bytes they begin with (formats.h).
#include "formats.h"

// A log in a format without a decoder in this build is refused: read as
// bytes, it would give a CSV of nothing, or of binary bytes before pieces
// of lines (lzop stores runs of the log as they are), and a count of lines
// that are none. A plain log does not begin like this: its first line
// starts with an address or a host name, and every magic here but bzip2's
// holds a byte that no line of text does (a control byte, or a byte from
// 0x80) within its first five bytes (bzip2's "BZh1" could begin a host
// name, BZh1.example.net); bzip2 counts only with the magic of a block
// after it ("1AY&SY", and no host name holds a "&") or of the end of the
// stream.
#if defined(ZETTRIK_ISAL)
static bool (*const gunzip)(decoder*) = inflateisal;
#elif defined(ZETTRIK_ZLIB)
static bool (*const gunzip)(decoder*) = inflatezlib;
#else
static bool (*const gunzip)(decoder*) = nullptr;
#endif
#ifdef ZETTRIK_ZSTD
static bool (*const unzstd)(decoder*) = decodezstd;
#else
static bool (*const unzstd)(decoder*) = nullptr;
#endif
#ifdef ZETTRIK_XZ
static bool (*const unxz)(decoder*) = decodexz;
static bool (*const unlzma)(decoder*) = decodelzma;
static bool (*const unlzip)(decoder*) = decodelzip;
#else
static bool (*const unxz)(decoder*) = nullptr;
static bool (*const unlzma)(decoder*) = nullptr;
static bool (*const unlzip)(decoder*) = nullptr;
#endif
#ifdef ZETTRIK_BZIP2
static bool (*const unbzip2)(decoder*) = decodebzip2;
#else
static bool (*const unbzip2)(decoder*) = nullptr;
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

// gzip's members may be followed by zeros after the last, as gzip takes
// them; xz's streams by zero padding in fours between and after them;
// lzip's members, zstd's frames and bzip2's streams follow one another
// with nothing between; the lzma format holds one stream, and nothing may
// follow it.
// The last field tells the formats that Zettrik reads where it is built
// with their libraries, from those it never reads.
const format formats[] = {
    {"gzip", "\x1f\x8b", "\x1f\x8b", 2, nullptr, gunzip, TRAILINGZEROS, true, true},
    {"zstd", "\x28\xb5\x2f\xfd", "\x28\xb5\x2f\xfd", 4, nullptr, unzstd, NOZEROS, false, true},
    {"zstd", "\x50\x2a\x4d\x18", "\x5f\x2a\x4d\x18", 4, nullptr, unzstd, NOZEROS, false,
     true},  // a skippable frame
    {"xz", "\xfd\x37\x7a\x58\x5a\x00", "\xfd\x37\x7a\x58\x5a\x00", 6, nullptr, unxz, ZEROFOURS,
     false, true},
    {"lzma", "\x5d\x00\x00\x00\x00" ONES, "\x5d\x00\xff\xff\xff" ONES, 13, lzmaheader, unlzma,
     ALONE, false, true},
    {"lzip", "LZIP\x00", "LZIP\x01", 5, nullptr, unlzip, NOZEROS, false, true},  // versions 0 and 1
    {"bzip2", BZIP2LOW BLOCKMAGIC, BZIP2HIGH BLOCKMAGIC, 10, nullptr, unbzip2, NOZEROS, false,
     true},
    {"bzip2", BZIP2LOW ENDMAGIC, BZIP2HIGH ENDMAGIC, 10, nullptr, unbzip2, NOZEROS, false,
     true},  // an empty stream
    {"lz4", "\x04\x22\x4d\x18", "\x04\x22\x4d\x18", 4, nullptr, nullptr, NOZEROS, false, false},
    {"lz4", "\x02\x21\x4c\x18", "\x02\x21\x4c\x18", 4, nullptr, nullptr, NOZEROS, false,
     false},  // legacy
    {"lzop", "\x89LZO\x00\r\n\x1a\n", "\x89LZO\x00\r\n\x1a\n", 9, nullptr, nullptr, NOZEROS, false,
     false},
    {"zip", "PK\x03\x04", "PK\x03\x04", 4, nullptr, nullptr, NOZEROS, false, false},
    {"zip", "PK\x05\x06", "PK\x05\x06", 4, nullptr, nullptr, NOZEROS, false,
     false},  // an empty archive
    {"7z", "\x37\x7a\xbc\xaf\x27\x1c", "\x37\x7a\xbc\xaf\x27\x1c", 6, nullptr, nullptr, NOZEROS,
     false, false},
    {"compress", "\x1f\x9d", "\x1f\x9d", 2, nullptr, nullptr, NOZEROS, false, false},
};
const size_t FORMATS = sizeof formats / sizeof *formats;

const format* recognise(const unsigned char* p, size_t n, bool* cut) {
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
