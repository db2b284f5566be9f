// The spinner: one frame for every line read, held at column 0 of its row.
#include <stdio.h>

#include "console.h"

static const char frames[] = "-\\|/";

// The frame index. It lives as long as the process, so that the frames of
// every call to spin() follow one another. The conversion's two workers call
// spin() one at a time, in the order of their blocks.
static int p;

// Advances the spinner and returns its next frame. As p starts at 0, the
// first frame of a run is the backslash.
int rotate() {
  p++;
  if (p == 4)
    p = 0;
  return frames[p];
}

// Takes one progress step for each of the given lines: draws the next frame
// and puts the cursor back to column 0 of its row, so that the next frame,
// and at last the summary, is written over it. When standard output is no
// terminal the cursor cannot be moved and the frames follow one another, one
// character a line.
//
// On a terminal only the last frame of the block is drawn: the frames
// before it would be overwritten within the same write, before anyone could
// see them, and a terminal that must draw two bytes a line made a run there
// a fifth slower than a redirected one. The index still advances once for
// every line, so the frame left on screen, and the screen at the end, are
// the ones a frame a line would leave; a block is at most MOST bytes, so
// this is a few hundred bytes for a log of a hundred megabytes.
//
// The conversion calls this once a block, when the block is written and
// before its worker waits for the next one, so the flush at the end is what
// lets a slowly growing log show a sign of life within a moment of each line.
void spin(int64_t lines) {
  char buf[4096];
  int n = 0;

  if (lines <= 0)
    return;
  if (terminal()) {
    for (; lines > 1; lines--)
      rotate();
    putchar(rotate());
    gotoxy(0, wherey());
    fflush(stdout);
    return;
  }
  // Elsewhere the frames are only bytes in a file, and a log of empty lines
  // gives one for every byte read: they are written a buffer at a time.
  while (lines > 0) {
    n = lines < (int64_t)sizeof buf ? (int)lines : (int)sizeof buf;
    for (int i = 0; i < n; i++)
      buf[i] = (char)rotate();
    fwrite(buf, 1, n, stdout);
    lines -= n;
  }
}
