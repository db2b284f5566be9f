// Reading the log's descriptor (descriptor.h).
#include "descriptor.h"

#include <errno.h>

#include "stop.h"

// Platform difference: the same call under another name.
#ifdef _WIN32
#include <sys/stat.h>
static bool shorter(int fd, int64_t taken) {
  struct _stati64 st;
  return _fstati64(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG && st.st_size < taken;
}
#else
#include <sys/stat.h>
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
  // with nothing read: that is no failure of the log (a host that runs the
  // conversion in-process may have one, as the fuzzers' driver does with
  // its timer). A request to end the run does so too, and then it is the
  // cause.
  long got;
  do
    got = readlog(in->fd, buf, n);
  while (got < 0 && errno == EINTR && !failed(stopped()));
  if (got > 0)
    in->taken += got;
  if (got < 0)
    note(&in->why, failed(stopped()) ? stopped() : because(SYSTEM, errno));
  if (got == 0 && shorter(in->fd, in->taken)) {
    cause c = because(TRUNCATED);
    c.at = in->taken;
    note(&in->why, c);
    return -1;
  }
  return got;
}
