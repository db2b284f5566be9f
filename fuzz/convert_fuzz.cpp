// Runs the whole conversion on arbitrary bytes, between temporary files and,
// for one input in four, once more through a pipe in pieces of random sizes,
// and holds it to what the plain scan makes of them: the accepted lines byte
// for byte, the number of rejected lines, one frame for every line.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "table.h"

// Aborts, for the fuzzer to keep the input, when r is not what the plain
// scan makes of the log; says first how it differs.
static void hold(const char* how, const result& r, const std::string& want, int64_t rejected,
                 size_t lines) {
  std::string d = differs(r.csv, want);
  if (d.empty() && r.faulty == rejected && r.frames.size() == lines && !r.unread)
    return;
  fprintf(stderr, "%s: csv %s; faulty %lld (%lld wanted); frames %zu (%zu wanted); unread %d\n",
          how, d.empty() ? "same" : d.c_str(), (long long)r.faulty, (long long)rejected,
          r.frames.size(), lines, (int)r.unread);
  abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string log((const char*)data, size);
  outcome plain = apply(bytewise, log, counts{0, 0, 0}, log.size() + 1);
  int64_t rejected = 0;
  size_t start = 0;
  for (size_t i = 0; i < plain.ends.size(); i++) {
    if (!plain.shaped[i] || plain.ends[i] - start > LONGEST)
      rejected++;
    start = plain.ends[i];
  }
  std::string want = oracle(log);
  hold("from a file", run(log), want, rejected, plain.ends.size());
  // A pipe costs threads and many small reads; one input in four is enough
  // to try the cuts between blocks without starving the rest of the search.
  if (size % 4 == 0)
    hold("through a pipe", feed(log, (unsigned)size), want, rejected, plain.ends.size());
  return 0;
}
