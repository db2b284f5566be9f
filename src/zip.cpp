// The zip container (zip.h).
#include "zip.h"

#include "files.h"
#include "pack.h"

static std::string& le(std::string& s, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; i++)
    s += (char)(v >> (8 * i));
  return s;
}

static void put(zipfile* z, const char* p, size_t n) {
  z->offset += n;
  bufferout(z->file, z->buf, ZIPBUF, &z->held, p, n, &z->why);
}

static void put(zipfile* z, const std::string& s) {
  put(z, s.data(), s.size());
}

// Sizes and offsets past this take the zip64 forms.
constexpr uint64_t LARGE = 0xffffffff;

// The local header of an entry. The time is the earliest zip knows, so that
// the same log gives the same workbook. A sheet's CRC and sizes are not
// known when its header is written, and may pass 4 GiB: they follow its
// data, in a data descriptor of 8-byte sizes, which the zip format ties to
// a zip64 extra field in the local header. So every sheet's header has
// one, its sizes zero and those of the header itself 0xFFFFFFFF, and needs
// version 4.5. A stored part is small and written whole.
static void localheader(zipfile* z, entry* e) {
  e->offset = z->offset;
  std::string s;
  le(s, 0x04034b50, 4);
  le(s, e->deflated ? 45 : 20, 2);                        // version needed: 4.5, zip64, or 2.0
  le(s, e->deflated ? 8 : 0, 2);                          // flags: a data descriptor follows
  le(s, e->deflated ? 8 : 0, 2);                          // method: deflate, or stored
  le(le(s, 0, 2), 0x21, 2);                               // 1980-01-01 00:00
  le(s, e->deflated ? 0 : e->crc, 4);                     // CRC-32
  le(s, e->deflated ? LARGE : e->size, 4);                // compressed size
  le(s, e->deflated ? LARGE : e->size, 4);                // uncompressed size
  le(le(s, e->name.size(), 2), e->deflated ? 20 : 0, 2);  // name, extra field
  s += e->name;
  if (e->deflated)
    le(le(le(le(s, 1, 2), 16, 2), 0, 8), 0, 8);  // zip64: the sizes, in the descriptor
  put(z, s);
}

void begindeflated(zipfile* z, const std::string& name) {
  z->entries.push_back(entry{name, 0, 0, 0, 0, true});
  localheader(z, &z->entries.back());
}

void addpiece(zipfile* z, uint32_t crc, uint64_t size, const char* bytes, size_t n) {
  entry& e = z->entries.back();
  e.crc = crc32join(e.crc, crc, size);
  e.size += size;
  e.packed += n;
  put(z, bytes, n);
}

// The data descriptor, with the CRC and the sizes in 8 bytes.
void enddeflated(zipfile* z) {
  entry& e = z->entries.back();
  std::string d;
  le(le(d, 0x08074b50, 4), e.crc, 4);
  le(le(d, e.packed, 8), e.size, 8);
  put(z, d);
}

void addstored(zipfile* z, const std::string& name, const std::string& data) {
  z->entries.push_back(
      entry{name, crc32of(0, data.data(), data.size()), data.size(), data.size(), 0, false});
  localheader(z, &z->entries.back());
  put(z, data);
}

// A CRC is the remainder of the data's polynomial over GF(2), times x^32,
// modulo the polynomial P (bit-reversed: x^0 is the top bit, x^31 the
// lowest). Data followed by n zero bytes has its CRC times x^(8n) modulo
// P, so the first CRC is taken through the second's length by one product
// with x^(8n), and the second CRC added. x^(8n) is a product of the powers
// x^(8 * 2^k) for the bits k set in n: for a length of 5 bytes (101 in
// binary), x^8 times x^32. Those 64 powers are a table, each the square of
// the one before, made by the compiler; squaring 32 by 32 bit matrices at
// each call took 1% of the workbook's cycles by perf.
constexpr uint32_t POLY = 0xedb88320;

// a times b modulo P: b times x once for every bit of a, from x^0 on.
static constexpr uint32_t product(uint32_t a, uint32_t b) {
  uint32_t p = 0;
  for (uint32_t m = 1u << 31; m != 0 && a != 0; m >>= 1) {
    if (a & m) {
      p ^= b;
      a ^= m;
    }
    b = b & 1 ? (b >> 1) ^ POLY : b >> 1;
  }
  return p;
}

struct powers {
  uint32_t of[64];  // x^(8 * 2^k) modulo P
};

static constexpr powers square() {
  powers t = {};
  t.of[0] = 1u << (31 - 8);  // x^8
  for (int k = 1; k < 64; k++)
    t.of[k] = product(t.of[k - 1], t.of[k - 1]);
  return t;
}
static constexpr powers zeros = square();

uint32_t crc32join(uint32_t first, uint32_t second, uint64_t length) {
  for (int k = 0; length; k++, length >>= 1)
    if (length & 1)
      first = product(zeros.of[k], first);
  return first ^ second;
}

// The zip64 forms stand where a size or an offset needs them.
void enddirectory(zipfile* z) {
  uint64_t start = z->offset;
  bool large = false;
  for (const entry& e : z->entries) {
    bool big = e.size >= LARGE || e.packed >= LARGE || e.offset >= LARGE;
    large = large || big;
    std::string extra;
    if (big) {  // zip64: the three, in this order, where the fields hold 0xFFFFFFFF
      le(le(extra, 1, 2), 24, 2);
      le(le(le(extra, e.size, 8), e.packed, 8), e.offset, 8);
    }
    std::string s;
    le(s, 0x02014b50, 4);
    int version = big || e.deflated ? 45 : 20;  // 4.5 as the local header says, or 2.0
    le(le(s, version, 2), version, 2);          // made by, needed
    le(s, e.deflated ? 8 : 0, 2);
    le(s, e.deflated ? 8 : 0, 2);
    le(le(s, 0, 2), 0x21, 2);
    le(s, e.crc, 4);
    le(s, big ? LARGE : e.packed, 4);
    le(s, big ? LARGE : e.size, 4);
    le(le(le(s, e.name.size(), 2), extra.size(), 2), 0, 2);  // name, extra, comment
    le(le(le(s, 0, 2), 0, 2), 0, 4);                         // disk, attributes
    le(s, big ? LARGE : e.offset, 4);
    s += e.name;
    put(z, s + extra);
  }
  uint64_t size = z->offset - start, count = z->entries.size();
  std::string s;
  if (large || start >= LARGE) {
    uint64_t end64 = z->offset;
    le(le(s, 0x06064b50, 4), 44, 8);
    le(le(s, 45, 2), 45, 2);
    le(le(s, 0, 4), 0, 4);
    le(le(s, count, 8), count, 8);
    le(le(s, size, 8), start, 8);
    le(le(s, 0x07064b50, 4), 0, 4);
    le(le(s, end64, 8), 1, 4);
  }
  le(s, 0x06054b50, 4);
  le(le(s, 0, 2), 0, 2);
  le(le(s, count, 2), count, 2);
  le(s, size, 4);
  le(s, start >= LARGE ? LARGE : start, 4);
  le(s, 0, 2);
  put(z, s);
  flushout(z->file, z->buf, &z->held, &z->why);
}
