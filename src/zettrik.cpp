// Zettrik: the command line and the run.
//
//   zettrik <quelle.log> <ziel.csv>
//
// Every message goes to standard output, and the exit status is 0 whatever
// happened: a failure is told by its message, which always begins with
// "FEHLER:". The run goes on after a failure to its orderly end, closing what
// it opened.
#include <inttypes.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "console.h"
#include "convert.h"
#include "files.h"

// MinGW's start-up code expands wildcards in the arguments, as is the custom
// on Windows, only when asked to by this variable; with MSVC, linking
// wsetargv.obj does the same. A pattern that matches several files thus gives
// more than two arguments, and the usage message.
#ifdef __MINGW32__
extern "C" {
int _dowildcard = -1;
}
#endif

// A name as the messages show it. On a terminal a control byte in a name is
// obeyed, not shown: a log named with a carriage return and an escape
// sequence could wipe a FEHLER off the screen and print a summary of its
// own. There every control byte is shown as '?'. Redirected, the name stays
// byte for byte, for the scripts that look for it.
static std::string shown(const pathchar* name) {
  std::string s = utf8(name);
  if (terminal())
    for (char& ch : s)
      if ((unsigned char)ch < 0x20 || ch == 0x7f)
        ch = '?';
  return s;
}

// Prints a message, formatted as printf() does, through show(), which knows
// how the screen takes names.
static void say(const char* format, ...) {  // NOLINT(cert-dcl50-cpp): printf's own form
  va_list args;
  va_start(args, format);
  int n = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (n < 0)
    return;
  std::string text((size_t)n + 1, '\0');
  va_start(args, format);
  vsnprintf(&text[0], text.size(), format, args);
  va_end(args);
  show(text.c_str());
}

// The entry point. Windows hands the arguments over in UTF-16 to wmain (the
// program is linked with -municode); elsewhere they are bytes.
#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
#else
int main(int argc, char** argv) {
#endif
  FILE* source;
  FILE* target;
  bool unread = false;
  char* outbuf = nullptr;

  prepare();
  std::string self = argc > 0 && argv[0] ? shown(argv[0]) : "zettrik";
  say("Zettrik - EXPERIMENTELLE Version (Build %s %s)\n", __DATE__, __TIME__);
  say("Freie Software der Zettrik-Entwickler, MIT-Lizenz, OHNE JEDE GEWAEHRLEISTUNG.\n");
  if (argc != 3 || !typed()) {
    say("FEHLER:\tAufruf mit Parametern 'Quelldatei' (Logfile) und 'Zieldatei' (CSV-Datei)\n"
        "\t%s <quelle.log> <ziel.csv>\n",
        self.c_str());
    return 0;
  }
  std::string from = shown(argv[1]);
  std::string to = shown(argv[2]);

  // Both are opened before either is looked at: the target is created or
  // emptied even when the log cannot be read. The scan handles line ends
  // itself, so both are opened in binary mode. The target is emptied only
  // once it is known, as an open file, to be neither the log nor the file
  // that these messages go to. Where the names alone already tell that both
  // are one file, nothing is opened: a FIFO named twice would wait for a
  // writer first.
  source = nullptr;
  target = nullptr;
  int opened = same(argv[1], argv[2]) ? ISLOG : UNWRITABLE;
  if (opened != ISLOG) {
    source = openread(argv[1]);
    opened = openwrite(argv[2], source, &target);
  }
  if (opened == ISLOG || opened == ISSTDOUT) {
    if (opened == ISLOG)
      say("\nFEHLER:\tZieldatei '%s' (CSV-Datei) ist die Quelldatei '%s' (Logfile)!\n", to.c_str(),
          from.c_str());
    else
      say("\nFEHLER:\tZieldatei '%s' (CSV-Datei) ist die Standardausgabe!\n", to.c_str());
    if (source)
      fclose(source);
    return 0;
  }

  if (source && target) {
    // Where the conversion writes through stdio, it hands over runs of lines
    // a few kilobytes long; a large buffer turns them into few large writes.
    // (Some run-times ignore the size unless they are also given the buffer.)
    outbuf = (char*)malloc(1 << 20);
    if (outbuf)
      setvbuf(target, outbuf, _IOFBF, 1 << 20);
    say("Konvertiere Logfile '%s' nach CSV-Datei '%s':\n\n", from.c_str(), to.c_str());
    // A log compressed with gzip is inflated as it is read; without the
    // memory for that, it counts as a log that cannot be read.
    input in;
    int64_t faulty = 0;
    if (start(&in, fileno(source)))
      faulty = convert(&in, target, &unread);
    else
      unread = true;
    finish(&in);
    say("Fehlerhafte Logfile-Zeilen: %" PRId64 " !!!\n", faulty);
  }

  if (source == nullptr || unread)
    say("\nFEHLER:\tKann Quelldatei '%s' (Logfile) nicht lesen!\n", from.c_str());
  if (source)
    fclose(source);

  // A full disk shows only here: in the error flag of the buffered writes, or
  // in the flush of their last buffer when the file is closed.
  bool unwritten = target == nullptr || ferror(target);
  if (target && fclose(target) != 0)
    unwritten = true;
  if (unwritten)
    say("\nFEHLER:\tKann Zieldatei '%s' (CSV-Datei) nicht schreiben!\n", to.c_str());
  free(outbuf);
  return 0;
}
