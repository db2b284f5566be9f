// The cells of the workbook's rows as XML text: the bytes of a field as
// the text of a cell, which cell each field becomes (text, number, date),
// and the header row. Everything here runs on a worker's own thread.
#ifndef ZETTRIK_TEXT_H
#define ZETTRIK_TEXT_H

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "buffer.h"
#include "cells.h"

// The columns: each field one, the time two (Zeit, and Zone after it).
constexpr int COLUMNS = 10;

// The most bytes of XML that a byte of a field can become: _x0001_.
constexpr size_t WIDEST = 7;

// Writes the bytes from p to end as XML text at out, which has room for
// WIDEST bytes for each, and returns the end; *chars is the number of
// characters (UTF-16 units, as a cell counts them) of the text. Valid
// UTF-8 stays, every other byte is taken as Windows-1252 (latin()); &, <
// and > become entities, a CR a reference, the other C0 controls but tab
// and line feed the form _xHHHH_, as U+FFFE and U+FFFF do, and so does an
// underscore that begins _xHHHH.
char* xmltext(char* out, const unsigned char* p, const unsigned char* end, size_t* chars);

// Whether a row can be one: no field longer than a cell holds.
bool fits(const row& r);

// The last time written and its text: lines of a log share their second
// often, and the same field is not written again.
struct timetext {
  unsigned char field[28];
  char text[32];
  size_t length;  // 0 at first
};

// The last row's number and its digits, which the next row's are counted
// up from.
struct rownumber {
  int64_t place;
  char digits[8];  // room to store 8 at once
  size_t n;        // 0 at first
};

// What a row leaves for the next to use, kept by the worker between rows.
struct lastrow {
  timetext time;
  rownumber row;
};

// Appends the row to xml, numbered place (from 1) in its sheet; false where
// there is no memory.
bool addrow(buffer* xml, const row& r, int64_t place, lastrow* last);

// The header row: the names of the columns, in bold (style 1).
std::string headerrow();

#endif
