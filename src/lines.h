// The line rule, in one place: how long a line may be, how long a block of
// lines can be, and how the platforms end their lines. The scan, the
// conversion and the outputs all size their buffers from these.
#ifndef ZETTRIK_LINES_H
#define ZETTRIK_LINES_H

#include <stddef.h>

// The longest line that can be converted, its line feed included. A longer
// line is rejected like any line of the wrong shape; the conversion passes
// over the rest of it up to its line feed.
constexpr size_t LONGEST = 65535;

// The shortest line that can be accepted: 8 separators, 6 quotes, 2
// brackets and its line feed. A block of n bytes holds at most n / SHORTEST
// accepted lines.
constexpr size_t SHORTEST = 17;

// The most bytes the conversion asks for with one read; a decoder on its
// own thread decodes as many ahead.
constexpr size_t BLOCK = 1 << 20;

// The most bytes a block holds: a read of BLOCK bytes after the line that
// the block before cut, which has at most LONGEST (1 MiB + 64 KiB).
constexpr size_t MOST = BLOCK + LONGEST + 1;

// The scan is given SLICE bytes of a block at a time, and room to tell as
// many lines.
constexpr size_t SLICE = 4096;

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

#endif
