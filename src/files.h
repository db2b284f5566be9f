// The run's side of the platform: how the names arrive, how the surroundings
// are made safe before the first message, and how the two files are opened.
// files-posix.cpp and files-win32.cpp implement it; CMake picks one.
#ifndef ZETTRIK_FILES_H
#define ZETTRIK_FILES_H

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "cause.h"

// A name as the system opens it: bytes on POSIX; UTF-16 on Windows, where
// the program starts in wmain(), so that no name passes through the ANSI
// code page and comes out as a look-alike of another file's name.
#ifdef _WIN32
typedef wchar_t pathchar;
#else
typedef char pathchar;
#endif
typedef std::basic_string<pathchar> pathname;

// What openwrite() found.
enum { OPENED, UNWRITABLE, ISLOG, ISSTDOUT };

// Makes the surroundings safe; called before anything is printed.
void prepare();

// The names on the command line, the program's own first. On POSIX they
// are argv, as the shell made them. On Windows, where a program expands
// its own patterns, they come from one split of the command line as typed,
// and a pattern in the log's place (* or ?) is expanded to the one file it
// matches, or left as typed where it matches none. Returns false where the
// names must not be used: a pattern in the log's place that matches several
// files, or a pattern in the target's place, which is never expanded.
bool arguments(int argc, pathchar** argv, std::vector<pathname>* names);

// The name in UTF-8, as messages show it.
std::string utf8(const pathchar* name);

// Whether both names lead to one existing file, judged by name before
// anything is opened.
bool same(const pathchar* a, const pathchar* b);

// Whether a file of that name exists, of any kind.
bool exists(const pathchar* path);

// Whether the name of the file that path opens ends in suffix (lower-case
// ASCII), in any case. On Windows that is the name without the dots and
// spaces at its end, which the system drops when it opens a name.
bool named(const pathchar* path, const char* suffix);

// Opens the log for reading; nullptr, with *why noted, when it cannot be
// read as a log.
FILE* openread(const pathchar* path, cause* why);

// Writes the n bytes at p to the file that f is open on, past stdio's
// buffer (which stays unused), all of them; false, with *why noted, where
// a write failed: with the system's own error, errno on POSIX, the
// Windows error on Windows.
bool putout(FILE* f, const char* p, size_t n, cause* why);

// Writes what the buffer buf holds (*held bytes) with putout(), and empties
// it. Nothing is written after a failure: the file is not whole whatever
// follows, and the first failure is the one told.
inline void flushout(FILE* f, char* buf, size_t* held, cause* why) {
  if (*held > 0 && !failed(*why))
    putout(f, buf, *held, why);
  *held = 0;
}

// Writes the n bytes at p through the buffer buf of room bytes, so that
// small pieces go out in few large writes: gathered while they fit, the
// buffer written first where they do not, a piece larger than the buffer
// written as it is. Without a buffer (nullptr) every piece is written as
// it comes.
inline void bufferout(FILE* f, char* buf, size_t room, size_t* held, const char* p, size_t n,
                      cause* why) {
  if (buf && *held + n > room)
    flushout(f, buf, held, why);
  if (buf && n <= room) {
    memcpy(buf + *held, p, n);
    *held += n;
  } else if (!failed(*why)) {
    putout(f, p, n, why);
  }
}

// Opens the CSV file for writing, creating it if it is missing, locks it
// against a second run and empties it, unless it is the log (log, or where
// the log could not be opened, the file named logname) or the file that
// standard output writes to (the console too), or another run holds it.
// With keep, the target must be a file on a disk (no pipe, FIFO or device:
// a database), is opened for reading and writing, and is not emptied: its
// output does that, once it knows what the file holds. Returns OPENED with
// *target set, or why not; with UNWRITABLE, *why is noted.
int openwrite(const pathchar* path, const pathchar* logname, FILE* log, bool keep, FILE** target,
              cause* why);

#endif
