// The window loop with masks made by plain loops, 64 bytes at a time: the
// scan of processors without SSE2, and, as it runs everywhere, one that the
// tests and the fuzzer hold to bytewise() on every run.
#include <stddef.h>
#include <stdint.h>

#include "scanbits.h"
#include "scanloop.h"

int scanplain(char* p, char* end, counts* c, ending* lines) {
  return sweep(p, end, c, lines);
}

static inline void masks(const char* p, uint64_t* quote, uint64_t* bracket, uint64_t* space,
                         uint64_t* lf) {
  *quote = *bracket = *space = *lf = 0;
  for (int i = 0; i < 64; i++) {
    uint64_t bit = (uint64_t)1 << i;
    *quote |= p[i] == '"' ? bit : 0;
    *bracket |= p[i] == '[' || p[i] == ']' ? bit : 0;
    *space |= p[i] == ' ' ? bit : 0;
    *lf |= p[i] == '\n' ? bit : 0;
  }
}

static inline void replace(char* p, uint64_t space, size_t) {
  for (; space; space &= space - 1)
    p[lowest(space)] = ';';
}
