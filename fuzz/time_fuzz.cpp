// Holds the workbook's rule for a time to a reference written otherwise:
// the fields read one by one, and the day counted by walking the years and
// months from 1900, as a calendar on the wall is read. Half the inputs are
// fitted into the form of a time first ([DD/Mon/YYYY:HH:MM:SS +HHMM], its
// digits and its month from the bytes, now and then one byte of the form
// changed), so that most of them are nearly right; the others go as they
// are.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "cells.h"

static const char* const MONTHS[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The number at s[at], n digits, or -1.
static int number(const std::string& s, size_t at, size_t n) {
  int v = 0;
  for (size_t i = at; i < at + n; i++) {
    if (s[i] < '0' || s[i] > '9')
      return -1;
    v = v * 10 + s[i] - '0';
  }
  return v;
}

static bool reference(const std::string& s, int64_t* days, int* seconds) {
  if (s.size() != 28 || s.compare(0, 1, "[") || s.compare(3, 1, "/") || s.compare(7, 1, "/") ||
      s.compare(12, 1, ":") || s.compare(15, 1, ":") || s.compare(18, 1, ":") ||
      s.compare(21, 1, " ") || (s[22] != '+' && s[22] != '-') || s.compare(27, 1, "]"))
    return false;
  int month = -1;
  for (int i = 0; i < 12; i++)
    if (s.compare(4, 3, MONTHS[i]) == 0)
      month = i;
  int day = number(s, 1, 2), year = number(s, 8, 4), h = number(s, 13, 2), m = number(s, 16, 2);
  int sec = number(s, 19, 2), zh = number(s, 23, 2), zm = number(s, 25, 2);
  if (month < 0 || day < 1 || year < 1900 || h < 0 || h > 23 || m < 0 || m > 59 || sec < 0 ||
      sec > 59 || zh < 0 || zh > 23 || zm < 0 || zm > 59)
    return false;
  auto length = [](int y, int mo) {
    static const int in[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return in[mo] + (mo == 1 && leap);
  };
  if (day > length(year, month) || (year == 1900 && month < 2))
    return false;
  int64_t d = 2;  // 1900-01-01, from 1899-12-30
  for (int y = 1900; y < year; y++)
    d += length(y, 1) == 29 ? 366 : 365;
  for (int mo = 0; mo < month; mo++)
    d += length(year, mo);
  *days = d + day - 1;
  *seconds = h * 3600 + m * 60 + sec;
  return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string field((const char*)data, size);
  if (size >= 16 && data[0] & 1) {
    char made[29];
    auto two = [&](int i) { return data[i] % 100; };
    snprintf(made, sizeof made, "[%02d/%s/%02d%02d:%02d:%02d:%02d %c%02d%02d]", two(1) % 32,
             MONTHS[data[2] % 12], 18 + data[3] % 82, two(4), two(5) % 25, two(6) % 61, two(7) % 61,
             data[8] & 1 ? '+' : '-', two(9) % 25, two(10) % 61);
    field = made;
    if (data[11] & 1)  // one byte of the form changed
      field[data[12] % 28] = (char)data[13];
  }
  int64_t days = 0, want = 0;
  int seconds = 0, wanted = 0;
  bool got = stamp((const unsigned char*)field.data(), field.size(), &days, &seconds);
  bool right = reference(field, &want, &wanted);
  if (got != right || (got && (days != want || seconds != wanted))) {
    fprintf(stderr, "%s: %d %lld %d, the reference %d %lld %d\n", field.c_str(), got,
            (long long)days, seconds, right, (long long)want, wanted);
    abort();
  }
  return 0;
}
