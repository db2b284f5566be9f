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

// The longest line that can be converted, its line feed included. A longer
// line is rejected like any line of the wrong shape.
constexpr size_t LONGEST = 65535;

// Platform difference: Windows ends its lines with CR LF. The log is read
// in binary mode, so a 0x1A is a byte like any other and not, as in the text
// mode of the Windows run-time, the end of the file. In its place the
// outputs do what text mode would do with line ends: the CR of a CR LF
// belongs to the line end and not to the line (for the longest line, and
// in the CSV), and every line of the CSV ends in CR LF, also where the log
// had a line feed alone. A CR anywhere else is an ordinary byte.
#ifdef _WIN32
constexpr bool CRLF = true;
#else
constexpr bool CRLF = false;
#endif

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
// avx2() says this processor has them.
int scanavx2(char* p, char* end, counts* c, ending* lines);
#endif

// Whether this processor runs scanavx2().
bool avx2();

// The scan of that name (plain, sse2, avx2) where this build and this
// processor have it, and otherwise the fastest they have.
scanner* pick(const char* name) noexcept;

// The scan the conversion uses, chosen once at start: pick() of the
// environment's ZETTRIK_SCAN, so that the tests can run the program with
// each scan; unset, the fastest.
extern scanner* const scan;

#endif
