// A program built without SQLite: a target named as a database is refused
// with the target's message and its own cause, and nothing is converted.
#include "output.h"

static void* openbase(FILE* file, const char*, cause* why) {
  fclose(file);
  note(why, because(NODATABASE));
  return nullptr;
}

static const char* const suffixes[] = {".sqlite", ".sqlite3", ".db", nullptr};

const sink tobase = {"database", suffixes, openbase, nullptr, nullptr,
                     nullptr,    nullptr,  nullptr,  true};
