// The cursor on a terminal. A terminal tells where its cursor stands only in
// an answer that must be read back from its input, which a converter that
// may run in a pipeline must not touch; so here the row is never known, and
// the cursor is moved within its own row only, by bytes written through
// standard output after everything printed before them.
#include <stdio.h>
#include <unistd.h>

#include "console.h"

// Whether standard output is a terminal, on which the cursor can be moved.
bool terminal() {
  return isatty(STDOUT_FILENO) != 0;
}

// Moves the cursor to column x of its current row; y, the row, cannot be
// honoured and is ignored. A carriage return goes to column 0, and the
// cursor-forward sequence from there to column x. These bytes mean something
// on a terminal only, so callers ask terminal() first, as spin() does once
// for each block of frames.
void gotoxy(int x, int y) {
  (void)y;
  putchar('\r');
  if (x > 0)
    printf("\033[%dC", x);
}

// The row of the cursor: -1, as it cannot be asked for here.
int wherey() {
  return -1;
}

// Writes a message; the bytes of names go out as they are.
void show(const char* text) {
  fputs(text, stdout);
}
