// An interrupted run on POSIX systems: SIGINT (Ctrl+C), SIGTERM and SIGHUP.
//
// A signal is delivered to whichever thread of the process does not block
// it, which need not be the one that waits in a read: the handler only
// notes the signal and writes a byte into a pipe of its own, and a read of
// the log waits in poll() for the log or that pipe, so that any thread's
// wait ends. The byte is never taken out: once a signal came, every later
// wait ends at once.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>

#include "stop.h"

static const int signals[] = {SIGINT, SIGTERM, SIGHUP};
static std::atomic<int> caught{0};  // the first signal, or 0
static int woken[2] = {-1, -1};     // the pipe that ends the waits

// Only calls that are safe in a signal handler: the second signal is given
// back its default action and raised again, which ends the process once
// the handler returns.
static void handler(int sig) {
  int none = 0;
  if (!caught.compare_exchange_strong(none, sig)) {
    signal(sig, SIG_DFL);
    raise(sig);
    return;
  }
  int saved = errno;
  if (woken[1] >= 0)
    (void)!write(woken[1], "", 1);
  errno = saved;
}

void catchstops() {
  if (pipe(woken) != 0) {
    woken[0] = woken[1] = -1;  // a wait is then ended by the next block
  } else {
    for (int fd : woken)
      fcntl(fd, F_SETFD, FD_CLOEXEC);
    fcntl(woken[1], F_SETFL, O_NONBLOCK);
  }
  for (int sig : signals) {
    // A signal ignored when the program starts (nohup, a background job of
    // a shell without job control) stays ignored: whoever started it so
    // asked for that.
    struct sigaction old;
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
      continue;
    struct sigaction sa = {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;  // the writes go on; the reads wait in poll()
    sigaction(sig, &sa, nullptr);
  }
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

void endstopped() {
  int sig = caught.load();
  if (sig == 0)
    return;
  fflush(stdout);
  signal(sig, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  _exit(128 + sig);  // not reached: the signal ends the process
}
