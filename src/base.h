// The database: where the accepted lines go when the target's name ends in
// .sqlite, .sqlite3 or .db. Each line becomes a row of the table zugriffe,
// written through the SQLite library, with the number of its line in the
// log as its key, so that a row leads back to its line and the gaps are the
// lines left out. The fields follow the workbook's rules (cells.h): quotes
// taken off, Status and Bytes integers where they are plain ones, the time
// in the form SQLite's date functions read where it has the form servers
// write, and the bytes of the log as UTF-8 text, nothing escaped.
//
// As for the workbook, the conversion drives it a block at a time: each
// worker makes the values of its own block's rows, and the worker whose
// turn it is inserts them, while the other makes the next block's.
#ifndef ZETTRIK_BASE_H
#define ZETTRIK_BASE_H

#include <stddef.h>
#include <stdint.h>

#include "cause.h"
#include "cells.h"

struct database;
struct basepart;

// Whether this program writes databases: it is built with SQLite.
bool databases();

// The database at path, a file that the run has opened, checked, locked
// and emptied as every target, made anew with the empty table: nullptr,
// with *why noted, where SQLite cannot make it. Inserts go into one
// transaction, without a journal, which endbase() commits.
database* newbase(const char* path, cause* why);

// A worker's share of the work: the values of its block's rows.
basepart* newbasepart();
void freebasepart(basepart* p);

// Makes the values of the rows into p; before is the number of lines of
// the log before the block, so that a row's key is before + place + 1.
// Runs on the worker's own thread.
void makevalues(basepart* p, int64_t before, const row* rows, size_t n);

// Inserts what makevalues() made, after the rows of the blocks before.
// Only the worker whose turn it is to write calls it.
void insertrows(database* d, basepart* p);

// Commits the rows and closes the database. Returns false, with *why noted,
// where a part could not be made (no memory) or SQLite failed.
bool endbase(database* d, cause* why);

#endif
