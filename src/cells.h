// The rows of a block and the fields of an accepted line, and the rules for
// their values, the same for every target that holds the fields apart (the
// workbook, sheets.cpp and text.h; the database, database.cpp): which lines
// are rows, where a field ends, which are numbers, which time is a date,
// and how the bytes of the log become text.
#ifndef ZETTRIK_CELLS_H
#define ZETTRIK_CELLS_H

#include <stddef.h>
#include <stdint.h>

// One accepted line without its line end: as the log has it, and as the
// scan left it, its separators turned into semicolons; and its place among
// the lines of its block, from 0, the rejected ones counted too.
struct row {
  const char* at;
  const char* scanned;
  size_t length;
  int64_t place;
};

// The accepted lines of a block, as rows: the block copied as the log has
// it, the rows there, and the scan's line ends. Room for a block of MOST
// bytes, which holds at most MOST / SHORTEST rows (lines.h).
struct ending;
struct rowset {
  char* copy;
  row* rows;
  size_t count;
  ending* ends;
};

// Makes room in t; false where there is no memory.
bool newrows(rowset* t);
void freerows(rowset* t);

// The rows of the whole lines from start to end: the block is copied, and
// then scanned in place, turning its separators into semicolons. A line
// of the right shape and length becomes a row where keep (or nullptr) takes
// it; every line is counted in *lines, which tells the place of the first
// (the block's lines before it), and every other in *faulty. The CR of a
// CR LF belongs to the line end here on every platform: a row has no line
// end.
void tabulate(rowset* t, char* start, char* end, bool (*keep)(const row& r), int64_t* lines,
              int64_t* faulty);

// The fields of a line, in the order of the log.
enum { ADDRESS, IDENTITY, USER, TIME, REQUEST, STATUS, BYTES, REFERRER, AGENT, FIELDS };

// Bounds the fields of a row: field i from starts[i] to ends[i] in r.at, a
// field that begins and ends with a double quote without them. The
// separators are the bytes that the scan turned into semicolons.
void fields(const row& r, const unsigned char** starts, const unsigned char** ends);

// Whether a field is a number as a cell takes one: a plain decimal integer
// of at most 15 digits (all that a spreadsheet keeps exact), without a
// leading zero (0 itself is one).
bool number(const unsigned char* p, const unsigned char* end);

// Whether the n bytes at p are a time as web servers write it for the
// combined format, [07/Dec/2026:10:00:00 +0100], of a day that exists
// from 1900-03-01 on (before it the 1900 date system of spreadsheets is
// wrong): then *days is the day, counted from 1899-12-30 as spreadsheets
// count, and *seconds the time of that day, as written, the offset aside.
bool stamp(const unsigned char* p, size_t n, int64_t* days, int* seconds);

// Writes a time that stamp() takes as 2026-12-07 10:00:00+01:00, the form
// that SQLite's date functions read, at out; returns the end (25 bytes on).
char* iso(char* out, const unsigned char* p);

// The character a byte stands for that begins no valid UTF-8 sequence: the
// byte taken as Windows-1252.
uint32_t latin(unsigned char c);

// Writes a character below U+10000 as UTF-8 at out; returns the end.
char* encode(char* out, uint32_t c);

// Writes the bytes from p to end as UTF-8 at out, which has room for three
// bytes for each: valid UTF-8 as it is, every other byte by latin(), and
// nothing escaped. Returns the end.
char* unicode(char* out, const unsigned char* p, const unsigned char* end);

#endif
