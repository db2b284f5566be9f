// The conversion: reads the log to its end, copies every line of the right
// shape to the CSV file with its separating spaces turned into semicolons,
// and counts every other complete line. Which bytes separate and how a line
// counts is the scan's part (scan.cpp).
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
#include <pthread.h>
#include <stdlib.h>
#include <string.h>

#include "zettrik.h"

// Platform difference: the source is read with the plain system call, which
// hands back what has arrived so far, where fread() would wait until its whole
// request is filled: a log growing in a pipe would then show no progress.
#ifdef _WIN32
#include <io.h>
#define sysread(fd, buf, n) _read(fd, buf, (unsigned)(n))
#else
#include <unistd.h>
#define sysread(fd, buf, n) read(fd, buf, n)
#endif

// Platform difference: Windows ends its lines with CR LF. The source is read
// in binary mode, so a 0x1A is a byte like any other and not, as in the text
// mode of the Windows run-time, the end of the file. In its place the scan
// does what text mode would do with line ends: the CR of a CR LF belongs to
// the line end and not to the line, and every accepted line is written ending
// in CR LF, also where the log had a line feed alone. A CR anywhere else is
// an ordinary byte.
#ifdef _WIN32
enum { CRLF = 1 };
#else
enum { CRLF = 0 };
#endif

// Bytes asked for with one read. The buffer holds one block behind the
// carried start of a line, so that a line always stands whole in it.
// The scan is given ROOM bytes at a time, and room to tell as many lines.
// The accepted lines are gathered in buffers of OUT bytes.
enum { BLOCK = 1 << 20, ROOM = 4096, OUT = 1 << 18 };

// The writing side. Copying the CSV into the system's file cache costs about
// as much as the scan, so a thread of its own writes to the target while the
// log is read and scanned: the converting thread fills one of two buffers
// while the writing thread writes the other. Where no thread can be started,
// the converting thread writes each buffer itself.
struct output {
  FILE* target;
  char* buf[2];
  int fill;     // the buffer being filled
  size_t used;  // bytes in it
  int threaded;
  pthread_t writer;
  pthread_mutex_t lock;  // guards the three that follow
  pthread_cond_t changed;
  char* data;   // the buffer handed over and not yet written, or NULL
  size_t size;  // its bytes
  int done;     // nothing more will be handed over
};

static void start(output* o, FILE* target, char* mem);
static void put(output* o, const char* p, size_t n);
static void hand(output* o);
static void finish(output* o);
static void* drain(void* arg);

// Converts the source to its end and returns the number of rejected complete
// lines. Sets *unread when reading failed before the end; what was read up to
// then is converted all the same. Closes neither file.
//
// Each block read is scanned in place: separating spaces become semicolons
// in the buffer itself, and a run of accepted lines is copied out at once,
// so that nothing is copied per line. The start of a line that a
// block cuts is moved to the front of the buffer before the next read; a line
// too long to be carried there is too long to be accepted, and the rest of it
// is passed over up to its line feed.
int64_t convert(FILE* source, FILE* target, int* unread) {
  char* buf = (char*)malloc(LONGEST + BLOCK + 2 * OUT);
  counts c = {0, 0, 0};
  int64_t faulty = 0;
  size_t kept = 0;   // bytes of the current line carried over, already scanned
  int skipping = 0;  // the current line is too long; look only for its end
  int fd = fileno(source);
  ending ends[ROOM];
  output o;

  *unread = 0;
  if (buf == NULL) {
    *unread = 1;
    return 0;
  }
  start(&o, target, buf + LONGEST + BLOCK);
  for (;;) {
    long n = (long)sysread(fd, buf + kept, BLOCK);
    if (n <= 0) {
      if (n < 0)
        *unread = 1;
      break;
    }
    char* end = buf + kept + n;
    char* line = buf;  // start of the current line
    char* run = buf;   // start of the accepted lines not yet written
    char* p = buf + kept;
    int64_t lines = 0;

    if (skipping) {
      char* lf = (char*)memchr(p, '\n', end - p);
      p = lf ? lf + 1 : end;
      if (lf) {
        lines++;
        faulty++;
        skipping = 0;
      }
      line = run = p;
    }
    while (p < end) {
      char* stop = end - p > ROOM ? p + ROOM : end;
      int told = scan(p, stop, &c, ends);
      for (int i = 0; i < told; i++) {
        char* next = ends[i].next;
        size_t length = next - line;
        int bare = CRLF && !(length > 1 && next[-2] == '\r');  // a line feed to be written as CR LF
        lines++;
        if (!ends[i].shaped || length - (CRLF && !bare) > LONGEST) {
          put(&o, run, line - run);
          run = next;
          faulty++;
        } else if (bare) {
          put(&o, run, next - 1 - run);
          put(&o, "\r\n", 2);
          run = next;
        }
        line = next;
      }
      p = stop;
    }
    put(&o, run, line - run);
    kept = end - line;
    if (skipping || kept > LONGEST) {
      skipping = 1;
      kept = 0;
      c.quotes = c.brackets = c.separators = 0;
    } else {
      memmove(buf, line, kept);
    }
    spin(lines);
  }
  finish(&o);
  free(buf);
  return faulty;
}

// Starts the writing thread, with the two buffers of OUT bytes at mem.
static void start(output* o, FILE* target, char* mem) {
  o->target = target;
  o->buf[0] = mem;
  o->buf[1] = mem + OUT;
  o->fill = 0;
  o->used = 0;
  o->data = NULL;
  o->size = 0;
  o->done = 0;
  pthread_mutex_init(&o->lock, NULL);
  pthread_cond_init(&o->changed, NULL);
  o->threaded = pthread_create(&o->writer, NULL, drain, o) == 0;
}

// Adds n bytes to the CSV file, handing each full buffer over.
static void put(output* o, const char* p, size_t n) {
  while (n > 0) {
    size_t k = OUT - o->used < n ? OUT - o->used : n;
    memcpy(o->buf[o->fill] + o->used, p, k);
    o->used += k;
    p += k;
    n -= k;
    if (o->used == OUT)
      hand(o);
  }
}

// Hands the buffer being filled over to be written, and goes on with the
// other one once the writing thread is done with it.
static void hand(output* o) {
  if (o->used == 0)
    return;
  if (!o->threaded) {
    fwrite(o->buf[o->fill], 1, o->used, o->target);
  } else {
    pthread_mutex_lock(&o->lock);
    while (o->data != NULL)
      pthread_cond_wait(&o->changed, &o->lock);
    o->data = o->buf[o->fill];
    o->size = o->used;
    pthread_cond_signal(&o->changed);
    pthread_mutex_unlock(&o->lock);
    o->fill ^= 1;
  }
  o->used = 0;
}

// Writes what is left and waits until the writing thread has written it all.
static void finish(output* o) {
  hand(o);
  if (o->threaded) {
    pthread_mutex_lock(&o->lock);
    while (o->data != NULL)
      pthread_cond_wait(&o->changed, &o->lock);
    o->done = 1;
    pthread_cond_signal(&o->changed);
    pthread_mutex_unlock(&o->lock);
    pthread_join(o->writer, NULL);
  }
  pthread_cond_destroy(&o->changed);
  pthread_mutex_destroy(&o->lock);
}

// The writing thread: writes each buffer handed over, in order. A failed
// write shows in the target's error flag, which the caller reads once the
// thread has ended.
static void* drain(void* arg) {
  output* o = (output*)arg;
  pthread_mutex_lock(&o->lock);
  for (;;) {
    while (o->data == NULL && !o->done)
      pthread_cond_wait(&o->changed, &o->lock);
    if (o->data == NULL)
      break;
    pthread_mutex_unlock(&o->lock);
    fwrite(o->data, 1, o->size, o->target);
    pthread_mutex_lock(&o->lock);
    o->data = NULL;
    pthread_cond_signal(&o->changed);
  }
  pthread_mutex_unlock(&o->lock);
  return NULL;
}

