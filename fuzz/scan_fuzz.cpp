// Feeds arbitrary bytes to every block scan and holds it to the plain scan:
// the same bytes out, the same lines with the same verdicts, the same counts
// carried on. From those follow the same accepted lines, the same number of
// rejected ones and the same number of frames. The first two bytes choose
// the counts carried in and how the input is cut into calls.
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "testutil.h"

// Aborts, for the fuzzer to keep the input, when f differs from want.
static void hold(scanner* f, const std::string& in, counts start, size_t chunk,
                 const outcome& want) {
  outcome got = apply(f, in, start, chunk);
  if (got.bytes != want.bytes || got.ends != want.ends || got.shaped != want.shaped ||
      got.last.quotes != want.last.quotes || got.last.brackets != want.last.brackets ||
      got.last.separators != want.last.separators)
    abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2)
    return 0;
  counts start = {data[0] & 7, (data[0] >> 3) & 7, data[0] >> 6};
  size_t chunk = 1 + data[1] * 3;
  std::string in((const char*)data + 2, size - 2);

  outcome want = apply(bytewise, in, start, chunk);
  hold(blockwise, in, start, chunk, want);
  hold(scan, in, start, chunk, want);
#ifdef ZETTRIK_AVX2
  if (wide())
    hold(blockwide, in, start, chunk, want);
#endif
  return 0;
}
