// Reading the log's descriptor (descriptor.h).
#include "descriptor.h"

#include <errno.h>

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
