// The database: where the accepted lines go when the target's name ends in
// .sqlite, .sqlite3 or .db. Each line becomes a row of the table zugriffe,
// written through the SQLite library, with the number of its line in the
// log as its key, so that a row leads back to its line and the gaps are the
// lines left out. The fields follow the workbook's rules (cells.h): quotes
// taken off, Status and Bytes integers where they are plain ones, the time
// in the form SQLite's date functions read where it has the form servers
// write, and the bytes of the log as UTF-8 text, nothing escaped.
//
// The inserts are the work that cannot be shared: one table, one writer.
// Everything else is done before a block's turn comes, on the worker that
// read it: the fields split, their text made UTF-8, the numbers parsed and
// the time rewritten, so that the turn only binds and steps.
//
// The file is another program's until shown to be ours. SQLite opens it
// and takes its own lock on it, exclusive and for the whole run, before
// anything else is done: a reader or a writer that holds it makes the run
// refuse it there, with the file as it was. Under that lock the file is
// looked at, and replaced only where it is empty or a database whose only
// table is zugriffe (with the indexes, triggers and views a user may have
// added, and SQLite's own tables); a file of another application is left
// as it is. It is emptied by SQLite's own reset, never cut beneath it.
//
// The load is committed in steps, every STEP bytes of the log or every
// PAUSE, with SQLite's rollback journal: a run that is killed leaves a
// database that opens, with the rows up to its last commit (and a journal
// beside it, which the next open rolls back). Pages appended to the file
// need no journal, so a step costs a few pages. There is no syncing, for
// speed: a power loss in the middle of a run may still damage the file.
// Pages are of 64 KiB, and the page cache is held to 8 MiB; rows go in in
// the order of their keys, so only the right edge of the tree is touched.
// Changes to the insert loop are measured with the benchmark's database
// row.
#include <errno.h>
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <chrono>
#include <new>
#include <string>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>
#endif

#include "buffer.h"
#include "cells.h"
#include "output.h"

// A row's values: its key, the numbers, and each other field's text as a
// piece of the part's text.
struct record {
  int64_t line;             // in the block, from 1
  int64_t numbers[2];       // Status and Bytes, where integer says so
  uint32_t at[FIELDS];      // the start of a field's text
  uint32_t length[FIELDS];  // and its bytes
  bool integer[FIELDS];
};

struct basepart {
  rowset rows;    // the block's rows
  int64_t lines;  // of the log, in the block
  size_t bytes;   // of the log, in the block
  buffer text;
  buffer records;  // of record
  size_t count;
  bool failed;  // no memory: the block is not whole
};

typedef std::chrono::steady_clock timer;

struct database {
  FILE* file;  // the run's own handle on the file it checked, kept to the end
  sqlite3* db;
  sqlite3_stmt* insert;
  int64_t lines;           // of the log, in the blocks written so far
  int64_t uncommitted;     // bytes of the log inserted since the last commit
  timer::time_point last;  // of the last commit
  cause why;               // the first failure
  bool failed;             // a part could not be made whole
};

// How often the load is committed: every 64 MiB of the log, or every two
// seconds for a log that comes slowly. A commit writes a few pages and a
// journal's header; at 64 MiB a 500 MB log is committed eight times.
constexpr int64_t STEP = (int64_t)64 << 20;
constexpr auto PAUSE = std::chrono::seconds(2);

// Integers stay integers in status and bytes, and text stays text, as the
// columns have no type: a column typed INTEGER would turn the text 0123
// into 123.
static const char TABLE[] =
    "CREATE TABLE zugriffe (zeile INTEGER PRIMARY KEY, adresse TEXT, identitaet TEXT, "
    "benutzer TEXT, zeit TEXT, anfrage TEXT, status, bytes, verweis TEXT, browser TEXT)";
static const char* const setup[] = {
    "PRAGMA synchronous = OFF",
    "PRAGMA cache_size = -8192",
    "BEGIN",
    TABLE,
};

// The schema of a file this program may replace: nothing but the table
// zugriffe, what a user may have built on it, and SQLite's own tables (the
// statistics of ANALYZE). Counts what else there is.
static const char OTHERS[] =
    "SELECT count(*) FROM sqlite_schema WHERE NOT ("
    "(type = 'table' AND (name = 'zugriffe' OR name LIKE 'sqlite\\_%' ESCAPE '\\')) OR "
    "(type IN ('index', 'trigger') AND tbl_name = 'zugriffe') OR type = 'view')";

static const char INSERT[] = "INSERT INTO zugriffe VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

// What a result of SQLite other than success means to a user (the causes
// unit says it): with the system's error where a call of the system failed.
// SQLite keeps that error for the connection, and, where a file's call
// failed that the connection did not record (a write past the limit on a
// file's size), for the file.
static cause failure(sqlite3* db, int rc) {
  int err = db ? sqlite3_system_errno(db) : 0;
  if (db && err == 0)
    sqlite3_file_control(db, "main", SQLITE_FCNTL_LAST_ERRNO, &err);
#ifdef _WIN32
  bool win = true;  // SQLite's Windows layer keeps GetLastError()
#else
  bool win = false;
#endif
  return fromsqlite(rc, err, win, sqlite3_errstr(rc));
}

// Runs one statement, false with *why noted where it fails. The system's
// error is read before the statement is finalized, which forgets it.
static bool run(sqlite3* db, const char* sql, cause* why) {
  sqlite3_stmt* s = nullptr;
  int rc = sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
  if (rc == SQLITE_OK) {
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    }
  }
  if (rc != SQLITE_OK && rc != SQLITE_DONE)
    note(why, failure(db, rc));
  sqlite3_finalize(s);
  return rc == SQLITE_OK || rc == SQLITE_DONE;
}

// The first column of the first row of a query, as text into out (n bytes);
// false with *why noted where it fails.
static bool ask(sqlite3* db, const char* sql, char* out, size_t n, cause* why) {
  sqlite3_stmt* s = nullptr;
  int rc = sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
  out[0] = '\0';
  if (rc == SQLITE_OK && (rc = sqlite3_step(s)) == SQLITE_ROW) {
    const unsigned char* v = sqlite3_column_text(s, 0);
    snprintf(out, n, "%s", v ? (const char*)v : "");
    rc = SQLITE_OK;
  }
  if (rc != SQLITE_OK && rc != SQLITE_DONE)
    note(why, failure(db, rc));
  sqlite3_finalize(s);
  return rc == SQLITE_OK || rc == SQLITE_DONE;
}

// Whether SQLite opened the file that the run checked, the one its own
// handle holds: a name can come to mean another file between two opens, and
// a name can reach SQLite spelt otherwise (on Windows, an unpaired UTF-16
// surrogate comes out of the conversion to UTF-8 as U+FFFD). On POSIX the
// file is known by its name once more, now that SQLite holds its lock; on
// Windows SQLite hands over its own handle.
static bool checked(database* d, const char* path) {
#ifdef _WIN32
  (void)path;
  HANDLE theirs = nullptr;
  if (sqlite3_file_control(d->db, "main", SQLITE_FCNTL_WIN32_GET_HANDLE, &theirs) != SQLITE_OK)
    return false;
  BY_HANDLE_FILE_INFORMATION a, b;
  return GetFileInformationByHandle((HANDLE)_get_osfhandle(_fileno(d->file)), &a) &&
         GetFileInformationByHandle(theirs, &b) &&
         a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
#else
  struct stat a, b;
  return fstat(fileno(d->file), &a) == 0 && stat(path, &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
#endif
}

// Makes the file this run's: SQLite's exclusive lock, held to the end of
// the run, then the look at what the file holds, then the reset. Where any
// step fails the file is as it was, but for a journal of another program's
// that SQLite rolls back as it opens, as every program using SQLite would.
static bool claim(database* d, const char* path, cause* why) {
  sqlite3* db = d->db;
  char mode[16], others[24];
  if (!run(db, "PRAGMA locking_mode = EXCLUSIVE", why) || !run(db, "BEGIN EXCLUSIVE", why))
    return false;
  if (!checked(d, path)) {
    note(why, because(ELSEWHERE));
    return false;
  }
  if (!ask(db, "PRAGMA journal_mode", mode, sizeof mode, why) ||
      !ask(db, OTHERS, others, sizeof others, why))
    return false;
  if (strcmp(others, "0") != 0) {
    note(why, because(FOREIGN));
    return false;
  }
  // The lock stays through the commit (exclusive locking mode). A database
  // in WAL mode leaves it here; its shared-memory file, of no use to anyone
  // while the lock is held and none at all once the mode is left, goes too.
  if (!run(db, "COMMIT", why) || !run(db, "PRAGMA journal_mode = DELETE", why))
    return false;
  if (strcmp(mode, "wal") == 0)
    remove((std::string(path) + "-shm").c_str());
  // SQLite's own way to empty a database: the reset, carried out by VACUUM,
  // which also gives the new file its page size.
  bool reset = run(db, "PRAGMA page_size = 65536", why) &&
               sqlite3_db_config(db, SQLITE_DBCONFIG_RESET_DATABASE, 1, nullptr) == SQLITE_OK &&
               run(db, "VACUUM", why);
  sqlite3_db_config(db, SQLITE_DBCONFIG_RESET_DATABASE, 0, nullptr);
  return reset;
}

static void* openbase(FILE* file, const char* path, cause* why) {
  // Without counting its allocations, SQLite takes no lock of its own for
  // each; the call is refused, and changes nothing, once it runs.
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  void* room = malloc(sizeof(database));
  if (room == nullptr) {
    note(why, because(NOMEMORY));
    if (file)
      fclose(file);
    return nullptr;
  }
  database* d =
      new (room) database{file, nullptr, nullptr, 0, 0, timer::now(), because(NONE), false};
  // The file is the one of the name given, as for every target: SQLite
  // reads a name that begins with "file:" as a URI where its build says so
  // (Debian's does), and "./" before it keeps it a name. The file exists
  // (the run made it), and is not made anew should the name have gone
  // meanwhile. The two workers take turns at the inserts, never at once:
  // no mutex.
  std::string name = strncmp(path, "file:", 5) == 0 ? "./" + std::string(path) : path;
  int rc =
      sqlite3_open_v2(name.c_str(), &d->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  bool made = rc == SQLITE_OK && claim(d, path, why);
  if (rc != SQLITE_OK)
    note(why, failure(d->db, rc));
  for (size_t i = 0; made && i < sizeof setup / sizeof *setup; i++)
    made = run(d->db, setup[i], why);
  if (made && (rc = sqlite3_prepare_v2(d->db, INSERT, (int)sizeof INSERT, &d->insert, nullptr)) !=
                  SQLITE_OK) {
    note(why, failure(d->db, rc));
    made = false;
  }
  if (!made) {
    sqlite3_finalize(d->insert);
    sqlite3_close(d->db);
    fclose(file);
    free(d);
    return nullptr;
  }
  return d;
}

static void freebasepart(void* part) {
  basepart* p = (basepart*)part;
  freerows(&p->rows);
  free(p->text.data);
  free(p->records.data);
  free(p);
}

static void* newbasepart() {
  basepart* p = (basepart*)calloc(1, sizeof(basepart));
  if (p && !newrows(&p->rows)) {
    freebasepart(p);
    p = nullptr;
  }
  return p;
}

static int64_t integer(const unsigned char* p, const unsigned char* end) {
  int64_t v = 0;
  for (; p < end; p++)
    v = v * 10 + (*p - '0');
  return v;
}

// The values of one row into p; false where there is no memory.
static bool values(basepart* p, int64_t line, const row& r) {
  const unsigned char *starts[FIELDS], *ends[FIELDS];
  fields(r, starts, ends);
  // A byte becomes at most three of UTF-8, and the time fewer than it has.
  if (!grow(&p->text, 3 * r.length) || !grow(&p->records, sizeof(record)))
    return false;
  record* v = (record*)p->records.data + p->count;
  v->line = line;
  char* out = p->text.data + p->text.used;
  for (int i = 0; i < FIELDS; i++) {
    v->at[i] = (uint32_t)(out - p->text.data);
    v->integer[i] = (i == STATUS || i == BYTES) && number(starts[i], ends[i]);
    int64_t days;
    int seconds;
    if (v->integer[i])
      v->numbers[i - STATUS] = integer(starts[i], ends[i]);
    else if (i == TIME && stamp(starts[i], (size_t)(ends[i] - starts[i]), &days, &seconds))
      out = iso(out, starts[i]);
    else
      out = unicode(out, starts[i], ends[i]);
    v->length[i] = (uint32_t)(out - p->text.data) - v->at[i];
  }
  p->text.used = (size_t)(out - p->text.data);
  p->records.used += sizeof(record);
  p->count++;
  return true;
}

// On the worker's own thread: the block's rows and their values, a row's
// key its line's number in the block. Only the writing turn knows the
// lines before it, and adds them.
static void makebase(void*, void* part, block* b) {
  basepart* p = (basepart*)part;
  p->bytes = (size_t)(b->end - b->start);
  tabulate(&p->rows, b->start, b->end, nullptr, &b->lines, &b->faulty);
  p->lines = b->lines;
  p->text.used = p->records.used = p->count = 0;
  p->failed = false;
  const row* rows = p->rows.rows;
  for (size_t i = 0; i < p->rows.count && !p->failed; i++)
    p->failed = !values(p, rows[i].place + 1, rows[i]);
}

// In the writing turn: the inserts. This loop is the database's time:
// changes to it are measured with the benchmark's database row.
static bool insertbase(void* state, void* part) {
  database* d = (database*)state;
  basepart* p = (basepart*)part;
  d->failed |= p->failed;
  if (d->failed || failed(d->why))
    return false;  // the rows after a failure would leave a gap that says nothing
  sqlite3_stmt* s = d->insert;
  const record* v = (const record*)p->records.data;
  for (size_t k = 0; k < p->count; k++, v++) {
    sqlite3_bind_int64(s, 1, d->lines + v->line);
    for (int i = 0; i < FIELDS; i++) {
      if (v->integer[i])
        sqlite3_bind_int64(s, i + 2, v->numbers[i - STATUS]);
      else  // an empty field is the empty text, which needs a pointer
        sqlite3_bind_text(s, i + 2, p->text.data + v->at[i], (int)v->length[i], SQLITE_STATIC);
    }
    int rc = sqlite3_step(s);
    if (rc != SQLITE_DONE)
      note(&d->why, failure(d->db, rc));  // before the reset, which forgets the system's error
    sqlite3_reset(s);
    if (rc != SQLITE_DONE)
      return false;
  }
  d->lines += p->lines;
  // A step of the load, committed: what a killed run leaves.
  d->uncommitted += (int64_t)p->bytes;
  if (d->uncommitted >= STEP || timer::now() - d->last >= PAUSE) {
    if (run(d->db, "COMMIT", &d->why))
      run(d->db, "BEGIN", &d->why);
    d->uncommitted = 0;
    d->last = timer::now();
  }
  return !failed(d->why);
}

static bool endbase(void* state, cause* why) {
  database* d = (database*)state;
  if (d->failed)
    note(&d->why, because(NOMEMORY));
  sqlite3_finalize(d->insert);
  // After a failed insert SQLite may have ended the transaction itself; the
  // first failure is the one told.
  run(d->db, "COMMIT", &d->why);
  int rc = sqlite3_close(d->db);
  if (rc != SQLITE_OK)
    note(&d->why, failure(nullptr, rc));
  if (fclose(d->file) != 0)  // never written: SQLite writes through its own
    note(&d->why, fromerrno(errno));
  bool whole = !failed(d->why);
  note(why, d->why);
  free(d);
  return whole;
}

static const char* const suffixes[] = {".sqlite", ".sqlite3", ".db", nullptr};

const sink tobase = {"database", suffixes,   openbase, newbasepart, freebasepart,
                     makebase,   insertbase, endbase,  true};
