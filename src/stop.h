// An interrupted run: Ctrl+C, a signal to end, or the console or terminal
// closed. The first such request ends the run in order, as a read error
// would: no more of the log is read, the blocks already read are written,
// and every target is ended whole (the CSV on a whole line, the workbook
// closed, the database committed). The run then tells the cause and ends
// as the request would have ended it, so that a calling shell sees the
// interruption. A second request ends the process at once.
//
// stop-posix.cpp and stop-win32.cpp implement it; CMake picks one.
#ifndef ZETTRIK_STOP_H
#define ZETTRIK_STOP_H

#include <stddef.h>

#include "cause.h"

// Takes over the requests to end the run. Without it (as in the tests,
// which call the conversion directly) no request is taken, and none is
// ever seen.
void catchstops();

// The cause of the request that came, of the kind INTERRUPTED; NONE while
// none has come. Safe on any thread.
cause stopped();

// Reads up to n bytes from the descriptor as the system's read does, but a
// request to end the run ends a read that waits on a pipe, on whichever
// thread it waits: -1 then, with errno EINTR and stopped() set.
long readlog(int fd, void* buf, size_t n);

// After the orderly end of a run: ends the process as the request would
// have where one came; otherwise lets go of what catchstops() took.
void endstopped();

#endif
