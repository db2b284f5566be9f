// Zettrik: turns an access log in the combined format into a CSV file with
// semicolons. The functions that the units share, and that the tests call.
#ifndef ZETTRIK_H
#define ZETTRIK_H

#include <stdint.h>
#include <stdio.h>

// The longest line that can be converted, its line feed included. A longer
// line is rejected like any line of the wrong shape.
enum { LONGEST = 65535 };

// What the scan has counted of the current line so far. The parities of
// quotes and brackets say whether a byte stands inside quotes or brackets.
struct counts {
  int quotes;      // double quotes, wherever they stand
  int brackets;    // '[' and ']' while quotes is even
  int separators;  // spaces outside quotes and brackets, now semicolons
};

// What the scan tells of a line that it finished.
struct ending {
  char* next;  // the byte after its line feed
  int shaped;  // 1 when its counts are those of a combined log line
};

// convert.cpp: the conversion of a whole log.
int64_t convert(FILE* source, FILE* target, int* unread);

// Returns 1 when x is divisible by two, 0 otherwise. Every parity test of
// the scan goes through it; it is inline, as the scan's hot loop asks it a
// few times for every 64 bytes. It is static, so that the copy compiled for
// AVX2 in scan-avx2.cpp can never stand in for the plain one.
static inline int even(int x) {
  return x % 2 == 0;
}

// scan.cpp: the classification of the bytes of a line, in all its forms.
int scan(char* p, char* end, counts* c, ending* lines);
int bytewise(char* p, char* end, counts* c, ending* lines);
int blockwise(char* p, char* end, counts* c, ending* lines);
int wide();

// scan-avx2.cpp, where ZETTRIK_AVX2 is defined: the block scan with AVX2.
int blockwide(char* p, char* end, counts* c, ending* lines);

// console.cpp: the spinner.
int rotate();
void spin(int64_t lines);

// console-posix.cpp or console-win32.cpp: the cursor.
int terminal();
void gotoxy(int x, int y);
int wherex();
int wherey();
void show(const char* text);

#endif
