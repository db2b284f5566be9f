// Zettrik: the command line and the run.
//
//   zettrik <quelle.log> <ziel.csv>
//
// Every message goes to standard output, and the exit status is 0 whatever
// happened: a failure is told by its message, which always begins with
// "FEHLER:". The run goes on after a failure to its orderly end, closing what
// it opened.
#include <errno.h>
#include <inttypes.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include <new>
#include <string>
#include <vector>

#include "cause.h"
#include "console.h"
#include "convert.h"
#include "files.h"
#include "memory.h"
#include "output.h"
#include "stop.h"
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
// how the screen takes names. Written without allocating where it fits the
// buffer here, as every message does whose names are not long: one may
// tell that there is no memory.
static void say(const char* format, ...) {  // NOLINT(cert-dcl50-cpp): printf's own form
  char line[2048];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n < 0)
    return;
  if ((size_t)n < sizeof line) {
    show(line);
    return;
  }
  char* text = (char*)malloc((size_t)n + 1);
  if (text == nullptr) {
    show(line);  // cut short rather than left out
    return;
  }
  va_start(args, format);
  vsnprintf(text, (size_t)n + 1, format, args);
  va_end(args);
  show(text);
  free(text);
}

// The line with a failure's cause, told right after its FEHLER message.
static void tell(const cause& why) {
  char line[REASON];
  reason(why, line, sizeof line);
  say("%s", line);
}

// Where the usage message sends a user: the manual page on Linux, the
// manual as HTML beside the program on Windows, as the zip holds it.
#ifdef _WIN32
static const char MANUAL[] = "Anleitung: zettrik.html neben zettrik.exe";
#else
static const char MANUAL[] = "Anleitung: man zettrik";
#endif

// The kind of output that a target's name asks for: the first in the
// table whose suffix ends it, the table's last where none does.
static const sink* kind(const pathchar* name) {
  for (int i = 0; i < SINKS - 1; i++)
    for (const char* const* suffix = sinks[i]->suffixes; *suffix; suffix++)
      if (named(name, *suffix))
        return sinks[i];
  return sinks[SINKS - 1];
}

// The run, once the names are known.
static void run(const std::vector<pathname>& names) {
  FILE* source;
  FILE* target;
  const pathchar* logname = names[1].c_str();
  const pathchar* csvname = names[2].c_str();
  std::string from = shown(logname);
  std::string to = shown(csvname);
  // Should the run have to end at once for want of memory (memory.h), what
  // has not been written is the target's failure.
  char last[1024];
  snprintf(last, sizeof last,
           "\nFEHLER:\tKann Zieldatei '%s' (CSV-Datei) nicht schreiben!\n\tGrund: Nicht genug "
           "Arbeitsspeicher\n",
           to.c_str());
  lastwords(last);

  // Both are opened before either is looked at: the target is created or
  // emptied even when the log cannot be read. The scan handles line ends
  // itself, so both are opened in binary mode. The target is emptied only
  // once it is known, as an open file, to be neither the log nor the file
  // that these messages go to. Where the names alone already tell that both
  // are one file, nothing is opened: a FIFO named twice would wait for a
  // writer first.
  //
  // The target's kind follows from its name (output.h): a workbook for
  // .xlsx, a database for .sqlite, .sqlite3 or .db, the CSV for every
  // other. A database must be a file on a disk, and is emptied by its
  // output, which first looks at what the file holds.
  output out = {kind(csvname), nullptr, because(NONE)};
  cause unreadable = because(NONE), unwritable = because(NONE);
  source = nullptr;
  target = nullptr;
  int opened = same(logname, csvname) ? ISLOG : UNWRITABLE;
  if (opened != ISLOG) {
    source = openread(logname, &unreadable);
    opened = openwrite(csvname, logname, source, out.kind->regular, &target, &unwritable);
  }
  if (opened == ISLOG || opened == ISSTDOUT) {
    if (opened == ISLOG)
      say("\nFEHLER:\tZieldatei '%s' (CSV-Datei) ist die Quelldatei '%s' (Logfile)!\n", to.c_str(),
          from.c_str());
    else
      say("\nFEHLER:\tZieldatei '%s' (CSV-Datei) ist die Standardausgabe!\n", to.c_str());
    if (source)
      fclose(source);
    return;
  }

  // The workbook and the database are made whenever their file opened,
  // also of no rows where the log cannot be read: a file of no bytes under
  // that name opens nowhere. Where one cannot be made, nothing is
  // converted. The messages keep their words, "CSV-Datei" included: scripts
  // look for them.
  cause outwhy = because(NONE);
  std::string path = utf8(csvname);  // for SQLite, which opens the file by its name
  if (target)
    out.state = out.kind->open(target, path.c_str(), &outwhy);
  target = nullptr;  // the output's now, or closed
  if (source && out.state) {
    // From here on a request to end the run (Ctrl+C, a signal) ends it in
    // order. While the files were opened it ended the process at once, as
    // it always did: nothing was converted yet, and a database's reset is
    // rolled back by its journal. (Taken over here, after the opens, so
    // that the log and the target get the descriptors a user foresees.)
    catchstops();
    say("Konvertiere Logfile '%s' nach CSV-Datei '%s':\n\n", from.c_str(), to.c_str());
    // A compressed log is decoded as it is read; without the memory for
    // that, it counts as a log that cannot be read.
    input in;
    int64_t faulty = 0;
    if (openlog(&in, fileno(source)))
      faulty = convert(&in, &out);
    if (failed(in.why))
      unreadable = in.why;
    finish(&in);
    say("Fehlerhafte Logfile-Zeilen: %" PRId64 " !!!\n", faulty);
  }
  // The log's failure is told before the target's, also as last words.
  if (source == nullptr || failed(unreadable)) {
    char told[REASON];
    reason(unreadable, told, sizeof told);
    char both[2048];
    if (snprintf(both, sizeof both, "\nFEHLER:\tKann Quelldatei '%s' (Logfile) nicht lesen!\n%s%s",
                 from.c_str(), told, last) > 0)  // cut short where the names are long
      lastwords(both);
  }
  // A full disk may show only here, when the output ends and closes its
  // file, in the write of its last buffer.
  note(&outwhy, out.why);
  if (out.state)
    out.kind->end(out.state, &outwhy);

  if (source == nullptr || failed(unreadable)) {
    say("\nFEHLER:\tKann Quelldatei '%s' (Logfile) nicht lesen!\n", from.c_str());
    tell(unreadable);
  }
  if (source)
    fclose(source);

  if (opened != OPENED || failed(outwhy)) {
    say("\nFEHLER:\tKann Zieldatei '%s' (CSV-Datei) nicht schreiben!\n", to.c_str());
    tell(opened != OPENED ? unwritable : outwhy);
  }
}

// The entry point. Windows hands the arguments over in UTF-16 to wmain (the
// program is linked with -municode); elsewhere they are bytes.
#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
#else
int main(int argc, char** argv) {
#endif
  prepare();
  bool reserved = keepreserve();
  say("Zettrik - EXPERIMENTELLE Version (Build %s %s)\n", __DATE__, __TIME__);
  // The version from CMake; the line fits a console of 80 columns.
  say("Zettrik " ZETTRIK_VERSION " - Freie Software, MIT-Lizenz, OHNE JEDE GEWAEHRLEISTUNG.\n");
  if (!reserved) {  // not even that: nothing is opened
    saylast();
    return 0;
  }
  std::vector<pathname> names;
  bool usable = arguments(argc, argv, &names);
  // The tool has no options: a first name that begins with a dash and
  // names no file is an option tried, and the target stays as it is.
  if (usable && names.size() == 3 && names[1][0] == '-' && !exists(names[1].c_str()))
    usable = false;
  if (!usable || names.size() != 3) {
    std::string self = !names.empty() ? shown(names[0].c_str()) : "zettrik";
    say("FEHLER:\tAufruf mit Parametern 'Quelldatei' (Logfile) und 'Zieldatei' (CSV-Datei)\n"
        "\t%s <quelle.log> <ziel.csv>\n"
        "\t%s <quelle.log> <ziel.xlsx|ziel.sqlite|ziel.db>\n"
        "\t%s\n",
        self.c_str(), self.c_str(), MANUAL);
    return 0;
  }
  run(names);
  freereserve();
  endstopped();  // an interrupted run ends as the request would have ended it
  return 0;
}
