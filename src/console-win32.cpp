// The cursor on the Windows console, through the console API. The handle of
// standard output is fetched anew on every call, and no result is trusted
// beyond the call: when standard output is no console, every call fails and
// nothing moves.
#define WIN32_LEAN_AND_MEAN
#include <stdio.h>
#include <windows.h>

#include <string>

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
void show(const char* text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode;
  if (!GetConsoleMode(out, &mode)) {
    fputs(text, stdout);
    return;
  }
  int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  if (n <= 1)
    return;
  std::wstring wide((size_t)n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, -1, &wide[0], n);
  wide.resize((size_t)n - 1);
  std::wstring lines;
  for (wchar_t ch : wide) {
    if (ch == L'\n')
      lines += L'\r';
    lines += ch;
  }
  fflush(stdout);  // the frames before it
  DWORD written;
  WriteConsoleW(out, lines.data(), (DWORD)lines.size(), &written, nullptr);
}
