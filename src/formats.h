// The compressed formats: which one a log is in, by the bytes it begins
// with. One table, which the framing reads the rules of each format from
// and the tests walk, so that a format without a test fails.
#ifndef ZETTRIK_FORMATS_H
#define ZETTRIK_FORMATS_H

#include <stddef.h>

#include "decode.h"

// What may stand after a frame: another frame and no zeros (zstd, bzip2,
// lzip), zeros in any number after the last member only (gzip, as gzip
// takes them), zeros in multiples of four between and after streams (the
// stream padding of xz), or nothing at all (lzma, whose file is one
// stream).
enum { NOZEROS, TRAILINGZEROS, ZEROFOURS, ALONE };

// A compressed format by the bytes it begins with: each byte of the magic
// lies between its low and its high byte, and a format may look at the
// whole magic once more.
struct format {
  const char* name;
  const char* low;
  const char* high;
  size_t length;
  bool (*also)(const unsigned char* p);  // or nullptr
  bool (*library)(decoder* d);           // its decoder in this build, or nullptr
  int padding;                           // what may stand after a frame
  bool gzip;                             // the framing reads gzip's header and trailer
  bool readable;                         // read where the program is built with its library
};

// The table: every format that is told apart, with a decoder or without.
extern const format formats[];
extern const size_t FORMATS;

// The format that the n bytes at p begin with, or nullptr. Where the n
// bytes are fewer than the format's magic but, two or more, all match it,
// *cut is set: a compressed file cut short within its magic, which its
// own tool calls damaged.
const format* recognise(const unsigned char* p, size_t n, bool* cut);

// Whether the n bytes at p begin as a compressed file does, or are, at
// least two of them, all there is of such a beginning.
bool compressed(const unsigned char* p, size_t n);

#endif
