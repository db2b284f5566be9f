// The causes of failures in German, from a small table of the program's
// own: the system's texts would need a locale, come in the system's
// language, and differ between C libraries.
#include "cause.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

cause because(int kind, int err) {
  return cause{kind, err, false, nullptr, 0};
}

void note(cause* into, const cause& c) {
  if (c.kind != NONE && (into->kind == NONE || into->kind == UNKNOWN))
    *into = c;
}

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
};

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
    case SYSTEM:
      if (!c.win)
        for (const struct worded& w : words)
          if (w.err == c.err) {
            snprintf(out, n, "%s", w.text);
            return;
          }
      snprintf(out, n, "%s Nr. %d", c.win ? "Windows-Fehler" : "Systemfehler", c.err);
      return;
    case NOMEMORY:
      snprintf(out, n, "Nicht genug Arbeitsspeicher");
      return;
    case LOCKED:
      snprintf(out, n, "Die Zieldatei wird von einem anderen Lauf geschrieben");
      return;
    case INUSE:
      snprintf(out, n, "Die Zieldatei ist von einem anderen Programm oder Lauf geoeffnet");
      return;
    case TRUNCATED:
      snprintf(out, n, "Das Logfile wurde beim Lesen gekuerzt, nach %s Bytes", at);
      return;
    case NOTREAD:
      snprintf(out, n, "Das Logfile ist mit %s komprimiert; dieses Format liest Zettrik nicht", f);
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
