// The plain statement of the scan's rules, and the choice of the fastest
// scan that this processor runs.
#include "scan.h"

#include <stdlib.h>
#include <string.h>

int bytewise(char* p, char* end, counts* c, ending* lines) {
  int n = 0;
  while (p < end) {
    char ch = *p++;
    if (ch == '"')
      c->quotes++;
    else if ((ch == '[' || ch == ']') && even(c->quotes))
      c->brackets++;
    else if (ch == ' ' && even(c->quotes) && even(c->brackets)) {
      c->separators++;
      p[-1] = ';';
    } else if (ch == '\n') {
      lines[n].next = p;
      lines[n].shaped = c->separators == 8 && c->quotes == 6 && c->brackets == 2;
      n++;
      c->quotes = c->brackets = c->separators = 0;
    }
  }
  return n;
}

// AVX2 for the masks, and the bit instructions that came with it. The
// compiler's check includes the operating system's support for the wide
// registers. The scan is chosen while the program's statics are made, and
// the compiler's record of the processor may not be made yet: it is asked
// for first.
#ifdef ZETTRIK_AVX2
static bool avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
         __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt") &&
         __builtin_cpu_supports("pclmul");
}
#endif

static bool always() {
  return true;
}

// Constant: the table is there before any static is made from it.
const kernel kernels[] = {
#ifdef ZETTRIK_AVX2
    {"avx2", scanavx2, avx2},
#endif
#ifdef ZETTRIK_SSE2
    {"sse2", scansse2, always},
#endif
    {"plain", scanplain, always},
};
const int KERNELS = (int)(sizeof kernels / sizeof *kernels);

scanner* pick(const char* name) noexcept {
  for (int i = 0; name != nullptr && i < KERNELS; i++)
    if (strcmp(name, kernels[i].name) == 0 && kernels[i].supported())
      return kernels[i].run;
  int i = 0;
  while (!kernels[i].supported())  // the last always is
    i++;
  return kernels[i].run;
}

scanner* const scan = pick(getenv("ZETTRIK_SCAN"));
