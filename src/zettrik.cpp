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
#include <vector>

#include "console.h"
#include "convert.h"
#include "files.h"
#include "output.h"
#include "utf8.h"

// MinGW's start-up code splits the command line and expands wildcards in
// the arguments when this variable asks for it; it does not ask. On
// Windows the names come from one split of the command line in
// arguments(), which expands a pattern in the log's place itself.
#ifdef __MINGW32__
extern "C" {
int _dowildcard = 0;
}
#endif

// A name as the messages show it. On a terminal a control character in a
// name is obeyed, not shown: a log named with a carriage return and an
// escape sequence could wipe a FEHLER off the screen and print a summary of
// its own. There every control character is shown as '?': the bytes below
// 0x20 and DEL, and the C1 controls, U+0080 to U+009F (C2 80 to C2 9F) or
// a byte 0x80 to 0x9F outside a valid UTF-8 sequence, which a terminal may
// obey too (0x9B begins a sequence as ESC [ does). Redirected, the name
// stays byte for byte, for the scripts that look for it.
static std::string shown(const pathchar* name) {
  std::string s = utf8(name);
  if (!terminal())
    return s;
  std::string out;
  for (size_t i = 0; i < s.size();) {
    size_t n = sequence((const unsigned char*)&s[i], s.size() - i);
    unsigned char c = s[i];
    bool control = n == 2 ? c == 0xc2 && (unsigned char)s[i + 1] < 0xa0
                          : n <= 1 && (c < 0x20 || c == 0x7f || (c >= 0x80 && c <= 0x9f));
    out += control ? std::string("?") : s.substr(i, n ? n : 1);
    i += n ? n : 1;
  }
  return out;
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

// Whether a target's name asks for a workbook: it ends in .xlsx, in any
// case.
static bool workbookname(const pathname& name) {
  static const char suffix[] = ".xlsx";
  size_t n = sizeof suffix - 1;
  if (name.size() < n)
    return false;
  for (size_t i = 0; i < n; i++) {
    pathchar c = name[name.size() - n + i];
    if ((c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c) != suffix[i])
      return false;
  }
  return true;
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
  std::vector<pathname> names;
  bool usable = arguments(argc, argv, &names);
  std::string self = !names.empty() ? shown(names[0].c_str()) : "zettrik";
  say("Zettrik - EXPERIMENTELLE Version (Build %s %s)\n", __DATE__, __TIME__);
  say("Freie Software der Zettrik-Entwickler, MIT-Lizenz, OHNE JEDE GEWAEHRLEISTUNG.\n");
  if (!usable || names.size() != 3) {
    say("FEHLER:\tAufruf mit Parametern 'Quelldatei' (Logfile) und 'Zieldatei' (CSV-Datei)\n"
        "\t%s <quelle.log> <ziel.csv>\n",
        self.c_str());
    return 0;
  }
  const pathchar* logname = names[1].c_str();
  const pathchar* csvname = names[2].c_str();
  std::string from = shown(logname);
  std::string to = shown(csvname);

  // Both are opened before either is looked at: the target is created or
  // emptied even when the log cannot be read. The scan handles line ends
  // itself, so both are opened in binary mode. The target is emptied only
  // once it is known, as an open file, to be neither the log nor the file
  // that these messages go to. Where the names alone already tell that both
  // are one file, nothing is opened: a FIFO named twice would wait for a
  // writer first.
  source = nullptr;
  target = nullptr;
  int opened = same(logname, csvname) ? ISLOG : UNWRITABLE;
  if (opened != ISLOG) {
    source = openread(logname);
    opened = openwrite(csvname, logname, source, &target);
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

  // A target named .xlsx becomes a workbook, and every other the CSV. The
  // workbook is made whenever its file opened, also of no rows where the
  // log cannot be read: a file of no bytes under that name opens nowhere.
  // The messages keep their words, "CSV-Datei" included: scripts look for
  // them.
  output out = {target, nullptr, 0};
  bool unmade = false;  // the workbook could not be made whole
  if (target) {
    // Where the conversion writes through stdio, it hands over runs of lines
    // a few kilobytes long; a large buffer turns them into few large writes.
    // (Some run-times ignore the size unless they are also given the buffer.)
    outbuf = (char*)malloc(1 << 20);
    if (outbuf)
      setvbuf(target, outbuf, _IOFBF, 1 << 20);
    if (workbookname(names[2]))
      unmade = (out.book = newbook(target)) == nullptr;
  }
  if (source && target) {
    say("Konvertiere Logfile '%s' nach CSV-Datei '%s':\n\n", from.c_str(), to.c_str());
    // A compressed log is decoded as it is read; without the memory for
    // that, it counts as a log that cannot be read.
    input in;
    int64_t faulty = 0;
    if (start(&in, fileno(source)))
      faulty = convert(&in, &out, &unread);
    else
      unread = true;
    finish(&in);
    say("Fehlerhafte Logfile-Zeilen: %" PRId64 " !!!\n", faulty);
  }
  if (out.book && !endbook(out.book, out.rows))
    unmade = true;

  if (source == nullptr || unread)
    say("\nFEHLER:\tKann Quelldatei '%s' (Logfile) nicht lesen!\n", from.c_str());
  if (source)
    fclose(source);

  // A full disk shows only here: in the error flag of the buffered writes, or
  // in the flush of their last buffer when the file is closed.
  bool unwritten = target == nullptr || ferror(target) || unmade;
  if (target && fclose(target) != 0)
    unwritten = true;
  if (unwritten)
    say("\nFEHLER:\tKann Zieldatei '%s' (CSV-Datei) nicht schreiben!\n", to.c_str());
  free(outbuf);
  return 0;
}
