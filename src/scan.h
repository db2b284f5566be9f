// The scan: how the bytes of a line are classified, in all its forms. The
// conversion calls scan(); the tests and the fuzzers hold every form to
// bytewise().
//
// The rules: a double quote always counts; a bracket, '[' or ']' alike,
// counts while the quotes before it in its line are even; a space while both
// the quotes and the brackets before it are even is a separator and becomes
// a semicolon. A line feed ends the line; everything else is copied as it is.
#ifndef ZETTRIK_SCAN_H
#define ZETTRIK_SCAN_H

#include <stddef.h>

#include "lines.h"

// What the scan has counted of the current line so far. The parities of
// quotes and brackets say whether a byte stands inside quotes or brackets.
struct counts {
  int quotes;      // double quotes, wherever they stand
  int brackets;    // '[' and ']' while quotes is even
  int separators;  // spaces outside quotes and brackets, now semicolons
};

// What the scan tells of a line that it finished.
struct ending {
  char* next;   // the byte after its line feed
  bool shaped;  // whether its counts are those of a combined log line
};

// Whether x is divisible by two. Every parity test of the scan goes through
// it. It is static, so that the copy compiled for AVX2 in scan-avx2.cpp can
// never stand in for the others.
static constexpr bool even(int x) {
  return x % 2 == 0;
}

// A scan: turns the separating spaces from p to end into semicolons in place
// and counts into c. Every line feed finishes a line, which is told in
// lines[], and c starts again from zero; lines[] has room for as many lines
// as there are bytes. Returns the number of lines told; c then holds the
// counts of the line that end cut.
typedef int scanner(char* p, char* end, counts* c, ending* lines);

// One byte at a time: the rules as they are stated, and the oracle.
int bytewise(char* p, char* end, counts* c, ending* lines);

// 64 bytes at a time, with masks made by plain loops: runs everywhere.
int scanplain(char* p, char* end, counts* c, ending* lines);

#ifdef ZETTRIK_SSE2
// 64 bytes at a time, with SSE2 masks: every x86-64 processor.
int scansse2(char* p, char* end, counts* c, ending* lines);
#endif

#ifdef ZETTRIK_AVX2
// 64 bytes at a time, with AVX2 masks and bit instructions; only where
// the kernels' table says this processor has them.
int scanavx2(char* p, char* end, counts* c, ending* lines);
#endif

// A kernel of the scan, a row of the table: its name, as ZETTRIK_SCAN gives
// it, the scan, and whether this processor runs it.
struct kernel {
  const char* name;
  scanner* run;
  bool (*supported)();
};

// The kernels of this build, fastest first; the last is the plain one,
// which runs everywhere. pick(), the tests and the fuzzers read it: a new
// kernel is a unit of its own and a row here (scan.cpp).
extern const kernel kernels[];
extern const int KERNELS;

// The kernel of that name where this build and this processor have it, and
// otherwise the fastest they have.
scanner* pick(const char* name) noexcept;

// The scan the conversion uses, chosen once at start: pick() of the
// environment's ZETTRIK_SCAN, so that the tests can run the program with
// each scan; unset, the fastest.
extern scanner* const scan;

#endif
