// A program built without SQLite: a target named as a database is refused
// with the target's message, and nothing is converted (base.h).
#include "base.h"

bool databases() {
  return false;
}

database* newbase(const char*, cause* why) {
  note(why, because(NODATABASE));
  return nullptr;
}

basepart* newbasepart() {
  return nullptr;
}

void freebasepart(basepart*) {}

void makevalues(basepart*, int64_t, const row*, size_t) {}

void insertrows(database*, basepart*) {}

bool endbase(database*, cause*) {
  return false;
}
