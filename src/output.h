// Where the accepted lines go. An output is one entry of a small table:
// the CSV file (csv.cpp), each line byte for byte as the scan leaves it; a
// workbook whose cells hold the fields (sheets.cpp); or a database whose
// rows do (database.cpp). The entry is chosen once, by the target's name,
// when the target is opened; the conversion then drives it without knowing
// which it is.
//
// Every block of the log, once the conversion has read it in its reading
// turn, goes through two phases of the output's:
//
//   make()   on the worker's own thread, while the other worker makes its
//            own block: the work, the scan and the rows too, so that both
//            workers make rows at once. Where that work must know the
//            blocks before (where a table's rows stand), it waits here only
//            for the block before to count its own rows, which that block
//            does first (sheets.cpp); or it leaves the numbers to write()
//            (database.cpp)
//   write()  in the writing turn, in the order of the blocks
//
// A failure of writing is noted in the entry's own cause and told by end().
#ifndef ZETTRIK_OUTPUT_H
#define ZETTRIK_OUTPUT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "cause.h"
#include "lines.h"

// One block of whole lines, as the conversion hands it on: it stays in the
// buffer of the worker that read it until it is written.
struct block {
  int64_t number;  // in the order of the log, from 0
  char* start;     // its first line
  char* end;       // the byte after its last line feed
  int64_t lines;   // complete lines, counted by make()
  int64_t faulty;  // rejected lines among them
};

// A kind of target. state is what open() made; part is a worker's share
// of the work, what newpart() made: the block it made, until it is written.
struct sink {
  const char* name;             // for the tests
  const char* const* suffixes;  // the names it is chosen by, lower-case ASCII
  // The output into file, which the run has opened, checked and, unless the
  // output is regular, emptied (path is its name in UTF-8); or nullptr,
  // with *why noted. file is the output's from now on, to close, also where
  // it cannot be opened.
  void* (*open)(FILE* file, const char* path, cause* why);
  void* (*newpart)();
  void (*freepart)(void* part);
  void (*make)(void* state, void* part, block* b);
  // false once the output has failed: nothing more is worth reading
  bool (*write)(void* state, void* part);
  // Ends the output, closes its file and releases it: false, with *why
  // noted, where writing or closing failed.
  bool (*end)(void* state, cause* why);
  // It needs a file on a disk, not a pipe, a FIFO or a device, opened for
  // reading and writing; and it empties the file itself, once it knows what
  // the file holds.
  bool regular;
};

// An open output.
struct output {
  const sink* kind;
  void* state;
  cause why;  // a failure of the output that the conversion noticed: no memory for its parts
};

// The table: the kinds of target, chosen by the first whose suffix ends
// the target's name; the last row, the CSV, which has none, takes every
// other name. A new kind of target is a row here (output.cpp).
extern const sink* const sinks[];
extern const int SINKS;

// The entries.
extern const sink tocsv, tobook, tobase;

#endif
