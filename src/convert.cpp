// The conversion: reads the log to its end, copies every line of the right
// shape to the CSV file with its separating spaces turned into semicolons
// (or makes it a row of the workbook, book.h, or of the database, base.h),
// and counts every other
// complete line. Which bytes separate and how a line counts is the scan's
// part (scan.h).
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
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <condition_variable>
#include <mutex>

#include "console.h"
#include "convert.h"
#include "scan.h"
#include "threads.h"

#ifndef _WIN32
#include <sys/uio.h>
#endif

// Platform difference: Windows ends its lines with CR LF. The source is read
// in binary mode, so a 0x1A is a byte like any other and not, as in the text
// mode of the Windows run-time, the end of the file. In its place the scan
// does what text mode would do with line ends: the CR of a CR LF belongs to
// the line end and not to the line, and every accepted line is written ending
// in CR LF, also where the log had a line feed alone. A CR anywhere else is
// an ordinary byte.
#ifdef _WIN32
constexpr bool CRLF = true;
// The runs to be written are kept as POSIX keeps them for writev(), which
// Windows does not have (see emit()).
struct iovec {
  void* iov_base;
  size_t iov_len;
};
#else
constexpr bool CRLF = false;
#endif

// Bytes asked for with one read. A worker's buffer has room before its block
// for the start of a line that the block before cut, so that a line always
// stands whole in it. The scan is given ROOM bytes at a time, and room to
// tell as many lines. A worker gathers up to RUNS runs of accepted lines
// before it writes them.
constexpr int BLOCK = 1 << 20, ROOM = 4096, RUNS = 1024;

// The room before a block, for the longest line that can be carried. It is a
// whole number of pages, and the buffers begin on a page, so that every
// block is read to the start of a page: the system's copy into the buffer
// took about five times as long when it began one byte short of one.
constexpr size_t PAGE = 4096, HEAD = (LONGEST + PAGE - 1) / PAGE * PAGE;

// Two workers, the converting thread and, from the second block on, one
// thread more, take the log a block at a time, each block on its own from
// reading to writing: while one reads or writes, the other scans, so that on
// two cores the scan and the copying between the file cache and the buffers
// overlap. A block stays in the buffer of the worker that read it, and its
// accepted lines are written from there: no bytes pass from one thread to
// the other but the line that a block cuts. Reading goes in turns; writing
// goes in the order of the blocks. Each block is taken as a run of whole
// lines: whoever reads a block takes over the line that the block before
// cut, and leaves the line that its own block cuts to the next. A
// compressed log is decoded on a thread of its own, a block ahead (input.cpp),
// and reading a block copies it from there.
//
// The life of one block, in one worker, while the other lives the next:
//
//   fetch()   holds `reading` for the whole read: takes over the cut line,
//             reads, finds the last line feed, leaves the new cut line
//   scan      ROOM bytes at a time, gathering runs of accepted lines; when
//             RUNS runs are gathered in the middle of the scan, flush()
//             waits for the turn to write (waitturn) and writes them: the
//             one wait in the middle of a scan
//   flush()   waits for the turn, if it does not hold it yet, and writes
//             the rest; spin() draws the block's frames
//   passturn  adds the block's faulty lines and hands the turn to the next
//             block
//
// For a workbook or a database, tabulate() takes the place of the scan and
// flush(): it scans a copy of the block, counts its rows and lines, waits
// only until the block before has counted its own (tally), makes the rows
// (deflated XML, or the values to insert), and then waits for the turn to
// write or insert them. Making the rows is the work there, and the two
// workers do it side by side.
struct shared {
  input* in;
  output* out;
  // Held for the whole read of a block; guards everything down to blocks.
  std::mutex reading;
  bool ended;       // the log has ended, or reading failed
  bool unread;      // reading failed
  const char* cut;  // the start of the line that the last block cut
  size_t kept;      // its bytes
  bool skipping;    // that line is too long; look only for its end
  int64_t blocks;   // blocks read so far
  // Guards the turn and the count; written tells that the turn moved on.
  std::mutex lock;
  std::condition_variable written;
  int64_t turn;    // the block to be written next
  int64_t faulty;  // rejected lines in the blocks written
  int64_t tally;   // for a workbook or a database: the block to count next
  // Touched only by the worker that holds the turn to write.
  bool broken;  // a write failed: write what is left through stdio
};

// A worker: the shared state and its own buffer of HEAD + BLOCK bytes. The
// converting thread's worker also holds the other one until it starts it.
// For a workbook or a database, a worker also has a copy of its block as the
// log has it, its rows there, and its share of the work: the workbook's XML
// or the database's values.
struct worker {
  shared* s;
  char* buf;
  worker* spare;  // the worker to start at the second block, or nullptr
  runner other;   // the thread it started for the spare, if any
  // Its tables, kept off the stack: a stack that grows needs address space
  // that a limit on it may not leave, and it says so only by a fault.
  ending* ends;  // the line ends that one call of the scan tells
  iovec* runs;   // the runs of accepted lines gathered to be written
  char* copy;
  row* rows;     // room for the rows of a whole block
  size_t count;  // the rows there
  sheetpart* part;
  basepart* values;
};

// One block, as a worker has read it.
struct block {
  int64_t number;  // in the order of the log
  char* start;     // its first line
  char* end;       // the byte after its last line feed
  int64_t lines;   // complete lines, for the spinner
  int64_t faulty;  // rejected lines
  bool writing;    // the worker holds the turn to write
  int runs;        // runs of accepted lines gathered and not yet written
};

static void work(worker* w);
static void tabulate(worker* w, block* b);
static int64_t tally(shared* s, const block* b, size_t rows, int64_t* lines);
static bool fetch(shared* s, char* buf, block* b);
static void start(worker* w);
static void put(shared* s, block* b, iovec* runs, const char* p, size_t n);
static void flush(shared* s, block* b, iovec* runs);
static void waitturn(shared* s, int64_t number);
static void passturn(shared* s, const block* b);
static void emit(shared* s, iovec* runs, int n);

int64_t convert(input* in, output* out, bool* unread) {
  char* mem = (char*)malloc(PAGE + 2 * (HEAD + BLOCK));
  char* first;  // the first page in mem
  shared s;
  worker w[2];
  bool book = out->book != nullptr, base = out->base != nullptr;

  *unread = false;
  bool tables = true;
  for (worker& k : w) {
    k.ends = (ending*)malloc(ROOM * sizeof(ending));
    k.runs = (iovec*)malloc(RUNS * sizeof(iovec));
    tables = tables && k.ends && k.runs;
    k.copy = book || base ? (char*)malloc(HEAD + BLOCK) : nullptr;
    k.part = book ? newpart() : nullptr;
    k.values = base ? newbasepart() : nullptr;
    // An accepted line has at least 17 bytes (8 separators, 6 quotes, 2
    // brackets and its line feed): the rows of a block never outgrow this.
    k.rows = book || base ? (row*)malloc(((HEAD + BLOCK) / 17 + 1) * sizeof(row)) : nullptr;
  }
  // Without the memory for its buffers, a log counts as one that cannot be
  // read.
  bool room = mem && tables && (!book || (w[0].part && w[1].part)) &&
              (!base || (w[0].values && w[1].values)) &&
              (!(book || base) || (w[0].copy && w[1].copy && w[0].rows && w[1].rows));
  if (room) {
    first = mem + (PAGE - (uintptr_t)mem % PAGE) % PAGE;
    s.in = in;
    s.out = out;
    s.ended = s.unread = s.skipping = s.broken = false;
    s.cut = first;
    s.kept = 0;
    s.blocks = s.turn = s.faulty = s.tally = 0;
    w[0].s = w[1].s = &s;
    w[0].buf = first;
    w[1].buf = first + HEAD + BLOCK;
    w[0].spare = &w[1];
    w[1].spare = nullptr;

    w[0].other.started = false;
    work(&w[0]);
    await(&w[0].other);
  }
  for (worker& k : w) {
    free(k.ends);
    free(k.runs);
    free(k.copy);
    free(k.rows);
    freepart(k.part);
    freebasepart(k.values);
  }
  free(mem);
  if (!room)
    note(&in->why, because(NOMEMORY));
  *unread = room ? s.unread : true;
  return room ? s.faulty : 0;
}

// A worker: reads a block, scans it in place, so that separating spaces
// become semicolons in the buffer itself, and writes its runs of accepted
// lines from there, so that nothing is copied per line; then the next block,
// to the end of the log.
static void work(worker* w) {
  shared* s = w->s;
  ending* ends = w->ends;
  iovec* runs = w->runs;
  block b;

  while (fetch(s, w->buf, &b)) {
    if (w->spare != nullptr && b.number >= 1)
      start(w);
    if (s->out->book || s->out->base) {
      tabulate(w, &b);
      spin(b.lines);
      passturn(s, &b);
      continue;
    }
    counts c = {0, 0, 0};  // a block begins with a line
    char* line = b.start;  // start of the current line
    char* run = b.start;   // start of the accepted lines not yet gathered
    for (char* p = b.start; p < b.end;) {
      char* stop = b.end - p > ROOM ? p + ROOM : b.end;
      int told = scan(p, stop, &c, ends);
      for (int i = 0; i < told; i++) {
        char* next = ends[i].next;
        size_t length = next - line;
        // A line feed alone, to be written as CR LF.
        bool bare = CRLF && !(length > 1 && next[-2] == '\r');
        b.lines++;
        if (!ends[i].shaped || length - (CRLF && !bare) > LONGEST) {
          put(s, &b, runs, run, line - run);
          run = next;
          b.faulty++;
        } else if (bare) {
          put(s, &b, runs, run, next - 1 - run);
          put(s, &b, runs, "\r\n", 2);
          run = next;
        }
        line = next;
      }
      p = stop;
    }
    put(s, &b, runs, run, line - run);
    flush(s, &b, runs);
    // The turn is this worker's until it passes it on: the frames and the
    // count go in the order of the blocks too.
    spin(b.lines);
    passturn(s, &b);
  }
}

// The way of the workbook and the database with a block: the lines that
// the scan accepts become rows, as the log has them. The scan turns
// separators into semicolons in place, so the block is copied first. In a
// workbook, a line with a field longer than a cell holds is rejected too.
// The CR of a CR LF belongs to the line end here on every platform: a row
// has no line end. The rows and lines counted in the blocks before tell
// where this block's rows stand: where a sheet ends, and each row's line
// number. This worker makes them while the other works on its own block,
// and writes or inserts them in its turn.
static void tabulate(worker* w, block* b) {
  shared* s = w->s;
  ending* ends = w->ends;
  memcpy(w->copy, b->start, b->end - b->start);
  w->count = 0;
  counts c = {0, 0, 0};
  char* line = b->start;
  for (char* p = b->start; p < b->end;) {
    char* stop = b->end - p > ROOM ? p + ROOM : b->end;
    int told = scan(p, stop, &c, ends);
    for (int i = 0; i < told; i++) {
      char* next = ends[i].next;
      size_t length = next - line;
      bool cr = length > 1 && next[-2] == '\r';
      row r = {w->copy + (line - b->start), line, length - 1 - cr, b->lines};
      b->lines++;
      if (ends[i].shaped && length - (CRLF && cr) <= LONGEST &&
          (s->out->book == nullptr || fits(r.at, r.length)))
        w->rows[w->count++] = r;
      else
        b->faulty++;
      line = next;
    }
    p = stop;
  }
  int64_t lines;
  int64_t first = tally(s, b, w->count, &lines);
  if (s->out->book)
    makerows(w->part, first, w->rows, w->count);
  else
    makevalues(w->values, lines, w->rows, w->count);
  waitturn(s, b->number);
  b->writing = true;
  if (s->out->book)
    writerows(s->out->book, w->part);
  else
    insertrows(s->out->base, w->values);
}

// Waits until the blocks before this one have counted their rows and
// lines, and adds this block's; returns the rows before it, and sets
// *lines to the lines before it.
static int64_t tally(shared* s, const block* b, size_t rows, int64_t* lines) {
  std::unique_lock<std::mutex> hold(s->lock);
  s->written.wait(hold, [&] { return s->tally == b->number; });
  int64_t before = s->out->rows;
  s->out->rows += (int64_t)rows;
  *lines = s->out->lines;
  s->out->lines += b->lines;
  s->tally++;
  hold.unlock();
  s->written.notify_all();
  return before;
}

// A log of one block is converted without a second thread; from the second
// block on, the other worker takes its share. Where its thread cannot be
// started, this one goes on alone.
static void* working(void* w) {
  work((worker*)w);
  return nullptr;
}

static void start(worker* w) {
  worker* spare = w->spare;
  w->spare = nullptr;
  launch(&w->other, working, spare);
}

// Waits for the turn to read, then reads the next block into buf after the
// line that the block before cut, and sets b to the whole lines there.
// Returns false at the end of the log, or when reading failed.
static bool fetch(shared* s, char* buf, block* b) {
  std::lock_guard<std::mutex> alone(s->reading);
  if (s->ended)
    return false;

  // Alone with the log and the cut line now. The cut line may stand in this
  // same buffer, where the two places can overlap.
  char* data = buf + HEAD;
  char* start = data - s->kept;
  memmove(start, s->cut, s->kept);
  long n = s->in->read(s->in, data, BLOCK);
  char* end = data + (n > 0 ? n : 0);
  b->lines = b->faulty = 0;
  b->writing = false;
  b->runs = 0;
  if (n > 0 && s->skipping) {
    char* lf = (char*)memchr(data, '\n', n);
    start = lf ? lf + 1 : end;
    if (lf) {
      b->lines = b->faulty = 1;
      s->skipping = false;
    }
  }
  // The block ends after its last line feed; the line after it is cut. A
  // line too long to be carried is too long to be accepted: the rest of it
  // is passed over up to its line feed. What the log holds after its last
  // line feed is no complete line, and is left out.
  char* last = end;
  while (last > start && last[-1] != '\n')
    last--;
  b->start = start;
  b->end = last;
  s->cut = last;
  s->kept = end - last;
  if (s->kept > LONGEST) {
    s->skipping = true;
    s->kept = 0;
  }
  if (n <= 0) {
    s->ended = true;
    s->unread = n < 0;
    return false;
  }
  b->number = s->blocks++;
  return true;
}

// Gathers the n bytes at p for the CSV file; they stay where they are until
// they are written.
static void put(shared* s, block* b, iovec* runs, const char* p, size_t n) {
  if (n == 0)
    return;
  runs[b->runs].iov_base = (void*)p;
  runs[b->runs].iov_len = n;
  if (++b->runs == RUNS)
    flush(s, b, runs);
}

// Waits for this block's turn to write, if it does not hold it yet, and
// writes the runs gathered.
static void flush(shared* s, block* b, iovec* runs) {
  if (!b->writing) {
    waitturn(s, b->number);
    b->writing = true;
  }
  emit(s, runs, b->runs);
  b->runs = 0;
}

// Waits until every block before this one is written.
static void waitturn(shared* s, int64_t number) {
  std::unique_lock<std::mutex> hold(s->lock);
  s->written.wait(hold, [&] { return s->turn == number; });
}

// Counts the block's rejected lines and hands the turn to the next block.
static void passturn(shared* s, const block* b) {
  {
    std::lock_guard<std::mutex> hold(s->lock);
    s->faulty += b->faulty;
    s->turn++;
  }
  s->written.notify_all();
}

// Writes n runs; only the worker that holds the turn calls it.
//
// Platform difference: POSIX writes all the runs with one system call,
// writev(). Windows has none, and there they go through stdio's buffer. What
// writev() leaves undone, and everything after it, goes through stdio too,
// whose error flag tells the caller of a failure; from then on the position
// in the file is stdio's alone.
static void emit(shared* s, iovec* runs, int n) {
  size_t done = 0;  // the bytes that went out at once
  if (n == 0)
    return;
#ifndef _WIN32
  if (!s->broken) {
    long wrote = (long)writev(fileno(s->out->file), runs, n);
    done = wrote > 0 ? (size_t)wrote : 0;
    if (wrote < 0)
      note(&s->out->why, because(SYSTEM, errno));
  }
#endif
  for (int i = 0; i < n; i++) {
    size_t skip = done < runs[i].iov_len ? done : runs[i].iov_len;
    done -= skip;
    if (skip < runs[i].iov_len) {
      size_t k = runs[i].iov_len - skip;
      if (fwrite((char*)runs[i].iov_base + skip, 1, k, s->out->file) != k)
        note(&s->out->why, because(SYSTEM, errno));
      s->broken = 1;
    }
  }
}
