// The reserve and the last words (memory.h).
#include "memory.h"

#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <new>
#include <thread>

#include "console.h"

constexpr size_t RESERVE = 1 << 20;

// Handed over by one atomic exchange: of two threads that fail at once,
// one frees it, and the other finds it gone and tries once more, as the
// memory is back by then.
static std::atomic<void*> reserve;
static std::atomic<bool> spent;
static std::atomic<int> after;  // failures since it was spent
static std::atomic<bool> telling;

// Before the names are known nothing has been opened, and the message
// names no file.
static char words[2048] =
    "\nFEHLER:\tZu wenig Arbeitsspeicher zum Starten; keine Datei wurde geoeffnet!\n"
    "\tGrund: Nicht genug Arbeitsspeicher\n";

// Allocates nothing: there is no memory. (Nor is a counter of this
// thread's own kept: MinGW makes a thread's variables on first use, with
// malloc.)
static void spend() {
  void* r = reserve.exchange(nullptr);
  if (r) {
    spent = true;
    free(r);
    return;  // tried again, with the reserve's memory back
  }
  if (after++ == 0)
    return;  // the reserve may have gone to another thread a moment ago
  // The last words, once: a thread that fails while they are told waits
  // for the end of the process.
  if (telling.exchange(true))
    for (;;)
      std::this_thread::sleep_for(std::chrono::hours(1));
  show(words);
  fflush(stdout);
  _Exit(0);
}

void saylast() {
  show(words);
}

bool keepreserve() {
  reserve = malloc(RESERVE);
  std::set_new_handler(spend);
  return reserve != nullptr;
}

void freereserve() {
  free(reserve.exchange(nullptr));
}

bool starved() {
  return spent.load(std::memory_order_relaxed);
}

void lastwords(const char* text) {
  snprintf(words, sizeof words, "%s", text);
}
