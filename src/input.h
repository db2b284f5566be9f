// Where the conversion's bytes come from. The conversion knows only this
// interface: the log as it is on its descriptor is one source, the log
// inflated from gzip another, and the conversion cannot tell them apart.
#ifndef ZETTRIK_INPUT_H
#define ZETTRIK_INPUT_H

#include <stddef.h>

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
  // The first bytes of the descriptor, read by start() to tell a compressed
  // log from a plain one; a source hands them on before anything else.
  unsigned char head[2];
  size_t held;
};

// Sets in up to read the log from fd as it is.
void plain(input* in, int fd);

// Sets in up to read the log from fd: inflated where its first two bytes
// are those of gzip (0x1F 0x8B), whatever its name; as it is otherwise.
// Returns false when there was no memory for the inflater.
bool start(input* in, int fd);

// Releases what start() or an inflater took.
void finish(input* in);

// The inflaters, for start() and the tests: each sets in up to inflate the
// bytes of in->head and then of in->fd, a gzip member after another, as
// gzip does; zero bytes after the last member are passed over, anything
// else is damage, as are corrupt data and a member cut short. Each returns
// false when there was no memory for it.
#ifdef ZETTRIK_ISAL
bool inflateisal(input* in);
#endif
#ifdef ZETTRIK_ZLIB
bool inflatezlib(input* in);
#endif

#endif
