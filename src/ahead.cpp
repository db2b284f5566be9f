// The decoder's thread (ahead.h): it decodes a block of BLOCK bytes into
// its slot while the conversion makes the blocks before, and a read copies
// the slot out.
#include "ahead.h"

#include <stdlib.h>
#include <string.h>

#include <condition_variable>
#include <mutex>
#include <new>

#include "threads.h"

// The two workers of the conversion took turns at decoding before, so the
// decoder's state and its window went from one core's cache to the other's
// at every block:
// zstd's window of a few megabytes made that cost more than decoding itself
// (500 MB from zstd -3: 0.83 s of CPU on two cores, 0.51 s on one). On its
// own thread it stays on one core, and the two workers scan and write.
// Changes here are measured with bench/bench.py --only compressed.

struct aheadstate {
  input inner;      // the decoder, as openlog() set it up
  runner decoding;  // the decoder's thread
  std::mutex lock;
  std::condition_variable moved;
  char* slot;   // the block decoded ahead
  long got;     // its bytes; 0 at the end of the log, -1 on failure
  size_t used;  // the bytes of it copied out
  bool full;    // the slot holds what the reader has not yet taken
  bool stop;    // the reader is gone
  bool tried;   // the thread was started, or could not be
};

static void* decodeahead(void* state) {
  aheadstate* a = (aheadstate*)state;
  for (;;) {
    long n = a->inner.read(&a->inner, a->slot, BLOCK);
    std::unique_lock<std::mutex> hold(a->lock);
    a->got = n;
    a->used = 0;
    a->full = true;
    a->moved.notify_all();
    if (n <= 0)
      return nullptr;
    a->moved.wait(hold, [a] { return !a->full || a->stop; });
    if (a->stop)
      return nullptr;
  }
}

static long readahead(input* in, char* buf, size_t n) {
  aheadstate* a = (aheadstate*)in->state;
  if (!a->tried) {
    a->tried = true;
    // Where the thread cannot be started, the decoder is read here as it
    // was.
    launch(&a->decoding, decodeahead, a);
  }
  if (!a->decoding.started) {
    long got = a->inner.read(&a->inner, buf, n);
    if (got < 0)
      note(&in->why, a->inner.why);
    return got;
  }
  std::unique_lock<std::mutex> hold(a->lock);
  a->moved.wait(hold, [a] { return a->full; });
  if (a->got < 0)
    note(&in->why, a->inner.why);  // written before got, under the lock
  if (a->got <= 0)
    return a->got;  // and the same at every later read
  size_t k = (size_t)a->got - a->used < n ? (size_t)a->got - a->used : n;
  memcpy(buf, a->slot + a->used, k);
  a->used += k;
  if (a->used == (size_t)a->got) {
    a->full = false;
    a->moved.notify_all();
  }
  return (long)k;
}

static void endahead(input* in) {
  aheadstate* a = (aheadstate*)in->state;
  if (a->decoding.started) {
    {
      std::lock_guard<std::mutex> hold(a->lock);
      a->stop = true;
    }
    a->moved.notify_all();
    await(&a->decoding);
  }
  if (a->inner.end)
    a->inner.end(&a->inner);
  free(a->slot);
  a->~aheadstate();
  free(a);
  in->state = nullptr;
}

void ahead(input* in) {
  void* room = malloc(sizeof(aheadstate));
  char* slot = (char*)malloc(BLOCK);
  if (room == nullptr || slot == nullptr) {
    free(room);
    free(slot);
    return;
  }
  aheadstate* a = new (room) aheadstate;
  a->inner = *in;
  a->slot = slot;
  a->got = 0;
  a->used = 0;
  a->full = a->stop = a->tried = a->decoding.started = false;
  in->state = a;
  in->read = readahead;
  in->end = endahead;
}
