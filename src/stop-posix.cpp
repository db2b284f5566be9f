// An interrupted run on POSIX systems: SIGINT (Ctrl+C), SIGTERM and SIGHUP.
//
// The signals are blocked in every thread and taken by one thread of their
// own, which waits for them with sigwait(): a handler would run on
// whichever thread the signal is delivered to, which need not be the one
// that waits in a read, and some checkers (ThreadSanitizer) run a handler
// only once that thread gets going again, which a thread that waits for a
// lock never does. The thread notes the first signal and writes a byte
// into a pipe of its own; a read of the log waits in poll() for the log or
// that pipe, so that the wait ends whichever thread waits. The byte is
// never taken out: once a signal came, every later wait ends at once.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>

#include "stop.h"

static const int signals[] = {SIGINT, SIGTERM, SIGHUP};
static sigset_t taken;                   // the signals this run takes over
static std::atomic<int> caught{0};       // the first signal, or 0
static int woken[2] = {-1, -1};          // the pipe that ends the waits
static pthread_t waiter;                 // the thread that takes the signals
static bool waits = false;               // it was started
static std::atomic<bool> ending{false};  // the run is over: the thread ends
static int wake;                         // a signal of taken, to wake the thread

// Ends the process by the signal, as its default action does.
static void die(int sig) {
  signal(sig, SIG_DFL);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, sig);
  pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  raise(sig);
  _exit(128 + sig);  // not reached: the signal ends the process
}

static void* waiting(void*) {
  for (;;) {
    int sig;
    if (sigwait(&taken, &sig) != 0)
      continue;
    if (ending.load())
      return nullptr;
    int none = 0;
    if (!caught.compare_exchange_strong(none, sig))
      die(sig);  // the second: at once
    if (woken[1] >= 0)
      (void)!write(woken[1], "", 1);
  }
}

void catchstops() {
  if (pipe(woken) != 0) {
    woken[0] = woken[1] = -1;  // a wait is then ended by the next block
  } else {
    for (int fd : woken)
      fcntl(fd, F_SETFD, FD_CLOEXEC);
    fcntl(woken[1], F_SETFL, O_NONBLOCK);
  }
  // A signal ignored when the program starts (nohup, a background job of a
  // shell without job control) stays ignored: whoever started it so asked
  // for that.
  sigemptyset(&taken);
  wake = 0;
  for (int sig : signals) {
    struct sigaction old;
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
      sigaddset(&taken, sig);
      wake = sig;
    }
  }
  if (wake == 0)
    return;  // all ignored: nothing to take
  // Blocked before the conversion's threads start, which inherit the mask.
  // Where the thread cannot be had (no memory), the signals end the
  // process where it stands, as their default action does.
  pthread_sigmask(SIG_BLOCK, &taken, nullptr);
  pthread_attr_t small;
  waits = pthread_attr_init(&small) == 0 && pthread_attr_setstacksize(&small, 1 << 16) == 0 &&
          pthread_create(&waiter, &small, waiting, nullptr) == 0;
  pthread_attr_destroy(&small);
  if (!waits)
    pthread_sigmask(SIG_UNBLOCK, &taken, nullptr);
}

static int interruption(int sig) {
  return sig == SIGINT ? BYCTRLC : sig == SIGTERM ? BYTERM : BYHUP;
}

cause stopped() {
  int sig = caught.load();
  return sig ? because(INTERRUPTED, interruption(sig)) : because(NONE);
}

// The wait is poll()'s, for the log or the pipe, then the read: poll() said
// there are bytes, and only one thread reads the log at a time, so the read
// does not wait. (A descriptor that poll() cannot wait on is read as it is,
// and tells its own failure.)
long readlog(int fd, void* buf, size_t n) {
  if (woken[0] >= 0) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {woken[0], POLLIN, 0}};
    while (poll(fds, 2, -1) < 0 && errno == EINTR) {
    }
  }
  if (caught.load()) {
    errno = EINTR;
    return -1;
  }
  return (long)read(fd, buf, n);
}

// Where no signal came, the thread that waits for them is woken by a
// signal of its own set, sent to it alone, ends and is joined, so that it
// leaves nothing behind. A signal that comes from outside from then on
// waits, blocked, for the process to end.
void endstopped() {
  int sig = caught.load();
  if (sig != 0) {
    fflush(stdout);
    die(sig);
  }
  if (waits) {
    ending.store(true);
    pthread_kill(waiter, wake);
    pthread_join(waiter, nullptr);
    waits = false;
  }
}
