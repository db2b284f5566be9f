// Runs the whole conversion on arbitrary bytes, between temporary files and,
// for one input in four, once more through a pipe in pieces of random sizes,
// and holds it to what the plain scan makes of them: the accepted lines byte
// for byte, the number of rejected lines, one frame for every line.
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "testutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string log((const char*)data, size);
  result r = run(log);

  outcome plain = apply(bytewise, log, counts{0, 0, 0}, log.size() + 1);
  int64_t rejected = 0;
  size_t start = 0;
  for (size_t i = 0; i < plain.ends.size(); i++) {
    if (!plain.shaped[i] || plain.ends[i] - start > LONGEST)
      rejected++;
    start = plain.ends[i];
  }
  std::string want = oracle(log);
  if (r.csv != want || r.faulty != rejected || r.frames.size() != plain.ends.size() || r.unread)
    abort();
  // A pipe costs threads and many small reads; one input in four is enough
  // to try the cuts between blocks without starving the rest of the search.
  if (size % 4 == 0) {
    result piped = feed(log, (unsigned)size);
    if (piped.csv != want || piped.faulty != rejected ||
        piped.frames.size() != plain.ends.size() || piped.unread)
      abort();
  }
  return 0;
}
