// The cursor on the Windows console, through the console API. The handle of
// standard output is fetched anew on every call, and no result is trusted
// beyond the call: when standard output is no console, every call fails and
// nothing moves.
#define WIN32_LEAN_AND_MEAN
#include <stdio.h>
#include <windows.h>

#include <string.h>

#include "console.h"

// Whether standard output is a console, on which the cursor can be moved.
bool terminal() {
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

// The row of the cursor, or -1 where standard output is no console; a move
// to row -1 fails in turn.
int wherey() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
    return -1;
  return info.dwCursorPosition.Y;
}

// Writes a message, in UTF-8. On a console it is handed over in UTF-16, which
// shows every name as it was typed: through the run-time's text mode the
// bytes would be read in the console's code page, or (under Wine) in the
// run-time's own locale, and a name outside them would show as another. The
// line feeds become CR LF, as text mode makes them. Redirected, the UTF-8
// goes through stdio in text mode as it is.
//
// Nothing is allocated: this is also how the run tells that there is no
// memory. The text goes over in pieces of at most PIECE bytes, each ended
// at a line feed or before a character's first byte, so that no character
// is cut; a piece of PIECE bytes of UTF-8 is at most PIECE units of UTF-16.
void show(const char* text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode;
  if (!GetConsoleMode(out, &mode)) {
    fputs(text, stdout);
    return;
  }
  fflush(stdout);  // the frames before it
  constexpr size_t PIECE = 1024;
  wchar_t wide[PIECE];
  DWORD written;
  for (const char* p = text; *p;) {
    const char* lf = strchr(p, '\n');
    size_t n = lf ? (size_t)(lf - p) : strlen(p);
    if (n > PIECE) {
      n = PIECE;
      while (n > 0 && ((unsigned char)p[n] & 0xc0) == 0x80)  // within a character
        n--;
      if (n == 0)  // no character's first byte: not UTF-8, cut anywhere
        n = PIECE;
    }
    int k = n ? MultiByteToWideChar(CP_UTF8, 0, p, (int)n, wide, (int)PIECE) : 0;
    if (k > 0)
      WriteConsoleW(out, wide, (DWORD)k, &written, nullptr);
    p += n;
    if (*p == '\n') {
      WriteConsoleW(out, L"\r\n", 2, &written, nullptr);
      p++;
    }
  }
}
