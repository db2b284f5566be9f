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
enum { BLOCK = 1 << 20, ROOM = 4096 };

// Converts the source to its end and returns the number of rejected complete
// lines. Sets *unread when reading failed before the end; what was read up to
// then is converted all the same. Closes neither file.
//
// Each block read is scanned in place: separating spaces become semicolons
// in the buffer itself, and a run of accepted lines is written with one
// fwrite, so that nothing is copied per line. The start of a line that a
// block cuts is moved to the front of the buffer before the next read; a line
// too long to be carried there is too long to be accepted, and the rest of it
// is passed over up to its line feed.
int64_t convert(FILE* source, FILE* target, int* unread) {
  char* buf = (char*)malloc(LONGEST + BLOCK);
  counts c = {0, 0, 0};
  int64_t faulty = 0;
  size_t kept = 0;   // bytes of the current line carried over, already scanned
  int skipping = 0;  // the current line is too long; look only for its end
  int fd = fileno(source);
  ending ends[ROOM];

  *unread = 0;
  if (buf == NULL) {
    *unread = 1;
    return 0;
  }
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
          if (line > run)
            fwrite(run, 1, line - run, target);
          run = next;
          faulty++;
        } else if (bare) {
          fwrite(run, 1, next - 1 - run, target);
          fwrite("\r\n", 1, 2, target);
          run = next;
        }
        line = next;
      }
      p = stop;
    }
    fwrite(run, 1, line - run, target);
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
  free(buf);
  return faulty;
}

