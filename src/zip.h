// The zip container of the workbook, written in one pass as the parts
// come, so that a pipe or a FIFO can take it: a deflated entry's CRC and
// sizes follow its data in a data descriptor, and every size and offset
// may pass 4 GiB (zip64). Nothing is ever written twice or looked back at.
#ifndef ZETTRIK_ZIP_H
#define ZETTRIK_ZIP_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "cause.h"

// A file of the package, as the zip directory names it.
struct entry {
  std::string name;
  uint32_t crc;
  uint64_t size, packed, offset;
  bool deflated;  // with a data descriptor after it; stored otherwise
};

// The pieces are a few hundred kilobytes, the headers and descriptors a
// few bytes: gathered in a buffer of ZIPBUF bytes, where there is one, they
// go out in few large writes. (Not stdio's buffer: its failures on Windows
// lose the system's error, see putout() in files.h.)
constexpr size_t ZIPBUF = 1 << 20;

struct zipfile {
  FILE* file;
  cause why;        // why writing failed, once it has
  uint64_t offset;  // the bytes written
  std::vector<entry> entries;
  char* buf;    // ZIPBUF bytes, or nullptr: each piece is written as it comes
  size_t held;  // the bytes in buf not yet written
};

// Begins a deflated entry: its local header. Its data follow in pieces.
void begindeflated(zipfile* z, const std::string& name);

// Adds a piece of the open entry's raw deflate data, n bytes at bytes,
// which inflate to size bytes of CRC-32 crc.
void addpiece(zipfile* z, uint32_t crc, uint64_t size, const char* bytes, size_t n);

// Ends the open entry: its data descriptor.
void enddeflated(zipfile* z);

// A stored entry, written whole.
void addstored(zipfile* z, const std::string& name, const std::string& data);

// The zip directory: an entry for each file, and the records that end it;
// then what the buffer holds is written.
void enddirectory(zipfile* z);

// The CRC-32 of two pieces one after another, from the CRC-32 of each and
// the length of the second.
uint32_t crc32join(uint32_t first, uint32_t second, uint64_t length);

#endif
