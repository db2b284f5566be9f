// The workbook: where the accepted lines go when the target's name ends in
// .xlsx. Each line becomes a row of cells, one for each field and one for
// the time's zone, in an Office Open XML workbook that a spreadsheet opens
// by a double click with every cell as it should be: text as text, never a
// formula, the time as a date where it is one, Status and Bytes as numbers. The conversion drives
// it a block at a time; each worker makes and deflates the rows of its own blocks, and the blocks
// are written in their order.
#ifndef ZETTRIK_BOOK_H
#define ZETTRIK_BOOK_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "cause.h"
#include "cells.h"

struct workbook;
struct sheetpart;

// The rows a sheet holds below its header row; past them the next sheet.
constexpr int64_t PERSHEET = 1048575;

// A workbook written into file as the rows come, or nullptr where there is
// no memory for it. Nothing is written yet.
workbook* newbook(FILE* file);

// A worker's share of the work: its XML and its deflater.
sheetpart* newpart();
void freepart(sheetpart* p);

// Whether a line can be one row: no field longer than a cell holds.
bool fits(const char* line, size_t length);

// Makes the rows into p, the first of them row number first (from 0) of
// the whole workbook: the XML of their cells, deflated; where the rows
// cross into a new sheet, the end of one sheet and the start of the next.
// Runs on the worker's own thread.
void makerows(sheetpart* p, int64_t first, const row* rows, size_t n);

// Writes what makerows() made into the workbook's file, after what the
// blocks before wrote. Only the worker whose turn it is to write calls it.
void writerows(workbook* b, sheetpart* p);

// Ends the workbook after rows rows: the end of the last sheet (or a
// first one, where there were no rows), the other parts of the package and
// the zip directory; then releases it. Returns false, with *why noted,
// where a block could not be made whole (no memory) or a write failed;
// errors of writing show in the file too.
bool endbook(workbook* b, int64_t rows, cause* why);

#endif
