// The CSV file: every accepted line as the scan leaves it, its separating
// spaces turned into semicolons, and nothing else. The block is scanned in
// place in the worker's buffer, and its runs of accepted lines are written
// from there, so that nothing is copied per line.
//
// A line is of the right shape when it has exactly 8 separators, 6 double
// quotes and 2 brackets outside quotes, as a line of the combined log format
// has:
//
//   1.2.3.4 - - [07/Dec/2026:10:00:00 +0100] "GET / HTTP/1.0" 200 5 "-" "A/1"
//   1.2.3.4;-;-;[07/Dec/2026:10:00:00 +0100];"GET / HTTP/1.0";200;5;"-";"A/1"
//
// Quoting and bracketing go by parity alone: a byte stands inside quotes when
// the quotes before it in its line are odd, inside brackets when the brackets
// counted before it are odd. There is no nesting and no escape character.
// Brackets are counted only outside quotes; quotes are counted everywhere.
//
// This and the scan are the converter's hot loop: changes to make() are
// measured with bench/bench.py.
#include <errno.h>
#include <stdlib.h>

#include "files.h"
#include "output.h"
#include "scan.h"

#ifdef _WIN32
// The runs to be written are kept as POSIX keeps them for writev(), which
// Windows does not have (see write()).
struct iovec {
  void* iov_base;
  size_t iov_len;
};
#else
#include <limits.h>
#include <sys/uio.h>
#include <unistd.h>
#endif

// The most runs a block can give, so that a block is gathered whole before
// its turn to write comes, and never waits for it in the middle. A block
// has at most MOST bytes, and an accepted line at least SHORTEST. A run
// is gathered where a rejected line follows accepted ones, and, on
// Windows, for each accepted line that ends in a line feed alone: the
// line, and then CR LF as a run of its own. So each accepted line gives at most two runs. The table
// is allocated whole and touched only as far as it is used: on Linux, about a run for each rejected
// line.
constexpr size_t RUNS = 2 * (MOST / SHORTEST + 1);

// writev() takes at most IOV_MAX runs at once (1024 on Linux).
#if defined(IOV_MAX)
constexpr int WRITEV = IOV_MAX;
#else
constexpr int WRITEV = 1024;
#endif

// Windows gathers the runs in a buffer of its own (see writecsv()).
constexpr size_t CSVBUF = 1 << 20;

struct csvfile {
  FILE* file;
  char* buf;    // CSVBUF bytes on Windows, or nullptr: each run is written as it is
  size_t held;  // the bytes in buf not yet written
  cause why;    // the first failure of writing
};

struct csvpart {
  ending* ends;  // the line ends that one call of the scan tells
  iovec* runs;   // the runs of accepted lines of the block
  size_t count;  // the runs gathered
};

static void* opencsv(FILE* file, const char*, cause* why) {
  csvfile* f = (csvfile*)malloc(sizeof(csvfile));
  if (f == nullptr) {
    note(why, because(NOMEMORY));
    fclose(file);
    return nullptr;
  }
  f->file = file;
  f->why = because(NONE);
  f->held = 0;
  f->buf = CRLF ? (char*)malloc(CSVBUF) : nullptr;  // without it, slower
  return f;
}

static void* newcsvpart() {
  csvpart* p = (csvpart*)malloc(sizeof(csvpart));
  if (p == nullptr)
    return nullptr;
  p->ends = (ending*)malloc(SLICE * sizeof(ending));
  p->runs = (iovec*)malloc(RUNS * sizeof(iovec));
  p->count = 0;
  if (p->ends == nullptr || p->runs == nullptr) {
    free(p->ends);
    free(p->runs);
    free(p);
    return nullptr;
  }
  return p;
}

static void freecsvpart(void* part) {
  csvpart* p = (csvpart*)part;
  free(p->ends);
  free(p->runs);
  free(p);
}

// Gathers the n bytes at p; they stay where they are until they are written.
static void gather(csvpart* c, const char* p, size_t n) {
  if (n > 0)
    c->runs[c->count++] = iovec{(void*)p, n};
}

static void makecsv(void*, void* part, block* b) {
  csvpart* c = (csvpart*)part;
  ending* ends = c->ends;
  c->count = 0;
  counts k = {0, 0, 0};   // a block begins with a line
  char* line = b->start;  // start of the current line
  char* run = b->start;   // start of the accepted lines not yet gathered
  for (char* p = b->start; p < b->end;) {
    char* stop = (size_t)(b->end - p) > SLICE ? p + SLICE : b->end;
    int told = scan(p, stop, &k, ends);
    for (int i = 0; i < told; i++) {
      char* next = ends[i].next;
      size_t length = (size_t)(next - line);
      // A line feed alone, to be written as CR LF.
      bool bare = CRLF && !(length > 1 && next[-2] == '\r');
      b->lines++;
      if (!ends[i].shaped || length - (CRLF && !bare) > LONGEST) {
        gather(c, run, (size_t)(line - run));
        run = next;
        b->faulty++;
      } else if (bare) {
        gather(c, run, (size_t)(next - 1 - run));
        gather(c, "\r\n", 2);
        run = next;
      }
      line = next;
    }
    p = stop;
  }
  gather(c, run, (size_t)(line - run));
}

// Writes the block's runs; only the worker that holds the turn calls it.
// After a failure nothing more is written: the first failure is the one
// told, and the file is not whole whatever follows. False from then on.
//
// Platform difference: POSIX writes the runs with writev(), IOV_MAX of them
// at a time, and goes on after a write that took only some. Windows has no
// writev(); there the runs, lines a few kilobytes long, are gathered in a
// buffer that goes out in few large writes. (Not stdio's: its failures
// lose the system's error, see putout() in files.h.)
static bool writecsv(void* state, void* part) {
  csvfile* f = (csvfile*)state;
  csvpart* c = (csvpart*)part;
  iovec* runs = c->runs;
  size_t left = c->count;
  while (left > 0 && !failed(f->why)) {
#ifdef _WIN32
    bufferout(f->file, f->buf, CSVBUF, &f->held, (const char*)runs->iov_base, runs->iov_len,
              &f->why);
    runs++;
    left--;
#else
    int n = left < (size_t)WRITEV ? (int)left : WRITEV;
    ssize_t wrote = writev(fileno(f->file), runs, n);
    if (wrote < 0 && errno == EINTR)
      continue;
    if (wrote <= 0) {
      note(&f->why, wrote < 0 ? fromerrno(errno) : because(UNKNOWN));
      break;
    }
    // Past the runs written whole, and into the one written in part.
    size_t done = (size_t)wrote;
    while (left > 0 && done >= runs->iov_len) {
      done -= runs->iov_len;
      runs++;
      left--;
    }
    if (done > 0) {
      runs->iov_base = (char*)runs->iov_base + done;
      runs->iov_len -= done;
    }
#endif
  }
  c->count = 0;
  return !failed(f->why);
}

static bool endcsv(void* state, cause* why) {
  csvfile* f = (csvfile*)state;
  // A full disk may show only here, in the write of the last buffer.
  flushout(f->file, f->buf, &f->held, &f->why);
  if (fclose(f->file) != 0)
    note(&f->why, fromerrno(errno));
  free(f->buf);
  bool whole = !failed(f->why);
  note(why, f->why);
  free(f);
  return whole;
}

static const char* const none[] = {nullptr};

const sink tocsv = {"csv",   none,     opencsv, newcsvpart, freecsvpart,
                    makecsv, writecsv, endcsv,  false};
