// Raw deflate for the workbook's sheets, in pieces that may be made apart
// and joined in order: each piece starts without history and ends at a
// byte boundary (a full flush), or with the final block. pack-isal.cpp
// deflates with ISA-L, pack-zlib.cpp with zlib; CMake picks the one that
// inflates gzip logs.
#ifndef ZETTRIK_PACK_H
#define ZETTRIK_PACK_H

#include <stddef.h>
#include <stdint.h>

#include <stdlib.h>

// Bytes gathered in memory that grows as they come: its new room is not
// set before it is written, as a string's would be, at a cost of the bytes
// written once more.
struct buffer {
  char* data;
  size_t used, room;
};

// Makes room for more bytes after those used; false where there is no
// memory for them.
static inline bool grow(buffer* b, size_t more) {
  if (b->room - b->used >= more)
    return true;
  size_t room = b->room * 2 > b->used + more ? b->room * 2 : b->used + more;
  char* data = (char*)realloc(b->data, room);
  if (data == nullptr)
    return false;
  b->data = data;
  b->room = room;
  return true;
}

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
