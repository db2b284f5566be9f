// Feeds arbitrary bytes to every scan and holds it to the plain one: the
// same bytes out, the same lines with the same verdicts, the same counts
// carried on. From those follow the same accepted lines, the same number of
// rejected ones and the same number of frames. The first two bytes choose
// the counts carried in and how the input is cut into calls.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2)
    return 0;
  counts start = {data[0] & 7, (data[0] >> 3) & 7, data[0] >> 6};
  size_t chunk = 1 + data[1] * 3;
  std::string in((const char*)data + 2, size - 2);

  outcome want = apply(bytewise, in, start, chunk);
  for (auto& f : scans()) {
    std::string d = differs(apply(f.second, in, start, chunk), want);
    if (!d.empty()) {
      fprintf(stderr, "%s, chunk %zu: %s\n", f.first, chunk, d.c_str());
      abort();
    }
  }
  return 0;
}
