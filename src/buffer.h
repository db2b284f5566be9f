// Bytes gathered in memory that grows as they come: a worker's XML and
// deflated pieces for the workbook, its text and records for the database.
#ifndef ZETTRIK_BUFFER_H
#define ZETTRIK_BUFFER_H

#include <stddef.h>
#include <stdlib.h>

// Its new room is not set before it is written, as a string's would be, at
// a cost of the bytes written once more.
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

#endif
