// The conversion: reads the log to its end a block at a time and hands
// every block to the output (output.h), which copies the lines of the
// right shape and counts the others. Which lines those are is the scan's
// part (scan.h); what becomes of them, the output's.
//
// Two workers, the converting thread and, from the second block on, one
// thread more, take the log a block at a time, each block on its own from
// reading to writing: while one reads or writes, the other makes, so that
// on two cores the scan and the copying between the file cache and the
// buffers overlap. A block stays in the buffer of the worker that read it
// and is written from there. The life of one block, in one worker, while
// the other lives the next:
//
//   fetch()     holds `reading` for the whole read, a read that may wait
//               on a pipe: takes the line that the block before cut from
//               `carry`, reads, finds the last line feed, leaves the line
//               cut there in `carry`, and numbers the block
//   make()      the output's work on the block (the scan, rows, cells,
//               values), while the other worker makes its own; no lock,
//               but for a wait as short as the other's scan where the
//               output must know the rows before (output.h)
//   writeturn() waits for the block's turn (`turn`), the output writes the
//               block, spin() draws its frames, and the turn passes on
//
// So there are two orders and one of each: `reading` for the reads, the
// turn for the writes. A compressed log is decoded on a thread of its own,
// a block ahead (ahead.cpp), and reading a block copies it from there.
//
// This is the converter's hot path with the scan: changes here are
// measured with bench/bench.py.
#include "convert.h"

#include <stdlib.h>
#include <string.h>

#include <condition_variable>
#include <mutex>

#include "console.h"
#include "memory.h"
#include "scan.h"
#include "stop.h"
#include "threads.h"

// The room before a block, for the longest line that can be carried. It is a
// whole number of pages, and the buffers begin on a page, so that every
// block is read to the start of a page: the system's copy into the buffer
// took about five times as long when it began one byte short of one.
constexpr size_t PAGE = 4096, HEAD = (LONGEST + PAGE - 1) / PAGE * PAGE;
static_assert(HEAD + BLOCK <= MOST, "the outputs make room for MOST bytes of a block");

struct shared {
  input* in;
  output* out;
  // Held for the whole read of a block; guards everything down to blocks.
  std::mutex reading;
  bool ended;      // the log has ended, reading failed, or the output did
  char* carry;     // the start of the line that the last block cut, LONGEST bytes
  size_t kept;     // its bytes
  bool skipping;   // that line is too long; look only for its end
  int64_t blocks;  // blocks read so far
  // Guards the turn and the count; written tells that the turn moved on.
  std::mutex lock;
  std::condition_variable written;
  int64_t turn;    // the block to be written next
  int64_t faulty;  // rejected lines in the blocks written
  bool broken;     // the output has failed: nothing more is read
};

// A worker: the shared state, its own buffer of HEAD + BLOCK bytes and its
// share of the output's work. The converting thread's worker also holds
// the other one until it starts it.
struct worker {
  shared* s;
  char* buf;
  void* part;
  worker* spare;  // the worker to start at the second block, or nullptr
  runner helper;  // the thread started for the spare, if any
};

static void work(worker* w);
static bool fetch(shared* s, worker* w, block* b);
static void startspare(worker* w);
static void writeturn(shared* s, worker* w, const block* b);

int64_t convert(input* in, output* out) {
  const sink* k = out->kind;
  char* mem = (char*)malloc(PAGE + 2 * (HEAD + BLOCK));
  char* carry = (char*)malloc(LONGEST);
  shared s;
  worker w[2];
  w[0].part = k->newpart();
  w[1].part = k->newpart();
  // Without the memory for the buffers that reading needs, a log counts as
  // one that cannot be read; without the output's share of the work, the
  // output as one that cannot be written.
  bool parts = w[0].part && w[1].part;
  bool room = mem && carry && parts;
  if (room) {
    char* first = mem + (PAGE - (uintptr_t)mem % PAGE) % PAGE;
    s.in = in;
    s.out = out;
    s.ended = s.skipping = false;
    s.carry = carry;
    s.kept = 0;
    s.blocks = s.turn = s.faulty = 0;
    s.broken = false;
    w[0].s = w[1].s = &s;
    w[0].buf = first;
    w[1].buf = first + HEAD + BLOCK;
    w[0].spare = &w[1];
    w[1].spare = nullptr;
    w[0].helper.started = false;
    work(&w[0]);
    await(&w[0].helper);
  }
  for (worker& x : w)
    if (x.part)
      k->freepart(x.part);
  free(carry);
  free(mem);
  if (!parts)
    note(&out->why, because(NOMEMORY));
  else if (!room)
    note(&in->why, because(NOMEMORY));
  return room ? s.faulty : 0;
}

// A worker: reads a block, makes it, writes it in its turn; then the next
// block, to the end of the log.
static void work(worker* w) {
  shared* s = w->s;
  block b;
  while (fetch(s, w, &b)) {
    if (w->spare != nullptr && b.number >= 1)
      startspare(w);
    s->out->kind->make(s->out->state, w->part, &b);
    writeturn(s, w, &b);
  }
}

// A log of one block is converted without a second thread; from the second
// block on, the other worker takes its share. Where its thread cannot be
// started, this one goes on alone.
static void* working(void* w) {
  work((worker*)w);
  return nullptr;
}

static void startspare(worker* w) {
  worker* spare = w->spare;
  w->spare = nullptr;
  launch(&w->helper, working, spare);
}

// Waits for the turn to read, then reads the next block into the worker's
// buffer after the line that the block before cut, sets b to the whole
// lines there and numbers it. Returns false at the end of the log, or when
// reading failed (the input's cause says so).
static bool fetch(shared* s, worker* w, block* b) {
  std::lock_guard<std::mutex> alone(s->reading);
  // Once the output has failed, the rest of the log would be read, scanned
  // and packed for nothing; the run ends as at the log's end, and the
  // output tells its failure.
  {
    std::lock_guard<std::mutex> hold(s->lock);
    s->ended |= s->broken;
  }
  if (s->ended)
    return false;
  // Asked to end the run: what was read is written, and nothing more is
  // read, as after a read error (stop.h).
  if (failed(stopped())) {
    note(&s->in->why, stopped());
    s->ended = true;
    return false;
  }
  // Out of memory, the run ends in order while the reserve lasts; what is
  // not written is the target's failure (memory.h).
  if (starved()) {
    note(&s->out->why, because(NOMEMORY));
    s->ended = true;
    return false;
  }

  char* data = w->buf + HEAD;
  char* start = data - s->kept;
  memcpy(start, s->carry, s->kept);
  long n = s->in->read(s->in, data, BLOCK);
  char* end = data + (n > 0 ? n : 0);
  b->lines = b->faulty = 0;
  if (n > 0 && s->skipping) {
    char* lf = (char*)memchr(data, '\n', (size_t)n);
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
  s->kept = (size_t)(end - last);
  if (s->kept > LONGEST) {
    s->skipping = true;
    s->kept = 0;
  }
  memcpy(s->carry, last, s->kept);
  if (n <= 0) {
    // A request to end the run that came while the read waited is the
    // cause, also where the log then ended (a read on Windows that no
    // cancelling reaches). A source that fails without a cause fails all
    // the same.
    note(&s->in->why, stopped());
    if (n < 0)
      note(&s->in->why, because(UNKNOWN));
    s->ended = true;
    return false;
  }
  b->number = s->blocks++;
  return true;
}

// Waits until every block before this one is written, has the output write
// this one, adds its rejected lines, and hands the turn to the next block.
// The frames go in the order of the blocks too.
static void writeturn(shared* s, worker* w, const block* b) {
  {
    std::unique_lock<std::mutex> hold(s->lock);
    s->written.wait(hold, [&] { return s->turn == b->number; });
  }
  bool whole = s->out->kind->write(s->out->state, w->part);
  spin(b->lines);
  {
    std::lock_guard<std::mutex> hold(s->lock);
    s->broken |= !whole;
    s->faulty += b->faulty;
    s->turn++;
  }
  s->written.notify_all();
}
