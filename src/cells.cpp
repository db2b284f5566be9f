// The fields of an accepted line and the rules for their values (cells.h).
#include "cells.h"

#include <stdlib.h>
#include <string.h>

#include "output.h"
#include "scan.h"
#include "utf8.h"

// --- Bytes to text ---------------------------------------------------------

// A log is bytes and a cell holds text. Valid UTF-8 is kept. Any other byte
// is taken as Windows-1252, the legacy code page of German Windows: bytes
// from 0xA0 are the Latin-1 characters of their value, and 0x80 to 0x9F are
// these, the five that code page leaves out keeping their own code point,
// as Windows itself maps them.
static const uint16_t cp1252[32] = {0x20ac, 0x0081, 0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021,
                                    0x02c6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008d, 0x017d, 0x008f,
                                    0x0090, 0x2018, 0x2019, 0x201c, 0x201d, 0x2022, 0x2013, 0x2014,
                                    0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0x009d, 0x017e, 0x0178};

uint32_t latin(unsigned char c) {
  return c < 0xa0 ? cp1252[c - 0x80] : c;
}

char* encode(char* out, uint32_t c) {
  if (c < 0x80) {
    *out++ = (char)c;
  } else if (c < 0x800) {
    *out++ = (char)(0xc0 | c >> 6);
    *out++ = (char)(0x80 | (c & 0x3f));
  } else {
    *out++ = (char)(0xe0 | c >> 12);
    *out++ = (char)(0x80 | (c >> 6 & 0x3f));
    *out++ = (char)(0x80 | (c & 0x3f));
  }
  return out;
}

char* unicode(char* out, const unsigned char* p, const unsigned char* end) {
  while (p < end) {
    // Runs of ASCII are copied as they are; this is most of a log.
    const unsigned char* run = p;
    while (p < end && *p < 0x80)
      p++;
    memcpy(out, run, (size_t)(p - run));
    out += p - run;
    if (p == end)
      break;
    size_t k = sequence(p, (size_t)(end - p));
    if (k > 0) {
      memcpy(out, p, k);
      out += k;
      p += k;
    } else {
      out = encode(out, latin(*p++));
    }
  }
  return out;
}

// --- Rows ------------------------------------------------------------------

bool newrows(rowset* t) {
  t->copy = (char*)malloc(MOST);
  t->rows = (row*)malloc((MOST / SHORTEST + 1) * sizeof(row));
  t->ends = (ending*)malloc(SLICE * sizeof(ending));
  t->count = 0;
  if (t->copy && t->rows && t->ends)
    return true;
  freerows(t);
  return false;
}

void freerows(rowset* t) {
  free(t->copy);
  free(t->rows);
  free(t->ends);
  t->copy = nullptr;
  t->rows = nullptr;
  t->ends = nullptr;
}

void tabulate(rowset* t, char* start, char* end, bool (*keep)(const row& r), int64_t* lines,
              int64_t* faulty) {
  memcpy(t->copy, start, (size_t)(end - start));
  t->count = 0;
  counts c = {0, 0, 0};
  char* line = start;
  int64_t place = *lines;
  for (char* p = start; p < end;) {
    char* stop = (size_t)(end - p) > SLICE ? p + SLICE : end;
    int told = scan(p, stop, &c, t->ends);
    for (int i = 0; i < told; i++) {
      char* next = t->ends[i].next;
      size_t length = (size_t)(next - line);
      bool cr = length > 1 && next[-2] == '\r';
      row r = {t->copy + (line - start), line, length - 1 - cr, place++};
      if (t->ends[i].shaped && length - (CRLF && cr) <= LONGEST && (keep == nullptr || keep(r)))
        t->rows[t->count++] = r;
      else
        ++*faulty;
      line = next;
    }
    p = stop;
  }
  *lines = place;
}

// --- Fields ----------------------------------------------------------------

// The nine fields of an accepted line, split at its separators: the spaces
// outside quotes and brackets. starts[i] and ends[i] bound field i. The
// scan's semicolons in place of spaces tell them: a semicolon there where
// the log has a space. memchr() finds them at the speed of the library,
// where a byte-at-a-time look took a third of the workbook's time.
static void split(const row& r, const unsigned char** starts, const unsigned char** ends) {
  const unsigned char* p = (const unsigned char*)r.at;
  const unsigned char* scanned = (const unsigned char*)r.scanned;
  const unsigned char* end = scanned + r.length;
  int k = 0;
  starts[0] = p;
  for (const unsigned char* s = scanned; k < 8; s++) {
    s = (const unsigned char*)memchr(s, ';', (size_t)(end - s));
    if (s == nullptr)
      break;
    if (p[s - scanned] == ' ') {
      ends[k++] = p + (s - scanned);
      starts[k] = p + (s - scanned) + 1;
    }
  }
  ends[k] = p + r.length;
  for (k++; k < FIELDS; k++)  // not for a line the scan accepted
    starts[k] = ends[k] = p + r.length;
}

// A field stored without the double quotes that begin and end it.
static void unquote(const unsigned char** start, const unsigned char** end) {
  if (*end - *start >= 2 && **start == '"' && (*end)[-1] == '"') {
    (*start)++;
    (*end)--;
  }
}

// Whether a field is a number as a cell takes one: a plain decimal integer
// of at most 15 digits (all that a spreadsheet keeps exact), without a
// leading zero (0 itself is one).
bool number(const unsigned char* p, const unsigned char* end) {
  size_t n = (size_t)(end - p);
  if (n == 0 || n > 15 || (p[0] == '0' && n > 1))
    return false;
  for (; p < end; p++)
    if (*p < '0' || *p > '9')
      return false;
  return true;
}

void fields(const row& r, const unsigned char** starts, const unsigned char** ends) {
  split(r, starts, ends);
  for (int i = 0; i < FIELDS; i++)
    unquote(&starts[i], &ends[i]);
}

// --- The time ---------------------------------------------------------------

// Days from 1970-01-01 to the date (proleptic Gregorian), by counting in
// eras of 400 years from March, so that the leap day ends a year: each era
// has 146097 days, and a year's day from March 1 is (153 * m + 2) / 5 + d - 1
// for m counted from March as 0. 2026-12-07: the year from March is 2026,
// era 5, year 26 of it, day 281 (December is month 9 from March:
// (153 * 9 + 2) / 5 = 275, plus 6), so 5 * 146097 + 26 * 365 + 6 + 281 -
// 719468 = 20794.
static int64_t civil(int y, int m, int d) {
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

static bool leap(int y) {
  return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
}

static int digits(const unsigned char* p, int n) {
  int v = 0;
  for (int i = 0; i < n; i++) {
    if (p[i] < '0' || p[i] > '9')
      return -1;
    v = v * 10 + (p[i] - '0');
  }
  return v;
}

static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";

bool stamp(const unsigned char* p, size_t n, int64_t* days, int* seconds) {
  static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (n != 28 || p[0] != '[' || p[3] != '/' || p[7] != '/' || p[12] != ':' || p[15] != ':' ||
      p[18] != ':' || p[21] != ' ' || (p[22] != '+' && p[22] != '-') || p[27] != ']')
    return false;
  size_t month = 0;
  while (month < 12 && memcmp(months + 3 * month, p + 4, 3) != 0)
    month++;
  int day = digits(p + 1, 2), year = digits(p + 8, 4), hour = digits(p + 13, 2);
  int minute = digits(p + 16, 2), second = digits(p + 19, 2);
  int zh = digits(p + 23, 2), zm = digits(p + 25, 2);
  if (month == 12 || day < 1 || year < 0 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59 || zh < 0 || zh > 23 || zm < 0 || zm > 59)
    return false;
  if (day > lengths[month] + (month == 1 && leap(year)))
    return false;
  if (year < 1900 || (year == 1900 && month < 2))  // before 1900-03-01
    return false;
  *days = civil(year, (int)month + 1, day) - civil(1899, 12, 30);
  *seconds = hour * 3600 + minute * 60 + second;
  return true;
}

char* iso(char* out, const unsigned char* p) {
  size_t month = 1;
  while (memcmp(months + 3 * (month - 1), p + 4, 3) != 0)
    month++;
  memcpy(out, p + 8, 4);  // the year
  out[4] = '-';
  out[5] = (char)('0' + month / 10);
  out[6] = (char)('0' + month % 10);
  out[7] = '-';
  memcpy(out + 8, p + 1, 2);  // the day
  out[10] = ' ';
  memcpy(out + 11, p + 13, 8);  // the time of day
  memcpy(out + 19, p + 22, 3);  // the offset's sign and hours
  out[22] = ':';
  memcpy(out + 23, p + 25, 2);
  return out + 25;
}
