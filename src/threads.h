// A thread started and joined without exceptions. std::thread tells of a
// thread that cannot be started by throwing, and a throw needs memory: with
// none left (a limit on the address space, where the stack of a new thread
// is the first thing that does not fit), it ended the program instead. The
// threads of the C library say so by their return value. Both platforms
// have them: MinGW-w64's threads are these too.
#ifndef ZETTRIK_THREADS_H
#define ZETTRIK_THREADS_H

#include <pthread.h>

struct runner {
  pthread_t id;
  bool started;
};

// Runs f(arg) on a thread of its own; false, with nothing started, where it
// cannot be had.
static inline bool launch(runner* r, void* (*f)(void*), void* arg) {
  r->started = pthread_create(&r->id, nullptr, f, arg) == 0;
  return r->started;
}

// Waits for the thread, if one was started, to end.
static inline void await(runner* r) {
  if (r->started)
    pthread_join(r->id, nullptr);
  r->started = false;
}

#endif
