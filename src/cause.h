// Why a read or a write failed. A failure is noticed deep down (a system
// call, a decoder, an allocation) and told at the top, in the run's FEHLER
// message: the cause travels with the failure, from where it is noticed to
// where it is told, and is told in a line of its own after the message.
#ifndef ZETTRIK_CAUSE_H
#define ZETTRIK_CAUSE_H

#include <stddef.h>
#include <stdint.h>

// The kinds of cause. The damage kinds name the format and the bytes of
// the log taken when it was found.
enum {
  NONE,         // no failure: what a cause starts as
  UNKNOWN,      // nothing was noticed but the failure itself
  SYSTEM,       // a system call failed with the error number err
  NOMEMORY,     // an allocation failed
  LOCKED,       // another run writes the target
  INUSE,        // another program holds the target open (Windows)
  HELD,         // another program holds the log open (Windows)
  UNIXSOCKET,   // the name is a socket, no file
  TRUNCATED,    // the log became shorter while it was read
  NOTREAD,      // a compressed format that this program does not read
  NOTBUILT,     // a compressed format that this program was built without
  TWICE,        // the decoded log is compressed once more
  CUTMAGIC,     // the log ends inside the bytes that begin a compressed file
  CORRUPT,      // corrupt compressed data
  CHECKSUM,     // a checksum does not match
  CUTSHORT,     // the compressed data end in the middle of a frame
  TRAILING,     // bytes after the last frame that are no frame
  WINDOW,       // a zstd frame asks for a window over the limit
  DICTIONARY,   // an LZMA stream asks for a dictionary over the limit
  NOTFILE,      // a database target that is no file (a pipe, a FIFO, a device)
  DATABASE,     // SQLite failed, in the words of format
  NODATABASE,   // a database target, and a program built without SQLite
  FOREIGN,      // a database target that holds another program's data
  ELSEWHERE,    // the database's library opened another file than the one checked
  INTERRUPTED,  // the run was asked to end, by what err says (below)
};

// What asked an interrupted run to end.
enum {
  BYCTRLC = 1,  // Ctrl+C (SIGINT)
  BYTERM,       // SIGTERM
  BYHUP,        // SIGHUP: the terminal closed
  BYBREAK,      // Ctrl+Break (Windows)
  BYCLOSE,      // the console window closed (Windows)
  BYLOGOFF,     // logging off or shutting down (Windows)
};

struct cause {
  int kind;
  int err;             // SYSTEM: errno, or a Windows error code where win is set;
                       // INTERRUPTED: what asked (BYCTRLC ...)
  bool win;            // err is a Windows system error code, not errno
  const char* format;  // the format's name, for NOTREAD, TWICE and damage; SQLite's words
  int64_t at;          // the bytes of the log taken when it was noticed
};

// A cause of the given kind; of the error number for SYSTEM.
cause because(int kind, int err = 0);

// The causes of the errors of the system and of the libraries: every
// mapping from a code to a cause is here, so that a new target or decoder
// takes the words there are. errno; a Windows error code (GetLastError()),
// said of the log (log) or of the target, which differ where another
// program holds the file; SQLite's result code, with the system's error
// where SQLite names one (0 where not, and win where it is a Windows
// code), and SQLite's words.
cause fromerrno(int err);
cause fromwindows(unsigned long err, bool log = false);
cause fromsqlite(int rc, int err, bool win, const char* words);

// What a decoder's library said, as the kind of cause it is: NOMEMORY,
// CHECKSUM, WINDOW, DICTIONARY, TRAILING for bytes that are no frame of
// the format, or 0 for damage without a finer cause. Each is there where
// the library's header is (the codes are the header's).
int fromzlib(int r);
int fromzstd(int code);  // ZSTD_getErrorCode()
int fromlzma(int r);
int frombzip2(int r);

// Records c in *into unless a cause is there already: the first failure is
// the one told, and what follows from it is not. A failure whose cause was
// not noticed (UNKNOWN) gives way to the first whose cause was.
void note(cause* into, const cause& c);

// Whether a failure has been noted. A failure always travels this way: in
// the cause of the side that failed (the input's, the output's), from where
// it is noticed to the run, which tells it.
inline bool failed(const cause& c) {
  return c.kind != NONE;
}

// The line told after a FEHLER message: a tab, "Grund: ", the cause in
// German (ASCII, as every message), a line feed; into out, which has room
// for n bytes (REASON is enough). Only the FEHLER lines are kept word for
// word; this line may change between versions.
constexpr size_t REASON = 256;
void reason(const cause& c, char* out, size_t n);

#endif
