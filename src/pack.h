// Raw deflate for the workbook's sheets, in pieces that may be made apart
// and joined in order: each piece starts without history and ends at a
// byte boundary (a full flush), or with the final block. pack-isal.cpp
// deflates with ISA-L, pack-zlib.cpp with zlib; CMake picks the one that
// inflates gzip logs.
#ifndef ZETTRIK_PACK_H
#define ZETTRIK_PACK_H

#include <stddef.h>
#include <stdint.h>

#include "buffer.h"

struct packer;

// A deflater, or nullptr where there is no memory for one.
packer* newpacker();
void freepacker(packer* p);

// Starts a new piece: nothing before it is looked back at.
void restart(packer* p);

// How a call ends its input.
enum { MORE, FLUSHED, FINAL };

// Deflates n bytes at from onto the end of out. With FLUSHED the piece
// ends at a byte boundary, with FINAL with the final block of the stream;
// with MORE, more of the piece follows. False where the library failed.
bool squeeze(packer* p, const char* from, size_t n, int end, buffer* out);

// The CRC-32 of n bytes at from, going on from crc.
uint32_t crc32of(uint32_t crc, const char* from, size_t n);

#endif
