// The causes of failures in German, from a small table of the program's
// own: the system's texts would need a locale, come in the system's
// language, and differ between C libraries.
#include "cause.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#if __has_include(<zlib.h>)
#include <zlib.h>
#define ZETTRIK_ZLIBCODES
#endif
#ifdef ZETTRIK_ZSTD
#include <zstd_errors.h>
#endif
#ifdef ZETTRIK_XZ
#include <lzma.h>
#endif
#ifdef ZETTRIK_BZIP2
#include <bzlib.h>
#endif
#ifdef ZETTRIK_SQLITE
#include <sqlite3.h>
#endif

cause because(int kind, int err) {
  return cause{kind, err, false, nullptr, 0};
}

void note(cause* into, const cause& c) {
  if (c.kind != NONE && (into->kind == NONE || into->kind == UNKNOWN))
    *into = c;
}

// --- From codes to causes --------------------------------------------------

cause fromerrno(int err) {
  return err == ENOMEM ? because(NOMEMORY) : because(SYSTEM, err);
}

// Windows error codes by their values, which are fixed for good, so that
// this table and its words build and are tested on every system.
enum : unsigned long {
  WINNOMEMORY = 8,      // ERROR_NOT_ENOUGH_MEMORY
  WINOUTOFMEMORY = 14,  // ERROR_OUTOFMEMORY
  WINSHARING = 32,      // ERROR_SHARING_VIOLATION
  WINLOCK = 33,         // ERROR_LOCK_VIOLATION
};

// Another program that holds the file open, without sharing it or with a
// lock on a part of it, is said of the file it holds.
cause fromwindows(unsigned long err, bool log) {
  if (err == WINSHARING || err == WINLOCK)
    return because(log ? HELD : INUSE);
  if (err == WINNOMEMORY || err == WINOUTOFMEMORY)
    return because(NOMEMORY);
  cause c = because(SYSTEM, (int)err);
  c.win = true;
  return c;
}

#ifdef ZETTRIK_SQLITE
// The system's error where a call of the system failed, and SQLite's own
// words (ASCII) otherwise. A lock that another connection holds is another
// program or run that has the file open.
cause fromsqlite(int rc, int err, bool win, const char* words) {
  switch (rc & 0xff) {
    case SQLITE_NOMEM:
      return because(NOMEMORY);
    case SQLITE_FULL:
      return win ? fromwindows(112) : because(SYSTEM, ENOSPC);  // ERROR_DISK_FULL
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return because(INUSE);
    case SQLITE_NOTADB:
      return because(FOREIGN);
    default:
      break;
  }
  if (err != 0)
    return win ? fromwindows((unsigned long)err) : fromerrno(err);
  cause c = because(DATABASE);
  c.format = words;
  return c;
}
#endif

#ifdef ZETTRIK_ZLIBCODES
int fromzlib(int r) {
  return r == Z_MEM_ERROR ? NOMEMORY : 0;
}
#endif

#ifdef ZETTRIK_ZSTD
int fromzstd(int code) {
  switch (code) {
    case ZSTD_error_memory_allocation:
    case ZSTD_error_workSpace_tooSmall:
      return NOMEMORY;
    case ZSTD_error_frameParameter_windowTooLarge:
      return WINDOW;
    case ZSTD_error_checksum_wrong:
      return CHECKSUM;
    case ZSTD_error_prefix_unknown:
      return TRAILING;
    default:
      return 0;
  }
}
#endif

#ifdef ZETTRIK_XZ
int fromlzma(int r) {
  switch (r) {
    case LZMA_MEM_ERROR:
      return NOMEMORY;
    case LZMA_MEMLIMIT_ERROR:
      return DICTIONARY;
    case LZMA_FORMAT_ERROR:
      return TRAILING;
    default:
      return 0;
  }
}
#endif

#ifdef ZETTRIK_BZIP2
int frombzip2(int r) {
  return r == BZ_MEM_ERROR ? NOMEMORY : r == BZ_DATA_ERROR_MAGIC ? TRAILING : 0;
}
#endif

// --- The words --------------------------------------------------------------

// The error numbers a user meets, in the words a user knows.
struct worded {
  int err;
  const char* text;
};

static const worded words[] = {
    {ENOSPC, "Kein Platz mehr auf dem Datentraeger"},
#ifdef EDQUOT
    {EDQUOT, "Das Speicherkontingent ist erschoepft"},
#endif
    {EACCES, "Zugriff verweigert"},
    {EPERM, "Zugriff verweigert"},
    {ENOENT, "Datei oder Ordner nicht gefunden"},
    {ENOTDIR, "Ein Teil des Pfades ist kein Ordner"},
    {EISDIR, "Der Name ist ein Ordner"},
    {EROFS, "Das Dateisystem ist nur lesbar"},
    {EFBIG, "Die Datei wird groesser als erlaubt"},
    {EIO, "Ein-/Ausgabefehler des Datentraegers"},
    {EPIPE, "Das Programm am anderen Ende der Pipe ist beendet"},
    {ENOMEM, "Nicht genug Arbeitsspeicher"},
    {ENAMETOOLONG, "Der Name ist zu lang"},
#ifdef ELOOP
    {ELOOP, "Zu viele symbolische Links im Pfad"},
#endif
    {EMFILE, "Zu viele offene Dateien"},
    {ENFILE, "Zu viele offene Dateien im System"},
    {EBUSY, "Die Datei ist belegt"},
    {ENXIO, "Das Geraet ist nicht erreichbar"},
    {ENODEV, "Das Geraet ist nicht erreichbar"},
    {EINVAL, "Ungueltiger Name oder ungueltige Datei"},
    {EAGAIN, "Die Datei ist voruebergehend nicht verfuegbar"},
    {EINTR, "Unterbrochen"},
#ifdef ETXTBSY
    {ETXTBSY, "Die Datei ist ein laufendes Programm"},
#endif
};

// The Windows errors a user meets, by their values (above).
static const worded windows[] = {
    {2, "Datei oder Ordner nicht gefunden"},                          // FILE_NOT_FOUND
    {3, "Datei oder Ordner nicht gefunden"},                          // PATH_NOT_FOUND
    {4, "Zu viele offene Dateien"},                                   // TOO_MANY_OPEN_FILES
    {5, "Zugriff verweigert"},                                        // ACCESS_DENIED
    {6, "Das Geraet ist nicht erreichbar"},                           // INVALID_HANDLE
    {15, "Das Laufwerk gibt es nicht"},                               // INVALID_DRIVE
    {19, "Der Datentraeger ist schreibgeschuetzt"},                   // WRITE_PROTECT
    {21, "Das Laufwerk ist nicht bereit (Datentraeger entfernt?)"},   // NOT_READY
    {23, "Ein-/Ausgabefehler des Datentraegers"},                     // CRC
    {32, "Die Datei ist von einem anderen Programm geoeffnet"},       // SHARING_VIOLATION
    {33, "Ein anderes Programm hat einen Teil der Datei gesperrt"},   // LOCK_VIOLATION
    {39, "Kein Platz mehr auf dem Datentraeger"},                     // HANDLE_DISK_FULL
    {53, "Der Netzwerkpfad wurde nicht gefunden"},                    // BAD_NETPATH
    {59, "Fehler im Netzwerk"},                                       // UNEXP_NET_ERR
    {64, "Die Netzwerkverbindung ist abgebrochen"},                   // NETNAME_DELETED
    {67, "Die Netzwerkfreigabe wurde nicht gefunden"},                // BAD_NET_NAME
    {112, "Kein Platz mehr auf dem Datentraeger"},                    // DISK_FULL
    {123, "Ungueltiger Name oder ungueltige Datei"},                  // INVALID_NAME
    {206, "Der Name ist zu lang"},                                    // FILENAME_EXCED_RANGE
    {267, "Ein Teil des Pfades ist kein Ordner"},                     // DIRECTORY
    {1117, "Ein-/Ausgabefehler des Datentraegers"},                   // IO_DEVICE
    {1224, "Die Datei ist in den Speicher eines Programms geladen"},  // USER_MAPPED_FILE
};

static const char* look(const struct worded* table, size_t n, int err) {
  for (size_t i = 0; i < n; i++)
    if (table[i].err == err)
      return table[i].text;
  return nullptr;
}

// A number with dots between groups of three digits, as German writes it:
// 1234567 as 1.234.567.
static void grouped(char* out, int64_t n) {
  char digits[24];
  int k = snprintf(digits, sizeof digits, "%lld", (long long)(n < 0 ? 0 : n));
  for (int i = 0; i < k; i++) {
    if (i > 0 && (k - i) % 3 == 0)
      *out++ = '.';
    *out++ = digits[i];
  }
  *out = '\0';
}

// The cause in words into out, which has room for n bytes. Written without
// allocating: a cause may be that there is no memory.
static void worded(const cause& c, char* out, size_t n) {
  const char* f = c.format ? c.format : "komprimierten";
  char at[32];
  grouped(at, c.at);
  switch (c.kind) {
    case SYSTEM: {
      const char* text = c.win ? look(windows, sizeof windows / sizeof *windows, c.err)
                               : look(words, sizeof words / sizeof *words, c.err);
      if (text)
        snprintf(out, n, "%s", text);
      else
        snprintf(out, n, "%s Nr. %d", c.win ? "Windows-Fehler" : "Systemfehler", c.err);
      return;
    }
    case NOMEMORY:
      snprintf(out, n, "Nicht genug Arbeitsspeicher");
      return;
    case LOCKED:
      snprintf(out, n, "Die Zieldatei wird von einem anderen Lauf geschrieben");
      return;
    case INUSE:
      snprintf(out, n, "Die Zieldatei ist von einem anderen Programm oder Lauf geoeffnet");
      return;
    case HELD:
      snprintf(out, n, "Das Logfile ist von einem anderen Programm geoeffnet");
      return;
    case UNIXSOCKET:
      snprintf(out, n, "Der Name ist ein Socket, keine Datei");
      return;
    case TRUNCATED:
      snprintf(out, n,
               "Das Logfile wurde waehrend des Lesens kuerzer; %s Bytes waren schon gelesen", at);
      return;
    case NOTREAD:
      snprintf(out, n, "Das Logfile ist mit %s komprimiert; dieses Format liest Zettrik nicht", f);
      return;
    case NOTBUILT:
      snprintf(out, n,
               "Das Logfile ist mit %s komprimiert; dieses Programm ist ohne %s gebaut und liest "
               "es nicht",
               f, f);
      return;
    case TWICE:
      snprintf(out, n, "Die entpackten %s-Daten sind noch einmal komprimiert", f);
      return;
    case CUTMAGIC:
      snprintf(out, n, "Das Logfile endet nach %s Bytes, mitten in der Kennung von %s", at, f);
      return;
    case CORRUPT:
      snprintf(out, n, "Beschaedigte %s-Daten nach %s Bytes des Logfiles", f, at);
      return;
    case CHECKSUM:
      snprintf(out, n, "Beschaedigte %s-Daten (Pruefsumme falsch) nach %s Bytes des Logfiles", f,
               at);
      return;
    case CUTSHORT:
      snprintf(out, n, "Die %s-Daten enden vorzeitig, nach %s Bytes des Logfiles", f, at);
      return;
    case TRAILING:
      snprintf(out, n, "Unbekannte Daten nach dem Ende der %s-Daten, nach %s Bytes des Logfiles", f,
               at);
      return;
    case WINDOW:
      snprintf(out, n, "Der zstd-Rahmen verlangt ein Fenster ueber 128 MiB");
      return;
    case DICTIONARY:
      snprintf(out, n, "Die %s-Daten verlangen ein Woerterbuch ueber 256 MiB", f);
      return;
    case NOTFILE:
      snprintf(out, n,
               "Eine Datenbank braucht eine gewoehnliche Datei, keine Pipe und kein Geraet");
      return;
    case DATABASE:
      snprintf(out, n, "SQLite meldet: %s", c.format ? c.format : "unbekannter Fehler");
      return;
    case NODATABASE:
      snprintf(out, n, "Dieses Programm ist ohne SQLite gebaut und schreibt keine Datenbanken");
      return;
    case FOREIGN:
      snprintf(out, n,
               "Die Datei enthaelt andere Daten als die Tabelle zugriffe; bitte einen anderen "
               "Namen waehlen oder die Datei zuerst loeschen");
      return;
    case ELSEWHERE:
      snprintf(out, n,
               "Der Name fuehrte SQLite zu einer anderen Datei als der geprueften; bitte einen "
               "anderen Namen waehlen");
      return;
    case INTERRUPTED:
      snprintf(out, n, "%s",
               c.err == BYCTRLC   ? "Der Lauf wurde mit Strg+C abgebrochen"
               : c.err == BYTERM  ? "Der Lauf wurde mit dem Signal SIGTERM beendet"
               : c.err == BYHUP   ? "Das Terminal wurde geschlossen (SIGHUP)"
               : c.err == BYBREAK ? "Der Lauf wurde mit Strg+Pause abgebrochen"
               : c.err == BYCLOSE ? "Das Konsolenfenster wurde geschlossen"
                                  : "Windows meldet ab oder faehrt herunter");
      return;
    default:
      snprintf(out, n, "Unbekannt");
  }
}

void reason(const cause& c, char* out, size_t n) {
  int k = snprintf(out, n, "\tGrund: ");
  if (k > 0 && (size_t)k < n)
    worded(c, out + k, n - (size_t)k);
  size_t end = strlen(out);
  if (end + 1 < n) {
    out[end] = '\n';
    out[end + 1] = '\0';
  }
}
