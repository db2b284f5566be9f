// The log as it is, read from its descriptor with the plain system call,
// which hands back what has arrived so far, where fread() would wait until
// its whole request is filled.
#include "input.h"

// Platform difference: the same call under another name.
#ifdef _WIN32
#include <io.h>
static long sysread(int fd, char* buf, size_t n) {
  return _read(fd, buf, (unsigned)n);
}
#else
#include <unistd.h>
static long sysread(int fd, char* buf, size_t n) {
  return (long)read(fd, buf, n);
}
#endif

static long readplain(input* in, char* buf, size_t n) {
  return sysread(in->fd, buf, n);
}

void plain(input* in, int fd) {
  in->read = readplain;
  in->fd = fd;
  in->state = nullptr;
}
