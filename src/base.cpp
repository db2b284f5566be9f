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
// the time rewritten, so that the turn only binds and steps. SQLite's
// settings are those of a bulk load into a file that is made anew: pages
// of 64 KiB, no journal, no syncing, and the file locked for the whole
// run. Without a journal a transaction cannot be rolled back: a write that
// fails (a full disk) leaves a file that may be damaged, and the run says
// so with the target's message. The page cache is held to 8 MiB; rows go
// in in the order of their keys, so only the right edge of the tree is
// touched. Changes to the insert loop are measured with the benchmark's
// database row.
#include <errno.h>
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "buffer.h"
#include "cells.h"
#include "output.h"

// A row's values: its key, the numbers, and each other field's text as a
// piece of the part's text.
struct record {
  int64_t line;
  int64_t numbers[2];       // Status and Bytes, where integer says so
  uint32_t at[FIELDS];      // the start of a field's text
  uint32_t length[FIELDS];  // and its bytes
  bool integer[FIELDS];
};

struct basepart {
  rowset rows;     // the block's rows
  int64_t before;  // the lines of the log before the block
  buffer text;
  buffer records;  // of record
  size_t count;
  bool failed;  // no memory: the block is not whole
};

struct database {
  FILE* file;  // the run's own handle, which holds its lock (POSIX)
  sqlite3* db;
  sqlite3_stmt* insert;
  int64_t lines;  // of the log, counted so far in the reading turns
  cause why;      // the first failure
  bool failed;    // a part could not be made whole
};

// Integers stay integers in status and bytes, and text stays text, as the
// columns have no type: a column typed INTEGER would turn the text 0123
// into 123.
static const char TABLE[] =
    "CREATE TABLE zugriffe (zeile INTEGER PRIMARY KEY, adresse TEXT, identitaet TEXT, "
    "benutzer TEXT, zeit TEXT, anfrage TEXT, status, bytes, verweis TEXT, browser TEXT)";
static const char* const setup[] = {
    "PRAGMA page_size = 65536",
    "PRAGMA journal_mode = OFF",
    "PRAGMA synchronous = OFF",
    "PRAGMA locking_mode = EXCLUSIVE",
    "PRAGMA cache_size = -8192",
    "BEGIN",
    TABLE,
};

static const char INSERT[] = "INSERT INTO zugriffe VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

// What a result of SQLite other than success means to a user: the system's
// error where a call of the system failed, and SQLite's own words (ASCII)
// otherwise.
static cause failure(sqlite3* db, int rc) {
  switch (rc & 0xff) {
    case SQLITE_NOMEM:
      return because(NOMEMORY);
    case SQLITE_FULL:
      return because(SYSTEM, ENOSPC);
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return because(INUSE);
    default:
      break;
  }
  int err = db ? sqlite3_system_errno(db) : 0;
  cause c = because(DATABASE);
  if (err != 0) {
    c = because(SYSTEM, err);
#ifdef _WIN32
    c.win = true;  // SQLite's Windows layer keeps GetLastError()
#endif
  }
  c.format = sqlite3_errstr(rc);
  return c;
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

static void* openbase(FILE* file, const char* path, cause* why) {
#ifdef _WIN32
  // This run's handle lets no other write, SQLite's included: it is closed
  // first, and SQLite's own handle then keeps other runs out.
  fclose(file);
  file = nullptr;
#endif
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
  database* d = new (room) database{file, nullptr, nullptr, 0, because(NONE), false};
  // The two workers take turns at the inserts, never at once: no mutex.
  int rc = sqlite3_open_v2(
      path, &d->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  bool made = rc == SQLITE_OK;
  if (!made)
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
    if (file)
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

// In the reading turn: the block's rows, and the lines before it.
static void takebase(void* state, void* part, block* b) {
  database* d = (database*)state;
  basepart* p = (basepart*)part;
  p->before = d->lines;
  tabulate(&p->rows, b->start, b->end, nullptr, &b->lines, &b->faulty);
  d->lines += b->lines;
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

// Alone: the values of the block's rows, a row's key its line's number.
static void makebase(void* part, block*) {
  basepart* p = (basepart*)part;
  p->text.used = p->records.used = p->count = 0;
  p->failed = false;
  const row* rows = p->rows.rows;
  for (size_t i = 0; i < p->rows.count && !p->failed; i++)
    p->failed = !values(p, p->before + rows[i].place + 1, rows[i]);
}

// In the writing turn: the inserts. This loop is the database's time:
// changes to it are measured with the benchmark's database row.
static void insertbase(void* state, void* part) {
  database* d = (database*)state;
  basepart* p = (basepart*)part;
  d->failed |= p->failed;
  if (d->failed || failed(d->why))
    return;  // the rows after a failure would leave a gap that says nothing
  sqlite3_stmt* s = d->insert;
  const record* v = (const record*)p->records.data;
  for (size_t k = 0; k < p->count; k++, v++) {
    sqlite3_bind_int64(s, 1, v->line);
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
      return;
  }
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
  if (d->file && fclose(d->file) != 0)
    note(&d->why, because(SYSTEM, errno));
  bool whole = !failed(d->why);
  note(why, d->why);
  free(d);
  return whole;
}

static const char* const suffixes[] = {".sqlite", ".sqlite3", ".db", nullptr};

const sink tobase = {"database", suffixes, openbase,   newbasepart, freebasepart,
                     takebase,   makebase, insertbase, endbase,     true};
