// The files on POSIX systems. Which file a name means is decided on the open
// descriptors, never on the names alone: between a look at a name and an
// open of it, the name can come to mean another file.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files.h"

void prepare() {
  // A closed descriptor 0, 1 or 2 would be handed out by the next open(), to
  // the log or the CSV file, and the messages and frames would then be
  // written into the CSV file. The null device takes each place first. (If
  // the null device is missing, the place stays open, and openwrite()
  // refuses a target that lands there.)
  for (int fd = 0; fd < 3; fd++)
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF)
      open("/dev/null", O_RDWR);
  // A reader of standard output that goes away, or a limit on the size of a
  // file, would kill the process in the middle of the run, the CSV file cut
  // short and no word said. Ignored, they make the write fail instead: on
  // standard output that changes nothing, on the CSV file it is reported.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

bool arguments(int argc, char** argv, std::vector<std::string>* names) {
  names->assign(argv, argv + argc);  // the shell has expanded the patterns
  return true;
}

std::string utf8(const char* name) {
  return name;
}

static bool identical(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Only a fast path: a FIFO named twice would otherwise wait for a writer
// before it is found to be its own target. The open files decide.
bool same(const char* a, const char* b) {
  struct stat sa, sb;
  return stat(a, &sa) == 0 && stat(b, &sb) == 0 && identical(sa, sb);
}

bool exists(const char* path) {
  struct stat st;
  return lstat(path, &st) == 0;
}

bool named(const char* path, const char* suffix) {
  size_t n = strlen(suffix), length = strlen(path);
  if (length < n)
    return false;
  for (size_t i = 0; i < n; i++) {
    char c = path[length - n + i];
    if ((c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c) != suffix[i])
      return false;
  }
  return true;
}

// Why an open of the name failed, from errno: a socket does not open, and
// the system says of it what it says of a device that is not there.
static cause whyfailed(const char* path) {
  int err = errno;
  struct stat st;
  return err == ENXIO && stat(path, &st) == 0 && S_ISSOCK(st.st_mode) ? because(UNIXSOCKET)
                                                                      : fromerrno(err);
}

// A folder opens on some systems but cannot be read as a log, so it counts
// as a log that cannot be opened.
FILE* openread(const char* path, cause* why) {
  FILE* f = fopen(path, "rb");
  struct stat st;
  if (f == nullptr)
    note(why, whyfailed(path));
  if (f && fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
    fclose(f);
    f = nullptr;
    note(why, because(SYSTEM, EISDIR));
  }
  return f;
}

bool putout(FILE* f, const char* p, size_t n, cause* why) {
  while (n > 0) {
    ssize_t wrote = write(fileno(f), p, n);
    if (wrote < 0 && errno == EINTR)
      continue;
    if (wrote <= 0) {
      note(why, wrote < 0 ? fromerrno(errno) : because(UNKNOWN));
      return false;
    }
    p += wrote;
    n -= (size_t)wrote;
  }
  return true;
}

// Whether the file is the null device, by its device number.
static bool null(const struct stat& st) {
  struct stat dn;
  return S_ISCHR(st.st_mode) && stat("/dev/null", &dn) == 0 && st.st_rdev == dn.st_rdev;
}

// Whether the file is where standard output goes, whatever it is: the file
// it was redirected to, the pipe or the socket it writes to, or its
// terminal, also when opened by another name (/dev/stdout, /dev/pts/N).
// Only the null device may be both: it keeps nothing that could be mixed.
static bool output(const struct stat& st) {
  struct stat out;
  return fstat(STDOUT_FILENO, &out) == 0 && !null(st) &&
         (identical(st, out) ||
          (S_ISCHR(st.st_mode) && S_ISCHR(out.st_mode) && st.st_rdev == out.st_rdev));
}

// Locks the CSV file for this run: two runs writing one file at once would
// mix their lines and both report success. False when another run holds
// it. The lock is advisory and ends when the file is closed; a file system
// without locks is written without one.
static bool lock(int fd) {
  return flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

// Opened for writing only: a FIFO then waits for its reader, as for any
// writer, where an open for update would go on at once and lose what it
// wrote. The file is opened without emptying it, compared as an open file
// with the log and with standard output, locked, and emptied only then:
// whatever the name (a link, /dev/fd/N, /proc/self/fd/N) and however it
// changes meanwhile, what is emptied is the file that was compared. A log
// that could not be opened is compared as the file its name leads to.
//
// Only a regular file is locked and emptied, and only one with bytes in it:
// a FIFO or a device has nothing to empty, and a file just made is empty.
// ext4 takes a truncation to zero as a file being replaced and writes all
// of it back at close: a 500 MB conversion into a new file took 0.22-0.24 s
// with it, 0.16-0.17 s without.
//
// A target that must be a regular file (keep) is refused before it is
// opened where its name already shows another kind, so that a FIFO is not
// opened for writing at all; it is opened without waiting, for reading
// too, and refused where the open file is no regular one. It is locked but
// not emptied: its output looks at what it holds first, under a lock of
// its own.
int openwrite(const char* path, const char* logname, FILE* log, bool keep, FILE** target,
              cause* why) {
  struct stat st, lg;
  int verdict = UNWRITABLE;
  *target = nullptr;
  bool known = log ? fstat(fileno(log), &lg) == 0 : stat(logname, &lg) == 0;
  if (keep && stat(path, &st) == 0 && !S_ISREG(st.st_mode) && !(known && identical(st, lg)) &&
      !output(st)) {
    note(why, S_ISDIR(st.st_mode)    ? because(SYSTEM, EISDIR)
              : S_ISSOCK(st.st_mode) ? because(UNIXSOCKET)
                                     : because(NOTFILE));
    return UNWRITABLE;
  }
  int fd = keep ? open(path, O_RDWR | O_CREAT | O_NONBLOCK | O_NOCTTY, 0666)
                : open(path, O_WRONLY | O_CREAT, 0666);
  if (fd < 0) {
    // A log that may not be written is still told as the log. Nothing is
    // emptied here, so a look by name is safe.
    note(why, whyfailed(path));
    return known && stat(path, &st) == 0 && identical(st, lg) ? ISLOG : UNWRITABLE;
  }
  if (fd <= 2 || fstat(fd, &st) != 0) {
    note(why, fromerrno(fd <= 2 ? EBADF : errno));  // fd <= 2: see prepare()
  } else if (known && identical(st, lg)) {
    verdict = ISLOG;
  } else if (output(st)) {
    verdict = ISSTDOUT;
  } else if (keep && !S_ISREG(st.st_mode)) {
    note(why, because(NOTFILE));
  } else if (S_ISREG(st.st_mode) && !lock(fd)) {
    note(why, because(LOCKED));
  } else if (!keep && S_ISREG(st.st_mode) && st.st_size != 0 && ftruncate(fd, 0) != 0) {
    note(why, fromerrno(errno));
  } else {
    verdict = OPENED;
  }
  if (verdict == OPENED && keep)
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (verdict == OPENED && (*target = fdopen(fd, keep ? "r+b" : "wb")) == nullptr) {
    note(why, fromerrno(errno));
    verdict = UNWRITABLE;
  }
  if (*target == nullptr)
    close(fd);
  return verdict;
}
