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
  TRUNCATED,    // the log became shorter while it was read
  NOTREAD,      // a compressed format that this program does not read
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
