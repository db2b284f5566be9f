// Where the conversion's bytes come from. The conversion knows only this
// interface: the log as it is on its descriptor is one source, and another
// (one that decompresses, say) slots in beside it without the conversion
// knowing.
#ifndef ZETTRIK_INPUT_H
#define ZETTRIK_INPUT_H

#include <stddef.h>

struct input {
  // Reads up to n bytes of the log into buf. Returns how many; 0 at the end
  // of the log, -1 when reading failed. Returns what has arrived so far, as
  // read() does, rather than wait for all n: a log growing in a pipe shows
  // its progress. Called by one thread at a time.
  long (*read)(input* in, char* buf, size_t n);
  int fd;       // the descriptor the bytes come from
  void* state;  // what the source keeps between reads, if anything
};

// Sets in up to read the log from fd as it is.
void plain(input* in, int fd);

#endif
