// Runs convert() on a log held in memory, as the tests need it.
#ifndef ZETTRIK_TESTUTIL_H
#define ZETTRIK_TESTUTIL_H

#include <stdint.h>
#include <stdio.h>

#include <string>

#ifdef _WIN32
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define close _close
#else
#include <unistd.h>
#endif

#include "zettrik.h"

struct result {
  std::string csv;     // what was written to the target
  int64_t faulty;      // what convert() returned
  int unread;          // whether it saw a read error
  std::string frames;  // what it printed: the spinner's frames
};

// A CSV text as written here: on Windows every line ends in CR LF.
inline std::string eol(const std::string& s) {
#ifdef _WIN32
  std::string t;
  for (char ch : s) {
    if (ch == '\n')
      t += '\r';
    t += ch;
  }
  return t;
#else
  return s;
#endif
}

inline std::string slurp(FILE* f) {
  std::string s;
  char buf[1 << 16];
  size_t n;
  rewind(f);
  while ((n = fread(buf, 1, sizeof buf, f)) > 0)
    s.append(buf, n);
  return s;
}

// Converts log between two temporary files, with standard output caught in a
// third for the frames.
inline result run(const std::string& log) {
  result r;
  FILE* source = tmpfile();
  FILE* target = tmpfile();
  FILE* screen = tmpfile();
  fwrite(log.data(), 1, log.size(), source);
  fflush(source);
  rewind(source);

  fflush(stdout);
  int saved = dup(1);
  dup2(fileno(screen), 1);
  r.faulty = convert(source, target, &r.unread);
  fflush(stdout);
  dup2(saved, 1);
  close(saved);

  fflush(target);
  r.csv = slurp(target);
  r.frames = slurp(screen);
  fclose(source);
  fclose(target);
  fclose(screen);
  return r;
}

#endif
