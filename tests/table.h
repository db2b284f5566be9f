// The scan's cases: lines and their verdicts written out by hand, every
// scan of this build, the scans applied to a string, and the plain scan
// as the oracle.
#ifndef ZETTRIK_TABLE_H
#define ZETTRIK_TABLE_H

#include <stddef.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "capture.h"
#include "scan.h"

struct outcome {
  std::string bytes;         // the input after the scan
  std::vector<size_t> ends;  // where each told line ends, as offsets
  std::vector<bool> shaped;  // and its verdict
  counts last;               // the counts of the line cut at the end
};

// Scans data in calls of chunk bytes each (the last may be shorter), as the
// converter does, starting from the given counts.
inline outcome apply(scanner* f, const std::string& data, counts start, size_t chunk) {
  outcome o;
  o.bytes = data;
  std::vector<ending> lines(data.size() + 1);
  char* base = &o.bytes[0];
  char* end = base + data.size();
  o.last = start;
  for (char* p = base; p < end;) {
    char* stop = (size_t)(end - p) > chunk ? p + chunk : end;
    int n = f(p, stop, &o.last, lines.data());
    for (int i = 0; i < n; i++) {
      o.ends.push_back(lines[i].next - base);
      o.shaped.push_back(lines[i].shaped);
    }
    p = stop;
  }
  return o;
}

// Where a scan's outcome first differs from the oracle's: the bytes, the
// lines told and their verdicts, the counts carried on; "" when it does not.
inline std::string differs(const outcome& got, const outcome& want) {
  std::string d = differs(got.bytes, want.bytes);
  if (!d.empty())
    return "bytes " + d;
  for (size_t i = 0; i < std::max(got.ends.size(), want.ends.size()); i++)
    if (i >= got.ends.size() || i >= want.ends.size() || got.ends[i] != want.ends[i] ||
        got.shaped[i] != want.shaped[i])
      return "line " + std::to_string(i) + " ends or is judged otherwise";
  if (got.last.quotes != want.last.quotes || got.last.brackets != want.last.brackets ||
      got.last.separators != want.last.separators)
    return "the counts carried on differ";
  return "";
}

// Lines and what becomes of them, written out by hand, so that no code of
// the program decides what is expected: the CSV line of an accepted line,
// nullptr for a rejected one. The accepted lines each show a rule at work;
// the first six rejected ones each break exactly one of the three counts
// (8 separators, 6 quotes, 2 brackets) by one, either way.
struct judged {
  std::string line;
  const char* csv;
};

inline std::vector<judged> table() {
  return {
      // Spaces inside the brackets and inside quotes stay, and brackets
      // inside quotes do not count.
      {"10.0.0.1 - - [07/Dec/2026:10:00:00 +0100] \"GET /index.html HTTP/1.0\" 200 512 \"-\" "
       "\"Agent/1.0 [en] (test)\"\n",
       "10.0.0.1;-;-;[07/Dec/2026:10:00:00 +0100];\"GET /index.html HTTP/1.0\";200;512;\"-\";"
       "\"Agent/1.0 [en] (test)\"\n"},
      // Only the counts matter, not where the fields stand.
      {"1.2.3.4 - - \"GET / H\" 200 5 \"-\" \"A/1\" [t+0100]\n",
       "1.2.3.4;-;-;\"GET / H\";200;5;\"-\";\"A/1\";[t+0100]\n"},
      // Quotes count inside brackets too.
      {"1.2.3.4 - - [t \"u v\"] \"GET / H\" 200 5 \"-\" agent\n",
       "1.2.3.4;-;-;[t \"u v\"];\"GET / H\";200;5;\"-\";agent\n"},
      // ']' and '[' are alike.
      {"1.2.3.4 - - ]t u[ \"GET / H\" 200 5 \"-\" \"A\"\n",
       "1.2.3.4;-;-;]t u[;\"GET / H\";200;5;\"-\";\"A\"\n"},
      // Semicolons, tabs and every other byte are copied as they are.
      {"1.2.3.4 - u;x [t] \"GET /a;b H\" 200 5 \"-\" \"A;B\t\xff\"\n",
       "1.2.3.4;-;u;x;[t];\"GET /a;b H\";200;5;\"-\";\"A;B\t\xff\"\n"},
      {"1.2.3.4 -- [t] \"GET / H\" 200 5 \"-\" \"A\"\n", nullptr},     // 7 separators
      {"1.2.3.4 - - [t] \"GET / H\" 200 5 \"-\" \"A\" x\n", nullptr},  // 9 separators
      {"1.2.3.4 - - [t] \"GET / H\" 200 5 \"-\" \"A\n", nullptr},      // 5 quotes
      {"1.2.3.4 - - [t] \"GET / H\" 200 5 \"-\" \"A\"\"\n", nullptr},  // 7 quotes
      {"1.2.3.4 - - \"GET / H\" 200 5 \"-\" \"A\" [t\n", nullptr},     // 1 bracket
      {"1.2.3.4 - - \"GET / H\" 200 5 \"-\" \"A\" [t]]\n", nullptr},   // 3 brackets
      {"1.2.3.4 - - [t] \"GET /a\\\"b H\" 200 5 \"-\" \"A\"\n",
       nullptr},                                                      // a backslash escapes nothing
      {"1.2.3.4\t- - [t] \"GET / H\" 200 5 \"-\" \"A\"\n", nullptr},  // a tab is no separator
      {"1.2.3.4 - - [t] \"GET / H\" 200 5\n", nullptr},               // the common log format
      {"\n", nullptr},
  };
}

// Every scan that this build and this processor have, by name, and the
// one the conversion uses.
inline std::vector<std::pair<const char*, scanner*>> scans() {
  std::vector<std::pair<const char*, scanner*>> all;
  for (int i = 0; i < KERNELS; i++)
    if (kernels[i].supported())
      all.push_back({kernels[i].name, kernels[i].run});
  all.push_back({"scan", scan});
  return all;
}

// What the converter must make of a log without carriage returns, by the
// plain scan.
inline std::string oracle(const std::string& log) {
  outcome o = apply(bytewise, log, counts{0, 0, 0}, log.size() + 1);
  std::string csv;
  size_t start = 0;
  for (size_t i = 0; i < o.ends.size(); i++) {
    if (o.shaped[i] && o.ends[i] - start <= LONGEST)
      csv += eol(o.bytes.substr(start, o.ends[i] - start));
    start = o.ends[i];
  }
  return csv;
}

#endif
