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

// convert.cpp: the scan.
int64_t convert(FILE* source, FILE* target, int* unread);
int even(int x);
char* bytewise(char* p, char* end, counts* c);

// console.cpp: the spinner.
int rotate();
void spin(int64_t lines);

// console-posix.cpp or console-win32.cpp: the cursor.
int terminal();
void gotoxy(int x, int y);
int wherex();
int wherey();

#endif
