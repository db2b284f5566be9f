// The cursor on the Windows console, through the console API. The handle of
// standard output is fetched anew on every call, and no result is trusted
// beyond the call: when standard output is no console, every call fails and
// nothing moves.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "zettrik.h"

// Whether standard output is a console, on which the cursor can be moved.
int terminal() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

// Moves the cursor to column x and row y; the low 16 bits of each count.
// What was printed before must reach the console first, or it would land at
// the new place; so the standard output buffer is flushed.
void gotoxy(int x, int y) {
  COORD at;
  at.X = (SHORT)x;
  at.Y = (SHORT)y;
  fflush(stdout);
  SetConsoleCursorPosition(GetStdHandle(STD_OUTPUT_HANDLE), at);
}

// The column and the row of the cursor, or -1 where standard output is no
// console; a move to row -1 fails in turn.
int wherex() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
    return -1;
  return info.dwCursorPosition.X;
}

int wherey() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
    return -1;
  return info.dwCursorPosition.Y;
}
