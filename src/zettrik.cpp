// Zettrik: the command line and the run.
//
//   zettrik <quelle.log> <ziel.csv>
//
// Every message goes to standard output, and the exit status is 0 whatever
// happened: a failure is told by its message, which always begins with
// "FEHLER:". The run goes on after a failure to its orderly end, closing what
// it opened.
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>

#include "zettrik.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <sys/stat.h>
#endif

// MinGW's start-up code expands wildcards in the arguments, as is the custom
// on Windows, only when asked to by this variable; with MSVC, linking
// setargv.obj does the same. A pattern that matches several files thus gives
// more than two arguments, and the usage message.
#ifdef __MINGW32__
extern "C" {
int _dowildcard = -1;
}
#endif

static int same(const char* a, const char* b);
static FILE* openlog(const char* path);

int main(int argc, char** argv) {
  const char* self = argc > 0 && argv[0] ? argv[0] : "zettrik";
  FILE* source;
  FILE* target;
  int unread = 0;
  char* outbuf = NULL;

  printf("Zettrik - EXPERIMENTELLE Version (Build %s %s)\n", __DATE__, __TIME__);
  printf("Freie Software der Zettrik-Entwickler, MIT-Lizenz, OHNE JEDE GEWAEHRLEISTUNG.\n");
  if (argc != 3) {
    printf("FEHLER:\tAufruf mit Parametern 'Quelldatei' (Logfile) und 'Zieldatei' (CSV-Datei)\n"
           "\t%s <quelle.log> <ziel.csv>\n",
           self);
    return 0;
  }
  // Opening the target empties it; were it the log itself, the log would be
  // lost before its first byte is read.
  if (same(argv[1], argv[2])) {
    printf("\nFEHLER:\tZieldatei '%s' (CSV-Datei) ist die Quelldatei '%s' (Logfile)!\n",
           argv[2], argv[1]);
    return 0;
  }

  // Both are opened before either is looked at: the target is created or
  // emptied even when the log cannot be read. The scan handles line ends
  // itself, so both are opened in binary mode.
  source = openlog(argv[1]);
  target = fopen(argv[2], "w+b");

  if (source && target) {
    // Where the conversion writes through stdio, it hands over runs of lines
    // a few kilobytes long; a large buffer turns them into few large writes.
    // (Some run-times ignore the size unless they are also given the buffer.)
    outbuf = (char*)malloc(1 << 20);
    if (outbuf)
      setvbuf(target, outbuf, _IOFBF, 1 << 20);
    printf("Konvertiere Logfile '%s' nach CSV-Datei '%s':\n\n", argv[1], argv[2]);
    int64_t faulty = convert(source, target, &unread);
    printf("Fehlerhafte Logfile-Zeilen: %" PRId64 " !!!\n", faulty);
  }

  if (source == NULL || unread)
    printf("\nFEHLER:\tKann Quelldatei '%s' (Logfile) nicht lesen!\n", argv[1]);
  if (source)
    fclose(source);

  // A full disk shows only here: in the error flag of the buffered writes, or
  // in the flush of their last buffer when the file is closed.
  int unwritten = target == NULL || ferror(target);
  if (target && fclose(target) != 0)
    unwritten = 1;
  if (unwritten)
    printf("\nFEHLER:\tKann Zieldatei '%s' (CSV-Datei) nicht schreiben!\n", argv[2]);
  free(outbuf);
  return 0;
}

// Whether the two paths name one existing file, under whatever names: the
// same path, a relative and an absolute one, a hard or a symbolic link. A
// path that does not exist yet names no file.
static int same(const char* a, const char* b) {
#ifdef _WIN32
  // Windows has no inode in its stat; a file is known by the serial number
  // of its volume and its index there.
  BY_HANDLE_FILE_INFORMATION fa, fb;
  HANDLE ha = CreateFileA(a, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
  HANDLE hb = CreateFileA(b, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
  int result = ha != INVALID_HANDLE_VALUE && hb != INVALID_HANDLE_VALUE &&
               GetFileInformationByHandle(ha, &fa) && GetFileInformationByHandle(hb, &fb) &&
               fa.dwVolumeSerialNumber == fb.dwVolumeSerialNumber &&
               fa.nFileIndexHigh == fb.nFileIndexHigh && fa.nFileIndexLow == fb.nFileIndexLow;
  if (ha != INVALID_HANDLE_VALUE)
    CloseHandle(ha);
  if (hb != INVALID_HANDLE_VALUE)
    CloseHandle(hb);
  return result;
#else
  struct stat sa, sb;
  return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
#endif
}

// Opens the log for reading. A folder opens on some systems but cannot be
// read as a log, so it counts as a log that cannot be opened.
static FILE* openlog(const char* path) {
  FILE* f = fopen(path, "rb");
#ifndef _WIN32
  struct stat st;
  if (f && fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
    fclose(f);
    f = NULL;
  }
#endif
  return f;
}
