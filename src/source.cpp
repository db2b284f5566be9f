// The log as it is, read from its descriptor with the plain system call,
// which hands back what has arrived so far, where fread() would wait until
// its whole request is filled; and the choice between it and a decoder, by
// the bytes a log begins with (input.h).
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "ahead.h"
#include "framing.h"
#include "input.h"

// Platform difference: the same calls under other names.
#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
static long sysread(int fd, void* buf, size_t n) {
  return _read(fd, buf, (unsigned)n);
}
static bool shorter(int fd, int64_t taken) {
  struct _stati64 st;
  return _fstati64(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG && st.st_size < taken;
}
#else
#include <sys/stat.h>
#include <unistd.h>
static long sysread(int fd, void* buf, size_t n) {
  return (long)read(fd, buf, n);
}
static bool shorter(int fd, int64_t taken) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size < taken;
}
#endif

// A log emptied while it is read ends early, as if it were whole: the end
// of a regular file is looked at once, and a file shorter than what was
// read of it is a read error. (A file that has grown again past that point
// by then is not noticed.)
long take(input* in, void* buf, size_t n) {
  // A signal that has a handler ends a read that waits on a pipe early,
  // with nothing read: that is no failure of the log. (The program sets no
  // such handler; a host that runs it in-process may, as the fuzzers'
  // driver does with its timer.)
  long got;
  do
    got = sysread(in->fd, buf, n);
  while (got < 0 && errno == EINTR);
  if (got > 0)
    in->taken += got;
  if (got < 0)
    note(&in->why, because(SYSTEM, errno));
  if (got == 0 && shorter(in->fd, in->taken)) {
    cause c = because(TRUNCATED);
    c.at = in->taken;
    note(&in->why, c);
    return -1;
  }
  return got;
}

static long readplain(input* in, char* buf, size_t n) {
  if (in->held > 0 && n > 0) {
    size_t k = in->held < n ? in->held : n;
    memcpy(buf, in->head, k);
    memmove(in->head, in->head + k, in->held - k);
    in->held -= k;
    return (long)k;
  }
  return take(in, buf, n);
}

void plain(input* in, int fd) {
  in->read = readplain;
  in->end = nullptr;
  in->fd = fd;
  in->state = nullptr;
  in->held = 0;
  in->taken = 0;
  in->format = nullptr;
  in->why = because(NONE);
}

// A log in a format that is not read here fails at its first read.
static long readnone(input*, char*, size_t) {
  return -1;
}

bool openlog(input* in, int fd) {
  plain(in, fd);
  // A pipe may hand over one byte at a time. A read that fails here fails
  // again when the conversion reads, and is reported then.
  while (in->held < sizeof in->head) {
    long n = take(in, in->head + in->held, sizeof in->head - in->held);
    if (n <= 0)
      break;
    in->held += (size_t)n;
  }
  bool cut;
  const format* f = recognise(in->head, in->held, &cut);
  if (f == nullptr)
    return true;
  in->format = f->name;
  if (cut || f->library == nullptr) {
    // A compressed log that is not read here, or one cut within its magic.
    cause c = because(cut ? CUTMAGIC : NOTREAD);
    c.format = f->name;
    c.at = in->taken;
    note(&in->why, c);
    in->read = readnone;
    return true;
  }
  if (!framed(in, f, f->library)) {
    note(&in->why, because(NOMEMORY));
    return false;
  }
  ahead(in);
  return true;
}

void finish(input* in) {
  if (in->end)
    in->end(in);
  in->end = nullptr;
}
