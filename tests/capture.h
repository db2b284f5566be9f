// Running the conversion in a test: convert() on a log held in memory,
// from a file, a pipe or a source of the test's own, with the CSV and the
// spinner's frames caught, and where two results first differ.
#ifndef ZETTRIK_CAPTURE_H
#define ZETTRIK_CAPTURE_H

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>

#ifdef _WIN32
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define close _close
#else
#include <unistd.h>
#endif

#include "convert.h"
#include "input.h"
#include "output.h"

struct result {
  std::string csv;     // what was written to the target
  int64_t faulty;      // what convert() returned
  bool unread;         // whether reading failed
  bool unwritten;      // whether writing failed
  cause written;       // and why
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

// Where got first differs from want, to be told instead of two strings of
// megabytes; "" when they are the same.
inline std::string differs(const std::string& got, const std::string& want) {
  if (got == want)
    return "";
  size_t at = 0;
  while (at < got.size() && at < want.size() && got[at] == want[at])
    at++;
  char buf[200];
  snprintf(buf, sizeof buf, "differs at byte %zu of %zu (%zu wanted): got \"%s\", want \"%s\"", at,
           got.size(), want.size(), got.substr(at, 16).c_str(), want.substr(at, 16).c_str());
  return buf;
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

// Converts from in into a temporary file, or into target where one is
// given (named path, for a database), with standard output caught in
// another for the frames: as a CSV, or as the kind of target given. The
// output closes target.
inline result caught(input* in, FILE* target = nullptr, const sink* kind = &tocsv,
                     const char* path = "") {
  result r;
  bool own = target == nullptr;
  if (own)
    target = tmpfile();
  FILE* screen = tmpfile();

  fflush(stdout);
  int saved = dup(1);
  dup2(fileno(screen), 1);
  cause why = because(NONE);
  output out = {kind, kind->open(target, path, &why), because(NONE)};
  r.faulty = out.state ? convert(in, &out) : -1;
  fflush(stdout);
  dup2(saved, 1);
  close(saved);

  // Read through a descriptor of its own once the output has ended (and
  // written what its buffer held) and closed its file.
  FILE* kept = own ? fdopen(dup(fileno(target)), "rb") : nullptr;
  note(&why, out.why);
  r.unwritten = out.state == nullptr || !kind->end(out.state, &why) || failed(out.why);
  if (kept) {
    r.csv = slurp(kept);
    fclose(kept);
  }
  r.written = why;
  r.unread = failed(in->why);
  r.frames = slurp(screen);
  fclose(screen);
  return r;
}

// A source for the bytes of a file: how sets it up once plain() has.
typedef bool how(input* in);

// Converts the bytes that come from fd through the source that make sets up
// (the log as it is where make is nullptr).
inline result from(int fd, how* make) {
  input in;
  plain(&in, fd);
  if (make && !make(&in))
    abort();
  result r = caught(&in);
  finish(&in);
  return r;
}

// Converts the log from the file it is in, as it is.
inline result caught(FILE* source) {
  result r = from(fileno(source), nullptr);
  fclose(source);
  return r;
}

// Converts the bytes in file, from a temporary file, through the source
// that make sets up.
inline result through(const std::string& file, how* make) {
  FILE* source = tmpfile();
  fwrite(file.data(), 1, file.size(), source);
  fflush(source);
  rewind(source);
  result r = from(fileno(source), make);
  fclose(source);
  return r;
}

// Converts log from a temporary file, as it is.
inline result run(const std::string& log) {
  return through(log, nullptr);
}

// Whether the shorter of a and b is how the longer begins: what an inflater
// that stopped earlier made, against one that went on further.
inline bool nested(const std::string& a, const std::string& b) {
  const std::string& shorter = a.size() < b.size() ? a : b;
  const std::string& longer = a.size() < b.size() ? b : a;
  return longer.compare(0, shorter.size(), shorter) == 0;
}

#ifndef _WIN32
#include <sys/ioctl.h>

// Converts file as it comes through a pipe, through the source that make
// sets up. Where piece is 0, it is written in pieces of random sizes from
// seed: mostly a few hundred bytes, now and then up to 100 KB; reads from a
// pipe return what has arrived, so blocks of every size follow one another,
// and lines are cut anywhere. Otherwise the first 1000 bytes go in pieces of
// that size, each once the pipe is empty again, so that each is read on its
// own, and the rest at once.
inline result feed(const std::string& file, unsigned seed, how* make = nullptr, size_t piece = 0) {
  int fds[2];
  if (pipe(fds) != 0)
    abort();
  std::thread writer([&] {
    std::mt19937 sizes(seed);
    for (size_t at = 0; at < file.size();) {
      size_t n = sizes() % 4 == 0 ? sizes() % 100000 : sizes() % 300 + 1;
      if (piece > 0) {
        int queued;
        while (ioctl(fds[1], FIONREAD, &queued) == 0 && queued > 0)
          std::this_thread::yield();
        n = at < 1000 ? piece : file.size();
      }
      ssize_t w = write(fds[1], file.data() + at, std::min<size_t>(file.size() - at, n));
      if (w <= 0)
        break;
      at += (size_t)w;
    }
    close(fds[1]);
  });
  result r = from(fds[0], make);
  // A conversion that ends at damage leaves bytes unread; the writer waits
  // for them to be taken.
  char rest[4096];
  while (read(fds[0], rest, sizeof rest) > 0) {
  }
  close(fds[0]);
  writer.join();
  return r;
}
#endif

#endif
