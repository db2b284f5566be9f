// Where the conversion's bytes come from. The conversion knows only this
// interface: the log as it is on its descriptor is one source, the log
// decoded from gzip, zstd, xz, lzma, lzip or bzip2 another, and the
// conversion cannot tell them apart.
#ifndef ZETTRIK_INPUT_H
#define ZETTRIK_INPUT_H

#include <stddef.h>
#include <stdint.h>

#include "cause.h"
#include "lines.h"

struct input {
  // Reads up to n bytes of the log into buf. Returns how many; 0 at the end
  // of the log, -1 when reading failed (or the compressed data is damaged).
  // Returns what there is so far rather than wait for all n: a log growing
  // in a pipe shows its progress. Called by one thread at a time.
  long (*read)(input* in, char* buf, size_t n);
  // Releases what the source holds; nullptr where it holds nothing.
  void (*end)(input* in);
  int fd;       // the descriptor the bytes come from
  void* state;  // what the source keeps between reads
  // The first bytes of the descriptor, read by openlog() to tell a compressed
  // log from a plain one (lzma's header, the longest, has 13); a source
  // hands them on before anything else.
  unsigned char head[16];
  size_t held;
  int64_t taken;       // the bytes taken from fd so far
  const char* format;  // the compressed format's name, or nullptr
  cause why;           // why a read failed, once one has (failed() tells)
};

// Sets in up to read the log from fd as it is.
void plain(input* in, int fd);

// Sets in up to read the log from fd, by the bytes it begins with, whatever
// its name (formats.h): decoded where they are those of gzip, zstd, xz,
// lzma, lzip or bzip2, on a thread of its own (ahead.h); refused, every
// read failing, where they are those of a compressed format that is not
// read here, or where the log ends within such bytes (at least two of
// them); as it is otherwise. Returns false, with in->why set, when there
// was no memory for the decoder.
bool openlog(input* in, int fd);

// Releases what openlog() or a decoder took.
void finish(input* in);

#endif
