// The plain scan, kept only as a yardstick for the benchmark: one getc() a
// byte, the whole 64 KiB line buffer cleared after every line, every line
// written as a zero-terminated string, and the spinner turned a line at a
// time. It converts as zettrik does for the logs the benchmark makes; it
// is not a second converter and does not handle overlong lines or zero
// bytes.
//
//   zettrik-plain <quelle.log> <ziel.csv>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "console.h"
#include "scan.h"

int main(int argc, char** argv) {
  if (argc != 3)
    return 2;
  FILE* source = fopen(argv[1], "rb");
  FILE* target = fopen(argv[2], "w+b");
  if (!source || !target)
    return 1;
  char* line = (char*)calloc(65536, 1);
  int length = 0, quotes = 0, brackets = 0, separators = 0, faulty = 0;
  int onscreen = terminal();
  int ch;

  while ((ch = getc(source)) != EOF) {
    if (ch == '"')
      quotes++;
    else if ((ch == '[' || ch == ']') && even(quotes))
      brackets++;
    else if (ch == ' ' && even(quotes) && even(brackets)) {
      separators++;
      ch = ';';
    }
    if (length < 65535)
      line[length++] = (char)ch;
    if (ch == '\n') {
      putchar(rotate());
      if (onscreen)
        gotoxy(0, wherey());
      if (separators == 8 && quotes == 6 && brackets == 2)
        fputs(line, target);
      else
        faulty++;
      brackets = quotes = separators = length = 0;
      memset(line, 0, 65536);
    }
  }
  free(line);
  printf("Fehlerhafte Logfile-Zeilen: %d !!!\n", faulty);
  fclose(source);
  fclose(target);
  return 0;
}
