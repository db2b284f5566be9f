// Reading the log's descriptor with the plain system call, which hands back
// what has arrived so far, where fread() would wait until its whole request
// is filled: for the plain source and for the framing of the decoders.
#ifndef ZETTRIK_DESCRIPTOR_H
#define ZETTRIK_DESCRIPTOR_H

#include <stddef.h>

#include "input.h"

// Reads up to n bytes from in->fd and counts them in in->taken. At the end
// of a regular file that is now shorter than what was taken of it, the log
// was cut while it was read (as logrotate's copytruncate does): that is a
// read error, -1, and not the end of the log. A failure sets in->why.
long take(input* in, void* buf, size_t n);

#endif
