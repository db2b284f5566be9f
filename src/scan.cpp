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
// registers.
bool avx2() {
#ifdef ZETTRIK_AVX2
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
         __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt") &&
         __builtin_cpu_supports("pclmul");
#else
  return false;
#endif
}

scanner* pick(const char* name) noexcept {
  bool named = name != nullptr && *name != '\0';
  if (named && strcmp(name, "plain") == 0)
    return scanplain;
#ifdef ZETTRIK_SSE2
  if (named && strcmp(name, "sse2") == 0)
    return scansse2;
#endif
#ifdef ZETTRIK_AVX2
  if (avx2())
    return scanavx2;
#endif
#ifdef ZETTRIK_SSE2
  return scansse2;
#else
  return scanplain;
#endif
}

scanner* const scan = pick(getenv("ZETTRIK_SCAN"));
