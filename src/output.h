// Where the accepted lines go: the CSV file, each line byte for byte as the
// scan leaves it, a workbook whose cells hold the fields (book.h), or a
// database whose rows do (base.h).
// Chosen once, by the target's name, when it is opened; the conversion
// writes into either a block at a time, in the order of the blocks.
#ifndef ZETTRIK_OUTPUT_H
#define ZETTRIK_OUTPUT_H

#include <stdint.h>
#include <stdio.h>

#include "base.h"
#include "book.h"
#include "cause.h"

struct output {
  FILE* file;      // the target, opened and checked as every target is
  workbook* book;  // the workbook written into file, or nullptr: the CSV
  int64_t rows;    // the workbook's rows so far
  cause why;       // why writing failed, once it has
  database* base;  // the database, or nullptr
  int64_t lines;   // for a database: the lines of the log in the blocks counted
};

#endif
