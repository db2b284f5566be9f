// The console: the spinner, the cursor that holds it in place, and how a
// message reaches the screen. console.cpp holds what every platform shares;
// console-posix.cpp or console-win32.cpp (CMake picks one) the cursor and
// the screen.
#ifndef ZETTRIK_CONSOLE_H
#define ZETTRIK_CONSOLE_H

#include <stdint.h>

// Advances the spinner and returns its next frame.
int rotate();

// Takes one progress step for each of the given lines.
void spin(int64_t lines);

// Whether standard output is a terminal or console, where the cursor moves.
bool terminal();

// The cursor: moves it to column x, row y; tells its row.
void gotoxy(int x, int y);
int wherey();

// Writes a message in UTF-8 to standard output, as the screen shows names.
void show(const char* text);

#endif
