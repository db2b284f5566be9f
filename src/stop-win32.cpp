// An interrupted run on Windows: Ctrl+C, Ctrl+Break, the console window
// closed, the user logging off or the system shutting down. The system
// calls the handler on a thread of its own.
//
// A read that waits on a pipe is ended by cancelling it on the thread that
// waits, which readlog() names while it reads; a lock keeps the handler
// from cancelling anything else of that thread's, such as its next write.
// (A request that comes between the look at it and the read itself is seen
// at the next block.)
//
// After Ctrl+C or Ctrl+Break the process ends with the exit code that
// Ctrl+C gives where no program handles it. When the console is closed,
// the system ends the process as soon as the handler returns, and at the
// latest after five seconds: the handler waits until the run has ended in
// order.
#define WIN32_LEAN_AND_MEAN
#include <errno.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include <atomic>

#include "stop.h"

static std::atomic<int> caught{0};      // the first request, as its cause's err
static std::atomic<DWORD> reader{0};    // the thread that reads the log
static CRITICAL_SECTION naming;         // guards reader against the handler
static bool catching = false;           // catchstops() was called
static HANDLE ended = nullptr;          // set once the run has ended in order
static const UINT CTRLC = 0xC000013Au;  // STATUS_CONTROL_C_EXIT

static int interruption(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
      return BYCTRLC;
    case CTRL_BREAK_EVENT:
      return BYBREAK;
    case CTRL_CLOSE_EVENT:
      return BYCLOSE;
    default:
      return BYLOGOFF;
  }
}

static BOOL WINAPI handler(DWORD type) {
  int none = 0;
  if (!caught.compare_exchange_strong(none, interruption(type)))
    ExitProcess(CTRLC);  // the second request
  EnterCriticalSection(&naming);
  DWORD id = reader.load();
  HANDLE t = id ? OpenThread(THREAD_TERMINATE, FALSE, id) : nullptr;
  if (t) {
    CancelSynchronousIo(t);
    CloseHandle(t);
  }
  LeaveCriticalSection(&naming);
  if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT)
    return TRUE;  // the run goes on to its orderly end
  if (ended)
    WaitForSingleObject(ended, 10000);
  ExitProcess(CTRLC);
}

void catchstops() {
  InitializeCriticalSection(&naming);
  catching = true;
  ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(handler, TRUE);
}

cause stopped() {
  int by = caught.load();
  return by ? because(INTERRUPTED, by) : because(NONE);
}

long readlog(int fd, void* buf, size_t n) {
  if (catching) {
    EnterCriticalSection(&naming);
    reader.store(GetCurrentThreadId());
    LeaveCriticalSection(&naming);
  }
  long got = caught.load() ? -1 : _read(fd, buf, (unsigned)n);
  if (catching) {
    EnterCriticalSection(&naming);
    reader.store(0);
    LeaveCriticalSection(&naming);
  }
  if (got < 0 && caught.load())
    errno = EINTR;
  return got;
}

void endstopped() {
  int by = caught.load();
  if (by == 0)
    return;
  fflush(stdout);
  if (ended)
    SetEvent(ended);
  if (by == BYCTRLC || by == BYBREAK)
    ExitProcess(CTRLC);
  Sleep(INFINITE);  // the handler ends the process
}
