// The decoder's thread: a decoder works on a thread of its own, a block
// ahead of the conversion, which copies each block out as it reads.
#ifndef ZETTRIK_AHEAD_H
#define ZETTRIK_AHEAD_H

#include "input.h"

// Puts the decoder that in holds on a thread of its own, started at the
// first read. Without the memory for that, it is read as it is.
void ahead(input* in);

#endif
