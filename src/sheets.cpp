// The workbook: where the accepted lines go when the target's name ends in
// .xlsx. Each line becomes a row of cells (text.h), one for each field and
// one for the time's zone, in an Office Open XML workbook that a
// spreadsheet opens by a double click with every cell as it should be:
// text as text, never a formula, the time as a date where it is one,
// Status and Bytes as numbers. The sheets' XML is the program's own,
// written as the blocks go by and never held whole, into a zip container
// written in one pass (zip.h), so that a pipe or a FIFO can take it.
//
// A sheet holds PERSHEET rows below its header row; past them the next
// sheet begins. Each worker makes and deflates the rows of its own blocks
// (pack.h), both at once, and the blocks are written in their order: a
// block's rows are counted first, so that the block after knows where its
// own rows stand; then they are made; and in the writing turn the deflated
// pieces go into the container, each sheet's pieces one deflate stream.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <condition_variable>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "output.h"
#include "pack.h"
#include "text.h"
#include "zip.h"

// The rows a sheet holds below its header row; past them the next sheet.
constexpr int64_t PERSHEET = 1048575;

// The widths of the columns, in widths of a digit of the workbook's font.
// A spreadsheet without Calibri draws in a wider font, and where a date or
// a number is wider than its column it shows ##### in its place: in
// Gnumeric a date took 113 points where a width of 19 gave 100, and 23
// gives 121. Adresse has room for an IPv6 address of eight full groups,
// as clients' addresses are (39 characters, 236 points there, where 46
// gives 241), and Zone for +0100.
static const int widths[COLUMNS] = {46, 10, 12, 23, 8, 50, 8, 10, 40, 60};

// The start of sheet number sheet (from 1): the frozen header row and the
// widths of the columns. Only the first sheet is the one selected.
static std::string prologue(int sheet) {
  std::string s =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
      "<sheetViews><sheetView workbookViewId=\"0\"";
  s += sheet == 1 ? " tabSelected=\"1\">" : ">";
  s += "<pane ySplit=\"1\" topLeftCell=\"A2\" activePane=\"bottomLeft\" state=\"frozen\"/>"
       "<selection pane=\"bottomLeft\"/></sheetView></sheetViews><cols>";
  for (int i = 0; i < COLUMNS; i++)
    s += "<col min=\"" + std::to_string(i + 1) + "\" max=\"" + std::to_string(i + 1) +
         "\" width=\"" + std::to_string(widths[i]) + "\" customWidth=\"1\"/>";
  return s + "</cols><sheetData>" + headerrow();
}

// The end of a sheet of the given rows below its header: the filter over
// its columns.
static std::string epilogue(int64_t rows) {
  return "</sheetData><autoFilter ref=\"A1:J" + std::to_string(rows + 1) + "\"/></worksheet>";
}

static std::string sheetname(int sheet) {
  return sheet == 1 ? "Zugriffe" : "Zugriffe " + std::to_string(sheet);
}

// XML gathered before it is deflated: large enough that the deflater runs
// long, small enough to stay in the cache.
constexpr size_t CHUNK = 1 << 18;

// A run of a block's rows within one sheet: its XML deflated into a piece
// of the sheet's deflate data, which ends at a byte boundary.
struct segment {
  int sheet;        // from 1
  bool starts;      // it begins the sheet
  uint32_t crc;     // of its XML
  uint64_t size;    // the bytes of its XML
  size_t from, to;  // its deflated bytes in the part's packed
};

struct sheetpart {
  rowset rows;    // the block's rows
  int64_t first;  // the number (from 0) of its first row in the workbook
  packer* pk;
  lastrow last;   // the last row written: its time and number as text
  buffer xml;     // XML not deflated yet
  buffer packed;  // the deflated pieces of the block
  std::vector<segment> segments;
  bool failed;  // no memory, or the deflater failed: the block is not whole
};

static void freebookpart(void* part) {
  sheetpart* p = (sheetpart*)part;
  freerows(&p->rows);
  freepacker(p->pk);
  free(p->xml.data);
  free(p->packed.data);
  p->~sheetpart();
  free(p);
}

static void* newbookpart() {
  void* room = malloc(sizeof(sheetpart));
  sheetpart* p = room ? new (room) sheetpart() : nullptr;
  if (p == nullptr)
    return nullptr;
  bool rows = newrows(&p->rows);
  p->pk = newpacker();
  if (!rows || p->pk == nullptr) {
    freebookpart(p);
    return nullptr;
  }
  return p;
}

// Deflates the XML gathered into the open segment.
static void drain(sheetpart* p, int end) {
  segment& s = p->segments.back();
  s.crc = crc32of(s.crc, p->xml.data, p->xml.used);
  s.size += p->xml.used;
  p->failed |= !squeeze(p->pk, p->xml.data, p->xml.used, end, &p->packed);
  s.to = p->packed.used;
  p->xml.used = 0;
}

static void append(sheetpart* p, const std::string& xml) {
  p->failed |= !grow(&p->xml, xml.size());
  if (!p->failed) {
    memcpy(p->xml.data + p->xml.used, xml.data(), xml.size());
    p->xml.used += xml.size();
  }
}

// --- The workbook ------------------------------------------------------------

struct workbook {
  zipfile zip;
  // Guards rows and blocks; counted tells that blocks moved on.
  std::mutex counting;
  std::condition_variable counted;
  int64_t rows;    // in the blocks counted so far
  int64_t blocks;  // counted so far, in the order of the log
  int sheets;      // begun
  bool open;       // the last sheet's entry takes more data
  packer* pk;      // for the ends of sheets, in the writer's turn
  bool failed;     // a part could not be made whole: the workbook is not
};

static void* openbook(FILE* file, const char*, cause* why) {
  void* room = malloc(sizeof(workbook));
  workbook* b = room ? new (room) workbook() : nullptr;
  if (b == nullptr) {
    note(why, because(NOMEMORY));
    fclose(file);
    return nullptr;
  }
  b->zip.file = file;
  b->zip.why = because(NONE);
  b->zip.offset = 0;
  b->zip.buf = (char*)malloc(ZIPBUF);  // without it, slower
  b->zip.held = 0;
  b->rows = b->blocks = 0;
  b->sheets = 0;
  b->open = b->failed = false;
  b->pk = newpacker();
  if (b->pk == nullptr) {
    note(why, because(NOMEMORY));
    fclose(file);
    b->~workbook();
    free(b);
    return nullptr;
  }
  return b;
}

// Makes the block's rows, on the worker's own thread: counts them, learns
// where they stand from the block before, and makes their XML, deflated;
// where the rows cross into a new sheet, the end of one sheet and the start
// of the next. A line with a field longer than a cell holds is rejected
// too.
static void makebook(void* state, void* part, block* blk) {
  workbook* b = (workbook*)state;
  sheetpart* p = (sheetpart*)part;
  tabulate(&p->rows, blk->start, blk->end, fits, &blk->lines, &blk->faulty);
  // The rows of the blocks before are known once the block before has
  // counted its own, which it does first of all: the wait is at most the
  // other worker's tabulate(), and both scan at once. Every block read is
  // made, so every block counts in its turn.
  {
    std::unique_lock<std::mutex> hold(b->counting);
    b->counted.wait(hold, [&] { return b->blocks == blk->number; });
    p->first = b->rows;
    b->rows += (int64_t)p->rows.count;
    b->blocks++;
  }
  b->counted.notify_all();
  p->packed.used = 0;
  p->xml.used = 0;
  p->segments.clear();
  p->failed = false;
  int64_t number = p->first;
  for (const row* r = p->rows.rows; r < p->rows.rows + p->rows.count; r++) {
    if (p->failed)
      return;
    // A new segment at the first row, and at the first row of a sheet.
    if (p->segments.empty() || number % PERSHEET == 0) {
      if (!p->segments.empty())
        drain(p, FLUSHED);
      bool starts = number % PERSHEET == 0;
      restart(p->pk);
      p->segments.push_back(
          segment{(int)(number / PERSHEET) + 1, starts, 0, 0, p->packed.used, p->packed.used});
      if (starts)
        append(p, prologue(p->segments.back().sheet));
    }
    p->failed |= !addrow(&p->xml, *r, number % PERSHEET + 2, &p->last);  // below the header
    if (p->xml.used >= CHUNK)
      drain(p, MORE);
    number++;
  }
  if (!p->segments.empty())
    drain(p, FLUSHED);
}

// Begins the entry of the next sheet.
static void beginsheet(workbook* b) {
  b->sheets++;
  begindeflated(&b->zip, "xl/worksheets/sheet" + std::to_string(b->sheets) + ".xml");
  b->open = true;
}

// Deflates the XML as a piece of its own onto the open sheet: the start of
// a sheet that no block began, or the end of one, with the final block.
static void piece(workbook* b, const std::string& xml, int end) {
  buffer packed = {nullptr, 0, 0};
  restart(b->pk);
  b->failed |= !squeeze(b->pk, xml.data(), xml.size(), end, &packed);
  addpiece(&b->zip, crc32of(0, xml.data(), xml.size()), xml.size(), packed.data, packed.used);
  free(packed.data);
}

// Ends the open sheet after the given rows: its last piece, with the final
// block, and its data descriptor.
static void endsheet(workbook* b, int64_t rows) {
  piece(b, epilogue(rows), FINAL);
  enddeflated(&b->zip);
  b->open = false;
}

// In the writing turn: the block's segments onto their sheets.
static bool writebook(void* state, void* part) {
  workbook* b = (workbook*)state;
  sheetpart* p = (sheetpart*)part;
  for (const segment& s : p->segments) {
    if (s.starts) {
      if (b->open)
        endsheet(b, PERSHEET);
      beginsheet(b);
    }
    addpiece(&b->zip, s.crc, s.size, p->packed.data + s.from, s.to - s.from);
  }
  b->failed |= p->failed;
  return !b->failed && !failed(b->zip.why);
}

// --- The package ---------------------------------------------------------------

static const char XML[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
static const char MAIN[] = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
static const char RELS[] = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
static const char PACKAGE[] = "http://schemas.openxmlformats.org/package/2006/relationships";

// The parts of the package beside the sheets: what each part is, where the
// workbook is, its sheets (with the range of each sheet's filter, as a
// spreadsheet names it), and the styles (the header row in bold).
static void parts(workbook* b, int64_t rows) {
  zipfile* z = &b->zip;
  std::string types =
      std::string(XML) +
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"rels\" ContentType=\"application/"
      "vnd.openxmlformats-package.relationships+xml\"/>"
      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
      "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/"
      "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
      "<Override PartName=\"/xl/styles.xml\" ContentType=\"application/"
      "vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>";
  std::string sheets, names, links;
  for (int i = 1; i <= b->sheets; i++) {
    std::string n = std::to_string(i);
    types += "<Override PartName=\"/xl/worksheets/sheet" + n +
             ".xml\" ContentType=\"application/"
             "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
    sheets += "<sheet name=\"" + sheetname(i);
    sheets += "\" sheetId=\"" + n;
    sheets += "\" r:id=\"rId" + n + "\"/>";
    int64_t held = i < b->sheets ? PERSHEET : rows - (int64_t)(i - 1) * PERSHEET;
    names += "<definedName name=\"_xlnm._FilterDatabase\" localSheetId=\"" + std::to_string(i - 1) +
             "\" hidden=\"1\">'" + sheetname(i) + "'!$A$1:$J$" + std::to_string(held + 1) +
             "</definedName>";
    links += "<Relationship Id=\"rId" + n + "\" Type=\"" + RELS;
    links += "/worksheet\" Target=\"worksheets/sheet" + n + ".xml\"/>";
  }
  addstored(z, "[Content_Types].xml", types + "</Types>");
  addstored(z, "_rels/.rels",
            std::string(XML) + "<Relationships xmlns=\"" + PACKAGE +
                "\"><Relationship Id=\"rId1\" Type=\"" + RELS +
                "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
  addstored(z, "xl/workbook.xml",
            std::string(XML) + "<workbook xmlns=\"" + MAIN + "\" xmlns:r=\"" + RELS +
                "\"><sheets>" + sheets + "</sheets><definedNames>" + names +
                "</definedNames></workbook>");
  addstored(z, "xl/_rels/workbook.xml.rels",
            std::string(XML) + "<Relationships xmlns=\"" + PACKAGE + "\">" + links +
                "<Relationship Id=\"rId" + std::to_string(b->sheets + 1) + "\" Type=\"" + RELS +
                "/styles\" Target=\"styles.xml\"/></Relationships>");
  addstored(
      z, "xl/styles.xml",
      std::string(XML) + "<styleSheet xmlns=\"" + MAIN +
          "\"><numFmts count=\"1\"><numFmt numFmtId=\"164\" "
          "formatCode=\"dd.mm.yyyy hh:mm:ss\"/></numFmts><fonts count=\"2\"><font><sz "
          "val=\"11\"/><name val=\"Calibri\"/></font>"
          "<font><b/><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
          "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
          "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
          "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border>"
          "</borders><cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" "
          "borderId=\"0\"/></cellStyleXfs><cellXfs count=\"3\"><xf numFmtId=\"0\" fontId=\"0\" "
          "fillId=\"0\" borderId=\"0\" xfId=\"0\"/><xf numFmtId=\"0\" fontId=\"1\" fillId=\"0\" "
          "borderId=\"0\" xfId=\"0\" applyFont=\"1\"/><xf numFmtId=\"164\" fontId=\"0\" "
          "fillId=\"0\" borderId=\"0\" xfId=\"0\" "
          "applyNumberFormat=\"1\"/></cellXfs><cellStyles count=\"1\">"
          "<cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles></styleSheet>");
}

static bool endbook(void* state, cause* why) {
  workbook* b = (workbook*)state;
  if (b->sheets == 0) {  // a workbook of no rows: a sheet of the header alone
    beginsheet(b);
    piece(b, prologue(1), FLUSHED);
  }
  if (b->open)
    endsheet(b, b->rows - (int64_t)(b->sheets - 1) * PERSHEET);
  parts(b, b->rows);
  enddirectory(&b->zip);
  // A part not made whole had no memory (or its deflater failed, which
  // only a lack of memory makes it do); the first failure is told. A full
  // disk may show only in the write of the last buffer, at the directory.
  if (b->failed)
    note(&b->zip.why, because(NOMEMORY));
  if (fclose(b->zip.file) != 0)
    note(&b->zip.why, fromerrno(errno));
  bool whole = !failed(b->zip.why);
  note(why, b->zip.why);
  free(b->zip.buf);
  freepacker(b->pk);
  b->~workbook();
  free(b);
  return whole;
}

static const char* const suffixes[] = {".xlsx", nullptr};

const sink tobook = {"workbook", suffixes,  openbook, newbookpart, freebookpart,
                     makebook,   writebook, endbook,  false};
