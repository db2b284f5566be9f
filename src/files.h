// The run's side of the platform: how the names arrive, how the surroundings
// are made safe before the first message, and how the two files are opened.
// files-posix.cpp and files-win32.cpp implement it; CMake picks one.
#ifndef ZETTRIK_FILES_H
#define ZETTRIK_FILES_H

#include <stdio.h>

#include <string>

// A name as the system opens it: bytes on POSIX; UTF-16 on Windows, where
// the program starts in wmain(), so that no name passes through the ANSI
// code page and comes out as a look-alike of another file's name.
#ifdef _WIN32
typedef wchar_t pathchar;
#else
typedef char pathchar;
#endif

// What openwrite() found.
enum { OPENED, UNWRITABLE, ISLOG, ISSTDOUT };

// Makes the surroundings safe; called before anything is printed.
void prepare();

// Whether the command line, as the user typed it, names two files and the
// second is no pattern. Where the start-up code expands patterns, a pattern
// that happens to match two files must not make one of them the target.
bool typed();

// The name in UTF-8, as messages show it.
std::string utf8(const pathchar* name);

// Whether both names lead to one existing file, judged by name before
// anything is opened.
bool same(const pathchar* a, const pathchar* b);

// Opens the log for reading; nullptr when it cannot be read as a log.
FILE* openread(const pathchar* path);

// Opens the CSV file for writing, creating it if it is missing, and empties
// it, unless it is the log (log may be nullptr) or the file that standard
// output writes to. Returns OPENED with *target set, or why not.
int openwrite(const pathchar* path, FILE* log, FILE** target);

#endif
