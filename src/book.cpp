// The workbook: its cells as XML, its sheets, and the zip container that
// holds the package. The sheets' XML is the program's own, written as the
// blocks go by and never held whole; the container's few records are
// written here too, with a data descriptor after each sheet, so that the
// file is written in one pass and a pipe or a FIFO can take it. (minizip,
// the library at hand for zip, goes back to every local header to write
// its CRC and sizes, which a pipe cannot do.)
//
// Each field of an accepted line is a cell, in the order of the log. A
// field that begins and ends with a double quote is stored without them,
// every other as it stands, the brackets of the time included. The time
// is a date cell, and its offset a cell of its own after it, where it has
// exactly the form servers write (stamp()). Status and Bytes are numbers
// where they are a plain decimal integer of at most 15 digits without a
// leading zero; every other cell is a text cell, which no spreadsheet
// takes as a formula or reparses as a number, whatever its locale.
#include "book.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <new>
#include <string>
#include <vector>

#include "cells.h"
#include "pack.h"
#include "utf8.h"

// --- Bytes to text ---------------------------------------------------------

// What a byte of a field needs in XML text: nothing (it is copied), an
// entity, the form _xHHHH_ that spreadsheets read back as the character
// (for the C0 controls that XML cannot hold), a look at the bytes after it
// (an underscore that begins such a form, and every byte from 0x80).
enum { PLAIN, AMP, LESS, GREATER, CR, CONTROL, UNDERSCORE, HIGH };

static constexpr std::array<unsigned char, 256> classify() {
  std::array<unsigned char, 256> t = {};
  for (int c = 0; c < 256; c++)
    t[c] = c == '&'                             ? AMP
           : c == '<'                           ? LESS
           : c == '>'                           ? GREATER
           : c == '\r'                          ? CR
           : c < 0x20 && c != '\t' && c != '\n' ? CONTROL
           : c == '_'                           ? UNDERSCORE
           : c >= 0x80                          ? HIGH
                                                : PLAIN;
  return t;
}
static constexpr std::array<unsigned char, 256> classes = classify();

static const char hexdigits[] = "0123456789ABCDEF";

// Writes the characters of a literal at out, without its terminating zero,
// and returns the end.
template <size_t N>
static char* literal(char* out, const char (&text)[N]) {
  return std::copy(text, text + N - 1, out);
}

static bool ishex(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// The form _xHHHH_ of a character.
static char* escaped(char* out, uint32_t c) {
  literal(out, "_x");
  for (int i = 0; i < 4; i++)
    out[2 + i] = hexdigits[c >> (12 - 4 * i) & 15];
  out[6] = '_';
  return out + 7;
}

// The most bytes of XML that a byte of a field can become: _x0001_.
constexpr size_t WIDEST = 7;

// Which of eight bytes, read as a little-endian word, need more than a
// copy: a bit set in the top bit of each such byte. Bytes below 0x20 show
// as a borrow out of x - 0x20 in a byte whose own top bit was clear; bytes
// from 0x80 by their top bit; a byte equal to c as a zero in x ^ c, found
// the same way. A borrow may run on into the byte above one that is found,
// so only the lowest flag is sure, and only the lowest is used. For "ab&c"
// (0x63 26 62 61 from the top) the flag is in the third byte: two plain
// bytes come first.
static inline uint64_t special(uint64_t x) {
  const uint64_t ones = 0x0101010101010101u, tops = 0x8080808080808080u;
  auto zero = [&](uint64_t v) { return (v - ones) & ~v & tops; };
  return ((x - 0x20 * ones) & ~x & tops) | (x & tops) | zero(x ^ ('&' * ones)) |
         zero(x ^ ('<' * ones)) | zero(x ^ ('>' * ones)) | zero(x ^ ('_' * ones));
}

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr bool WORDS = true;  // the first byte is the word's lowest
#else
constexpr bool WORDS = false;
#endif

// Writes the bytes from p to end as XML text at out, which has room for
// WIDEST bytes for each, and returns the end; *chars is the number of
// characters (UTF-16 units, as a cell counts them) of the text.
//
// This loop makes much of the workbook's time: runs of bytes that need
// nothing are found eight at a time and copied as they are found (the
// eight are stored whole, and what follows the run writes over the rest:
// there is room for WIDEST bytes a byte). Measured on a 20 MB log with
// callgrind, the table a byte at a time took 24% of the instructions.
// Changes to it are measured with the benchmark's workbook row.
static char* xmltext(char* out, const unsigned char* p, const unsigned char* end, size_t* chars) {
  size_t n = 0;
  while (p < end) {
    while (WORDS && end - p >= 8) {
      uint64_t x;
      memcpy(&x, p, 8);
      memcpy(out, &x, 8);
      uint64_t m = special(x);
      size_t k = m ? (size_t)__builtin_ctzll(m) / 8 : 8;
      p += k;
      out += k;
      n += k;
      if (k < 8)
        break;
    }
    while (p < end && classes[*p] == PLAIN) {
      *out++ = (char)*p++;
      n++;
    }
    if (p == end)
      break;
    unsigned char c = *p++;
    n++;
    switch (classes[c]) {
      case AMP:
        out = literal(out, "&amp;");
        break;
      case LESS:
        out = literal(out, "&lt;");
        break;
      case GREATER:
        out = literal(out, "&gt;");
        break;
      case CR:  // a reference: a parser turns a CR written as it is into LF
        out = literal(out, "&#13;");
        break;
      case CONTROL:
        out = escaped(out, c);
        break;
      case UNDERSCORE:
        // A literal _xHHHH_ would be read back as a character: its
        // underscore is written in that form itself. So is the underscore
        // of _xHHHH followed by anything else, since what follows may be
        // written with an underscore of its own: _x0041 before a control
        // byte would otherwise become _x0041_x0001_, read back as "A"
        // and "x0001_".
        if (end - p >= 5 && p[0] == 'x' && ishex(p[1]) && ishex(p[2]) && ishex(p[3]) && ishex(p[4]))
          out = escaped(out, '_');
        else
          *out++ = '_';
        break;
      default: {  // HIGH
        size_t k = sequence(p - 1, (size_t)(end - p) + 1);
        if (k > 0) {
          uint32_t code = codepoint(p - 1, k);
          if (code == 0xfffe || code == 0xffff) {  // no characters of XML
            out = escaped(out, code);
          } else {
            memcpy(out, p - 1, k);
            out += k;
          }
          n += code >= 0x10000;  // a surrogate pair in UTF-16
          p += k - 1;
        } else {
          out = encode(out, latin(c));
        }
      }
    }
  }
  *chars = n;
  return out;
}

// --- Fields and cells ------------------------------------------------------

// The most characters a cell holds.
constexpr size_t CELL = 32767;

bool fits(const char* line, size_t length) {
  if (length <= CELL)  // a byte is at most one character
    return true;
  const unsigned char *starts[FIELDS], *ends[FIELDS];
  fields((const unsigned char*)line, nullptr, length, starts, ends);
  std::string scratch;
  for (int i = 0; i < FIELDS; i++) {
    size_t chars = 0;
    scratch.resize(WIDEST * (size_t)(ends[i] - starts[i]));
    xmltext(&scratch[0], starts[i], ends[i], &chars);
    if (chars > CELL)
      return false;
  }
  return true;
}

// --- The time ---------------------------------------------------------------

// The value of a time cell as text: the serial nearest to the day and the
// fraction of it, in the shortest form that reads back as that double,
// which every reader shows as that second (2026-12-07 10:00:00 is
// 46363.416666666664). Lines of a log share their second often: the
// last field and its text are kept, and the same field is not written
// again.
struct timetext {
  unsigned char field[28];
  char text[32];
  size_t length;
};

static char* serial(char* out, timetext* c, const unsigned char* p, int64_t days, int seconds) {
  if (c->length == 0 || memcmp(c->field, p, 28) != 0) {
    double v = (double)days + seconds / 86400.0;
    c->length = (size_t)(std::to_chars(c->text, c->text + sizeof c->text, v).ptr - c->text);
    memcpy(c->field, p, 28);
  }
  return std::copy(c->text, c->text + c->length, out);
}

// --- Rows ------------------------------------------------------------------

// The columns: their names in the header row, and their widths. The time is
// two columns, Zeit and Zone, where it is a date; every other field one.
constexpr int COLUMNS = 10;
static const char* const names[COLUMNS] = {"Adresse", "Identit\xc3\xa4t", "Benutzer", "Zeit",
                                           "Zone",    "Anfrage",          "Status",   "Bytes",
                                           "Verweis", "Browser"};
static const int widths[COLUMNS] = {16, 10, 12, 19, 7, 50, 8, 10, 40, 60};

static bool blank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

static const char TEXT[] = " t=\"inlineStr\"><is><t>";
static const char KEPT[] = " t=\"inlineStr\"><is><t xml:space=\"preserve\">";
static const char ENDTEXT[] = "</t></is></c>";

// The decimal digits of a row's number (from 1) at out; returns the end.
static char* decimal(char* out, int64_t n) {
  char digits[20];
  int k = 0;
  do
    digits[k++] = (char)('0' + n % 10);
  while ((n /= 10) > 0);
  while (k > 0)
    *out++ = digits[--k];
  return out;
}

// The start of a row and of each of its cells, with their references: the
// number of the row in its sheet (from 1), and a cell's column and row, as
// A1. The format allows them left out, and some readers then see no cells
// at all. The row's digits are made once and copied into each cell's.
struct rowstart {
  char digits[20];
  size_t n;
};

static char* beginrow(char* out, rowstart* r, int64_t number) {
  r->n = (size_t)(decimal(r->digits, number) - r->digits);
  out = literal(out, "<row r=\"");
  out = std::copy(r->digits, r->digits + r->n, out);
  return literal(out, "\">");
}

static char* begincell(char* out, const rowstart& r, int column) {
  out = literal(out, "<c r=\"");
  *out++ = (char)('A' + column);
  out = std::copy(r.digits, r.digits + r.n, out);
  *out++ = '"';
  return out;
}

// Appends the row of one line to xml, the row numbered place (from 1) in
// its sheet; false where there is no memory.
static bool addrow(buffer* xml, const row& r, int64_t place, timetext* c) {
  const unsigned char* p = (const unsigned char*)r.at;
  size_t n = r.length;
  const unsigned char *starts[FIELDS], *ends[FIELDS];
  fields(p, (const unsigned char*)r.scanned, n, starts, ends);
  if (!grow(xml, WIDEST * n + COLUMNS * (sizeof KEPT + sizeof ENDTEXT + 32) + 48))
    return false;
  char* out = xml->data + xml->used;
  rowstart at;
  out = beginrow(out, &at, place);
  for (int i = 0; i < FIELDS; i++) {
    int column = i <= TIME ? i : i + 1;  // Zone after Zeit
    out = begincell(out, at, column);
    int64_t days;
    int seconds;
    if (i == TIME && stamp(starts[i], (size_t)(ends[i] - starts[i]), &days, &seconds)) {
      out = literal(out, " s=\"2\"><v>");
      out = serial(out, c, starts[i], days, seconds);
      out = literal(out, "</v></c>");
      out = begincell(out, at, 4);
      out = literal(out, TEXT);
      out = std::copy(starts[i] + 22, starts[i] + 27, out);  // the offset as written
      out = literal(out, ENDTEXT);
      continue;
    }
    if ((i == STATUS || i == BYTES) && number(starts[i], ends[i])) {
      out = literal(out, "><v>");
      out = (char*)memcpy(out, starts[i], (size_t)(ends[i] - starts[i])) + (ends[i] - starts[i]);
      out = literal(out, "</v></c>");
      continue;
    }
    // Spaces at either end of a text are kept only where it says so.
    bool edge = ends[i] > starts[i] && (blank(*starts[i]) || blank(*(ends[i] - 1)));
    out = edge ? literal(out, KEPT) : literal(out, TEXT);
    size_t chars;
    out = xmltext(out, starts[i], ends[i], &chars);
    out = literal(out, ENDTEXT);
  }
  out = literal(out, "</row>");
  xml->used = (size_t)(out - xml->data);
  return true;
}

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
  s += "</cols><sheetData><row r=\"1\">";
  for (int i = 0; i < COLUMNS; i++)
    s += std::string("<c r=\"") + (char)('A' + i) + "1\" s=\"1\"" + TEXT + names[i] + ENDTEXT;
  return s + "</row>";
}

// The end of a sheet of the given rows below its header: the filter over
// its columns.
static std::string epilogue(int64_t rows) {
  return "</sheetData><autoFilter ref=\"A1:J" + std::to_string(rows + 1) + "\"/></worksheet>";
}

static std::string sheetname(int sheet) {
  return sheet == 1 ? "Zugriffe" : "Zugriffe " + std::to_string(sheet);
}

// --- A worker's rows -------------------------------------------------------

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
  packer* pk;
  timetext time;  // the last time written, and its text
  buffer xml;     // XML not deflated yet
  buffer packed;  // the deflated pieces of the block
  std::vector<segment> segments;
  bool failed;  // no memory, or the deflater failed: the block is not whole
};

sheetpart* newpart() {
  void* room = malloc(sizeof(sheetpart));
  sheetpart* p = room ? new (room) sheetpart() : nullptr;
  if (p && (p->pk = newpacker()) == nullptr) {
    freepart(p);
    p = nullptr;
  }
  return p;
}

void freepart(sheetpart* p) {
  if (p == nullptr)
    return;
  freepacker(p->pk);
  free(p->xml.data);
  free(p->packed.data);
  p->~sheetpart();
  free(p);
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

static void make(sheetpart* p, int64_t first, const row* rows, size_t n) {
  p->packed.used = 0;
  p->xml.used = 0;
  p->segments.clear();
  p->failed = false;
  int64_t number = first;
  for (const row* r = rows; r < rows + n; r++) {
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
    p->failed |= !addrow(&p->xml, *r, number % PERSHEET + 2, &p->time);  // below the header
    if (p->xml.used >= CHUNK)
      drain(p, MORE);
    number++;
  }
  if (!p->segments.empty())
    drain(p, FLUSHED);
}

void makerows(sheetpart* p, int64_t first, const row* rows, size_t n) {
  make(p, first, rows, n);
}

// --- The container ---------------------------------------------------------

// A file of the package, as the zip directory names it.
struct entry {
  std::string name;
  uint32_t crc;
  uint64_t size, packed, offset;
  bool deflated;  // with a data descriptor after it; stored otherwise
};

struct workbook {
  FILE* file;
  cause why;        // why writing failed, once it has
  uint64_t offset;  // the bytes written
  std::vector<entry> entries;
  int sheets;   // begun
  bool open;    // the last sheet's entry takes more data
  packer* pk;   // for the ends of sheets, in the writer's turn
  bool failed;  // a part could not be made whole: the workbook is not
};

static std::string& le(std::string& s, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; i++)
    s += (char)(v >> (8 * i));
  return s;
}

static void put(workbook* b, const char* p, size_t n) {
  if (fwrite(p, 1, n, b->file) != n)
    note(&b->why, because(SYSTEM, errno));
  b->offset += n;
}

static void put(workbook* b, const std::string& s) {
  put(b, s.data(), s.size());
}

// Sizes and offsets past this take the zip64 forms.
constexpr uint64_t LARGE = 0xffffffff;

// The local header of an entry. The time is the earliest zip knows, so that
// the same log gives the same workbook. A sheet's CRC and sizes are not
// known when its header is written, and may pass 4 GiB: they follow its
// data, in a data descriptor of 8-byte sizes, which the zip format ties to
// a zip64 extra field in the local header. So every sheet's header has
// one, its sizes zero and those of the header itself 0xFFFFFFFF, and needs
// version 4.5. A stored part is small and written whole.
static void header(workbook* b, entry* e) {
  e->offset = b->offset;
  std::string s;
  le(s, 0x04034b50, 4);
  le(s, e->deflated ? 45 : 20, 2);                        // version needed: 4.5, zip64, or 2.0
  le(s, e->deflated ? 8 : 0, 2);                          // flags: a data descriptor follows
  le(s, e->deflated ? 8 : 0, 2);                          // method: deflate, or stored
  le(le(s, 0, 2), 0x21, 2);                               // 1980-01-01 00:00
  le(s, e->deflated ? 0 : e->crc, 4);                     // CRC-32
  le(s, e->deflated ? LARGE : e->size, 4);                // compressed size
  le(s, e->deflated ? LARGE : e->size, 4);                // uncompressed size
  le(le(s, e->name.size(), 2), e->deflated ? 20 : 0, 2);  // name, extra field
  s += e->name;
  if (e->deflated)
    le(le(le(le(s, 1, 2), 16, 2), 0, 8), 0, 8);  // zip64: the sizes, in the descriptor
  put(b, s);
}

// Begins the entry of the next sheet.
static void beginsheet(workbook* b) {
  b->sheets++;
  b->entries.push_back(
      entry{"xl/worksheets/sheet" + std::to_string(b->sheets) + ".xml", 0, 0, 0, 0, true});
  header(b, &b->entries.back());
  b->open = true;
}

// The CRC-32 of two pieces one after another, from the CRC-32 of each and
// the length of the second. A CRC goes through a zero bit by a linear map,
// kept as a matrix of 32 columns; squared, it goes through two bits, then
// four, and so on: the first CRC is taken through the second's length in
// zero bytes by the powers that make it up, and the second CRC added. For a
// length of 5 bytes (101 in binary): the maps of 1 and of 4 bytes.
static uint32_t times(const uint32_t* map, uint32_t v) {
  uint32_t r = 0;
  for (int i = 0; v; i++, v >>= 1)
    if (v & 1)
      r ^= map[i];
  return r;
}

static void square(uint32_t* to, const uint32_t* map) {
  for (int i = 0; i < 32; i++)
    to[i] = times(map, map[i]);
}

static uint32_t joined(uint32_t first, uint32_t second, uint64_t length) {
  uint32_t a[32], b[32];
  a[0] = 0xedb88320;  // a zero bit: the polynomial where the low bit falls out
  for (int i = 1; i < 32; i++)
    a[i] = 1u << (i - 1);
  square(b, a);  // two bits
  square(a, b);  // four
  uint32_t* map = a;
  uint32_t* spare = b;
  for (; length; length >>= 1) {
    square(spare, map);  // eight bits at first, then twice as many each time
    uint32_t* t = map;
    map = spare;
    spare = t;
    if (length & 1)
      first = times(map, first);
  }
  return first ^ second;
}

// Adds a segment's deflated bytes to the open sheet's entry.
static void addsegment(workbook* b, const segment& s, const char* bytes) {
  entry& e = b->entries.back();
  e.crc = joined(e.crc, s.crc, s.size);
  e.size += s.size;
  e.packed += s.to - s.from;
  put(b, bytes, s.to - s.from);
}

// Deflates the XML as a piece of its own onto the open sheet: the start of
// a sheet that no block began, or the end of one, with the final block.
static void piece(workbook* b, const std::string& xml, int end) {
  buffer packed = {nullptr, 0, 0};
  restart(b->pk);
  b->failed |= !squeeze(b->pk, xml.data(), xml.size(), end, &packed);
  segment s = {b->sheets, false, crc32of(0, xml.data(), xml.size()), xml.size(), 0, packed.used};
  addsegment(b, s, packed.data);
  free(packed.data);
}

// Ends the open sheet after the given rows: its last piece, with the final
// block, and the data descriptor with its CRC and its sizes in 8 bytes.
static void endsheet(workbook* b, int64_t rows) {
  piece(b, epilogue(rows), FINAL);
  entry& e = b->entries.back();
  std::string d;
  le(le(d, 0x08074b50, 4), e.crc, 4);
  le(le(d, e.packed, 8), e.size, 8);
  put(b, d);
  b->open = false;
}

void writerows(workbook* b, sheetpart* p) {
  for (const segment& s : p->segments) {
    if (s.starts) {
      if (b->open)
        endsheet(b, PERSHEET);
      beginsheet(b);
    }
    addsegment(b, s, p->packed.data + s.from);
  }
  b->failed |= p->failed;
}

workbook* newbook(FILE* file) {
  void* room = malloc(sizeof(workbook));
  workbook* b = room ? new (room) workbook() : nullptr;
  if (b == nullptr)
    return nullptr;
  b->file = file;
  b->pk = newpacker();
  if (b->pk == nullptr) {
    b->~workbook();
    free(b);
    return nullptr;
  }
  return b;
}

// A stored entry: the small parts of the package, written whole at the end.
static void stored(workbook* b, const std::string& name, const std::string& data) {
  b->entries.push_back(
      entry{name, crc32of(0, data.data(), data.size()), data.size(), data.size(), 0, false});
  header(b, &b->entries.back());
  put(b, data);
}

static const char XML[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
static const char MAIN[] = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
static const char RELS[] = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
static const char PACKAGE[] = "http://schemas.openxmlformats.org/package/2006/relationships";

// The parts of the package beside the sheets: what each part is, where the
// workbook is, its sheets (with the range of each sheet's filter, as a
// spreadsheet names it), and the styles (the header row in bold).
static void parts(workbook* b, int64_t rows) {
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
  stored(b, "[Content_Types].xml", types + "</Types>");
  stored(b, "_rels/.rels",
         std::string(XML) + "<Relationships xmlns=\"" + PACKAGE +
             "\"><Relationship Id=\"rId1\" Type=\"" + RELS +
             "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
  stored(b, "xl/workbook.xml",
         std::string(XML) + "<workbook xmlns=\"" + MAIN + "\" xmlns:r=\"" + RELS + "\"><sheets>" +
             sheets + "</sheets><definedNames>" + names + "</definedNames></workbook>");
  stored(b, "xl/_rels/workbook.xml.rels",
         std::string(XML) + "<Relationships xmlns=\"" + PACKAGE + "\">" + links +
             "<Relationship Id=\"rId" + std::to_string(b->sheets + 1) + "\" Type=\"" + RELS +
             "/styles\" Target=\"styles.xml\"/></Relationships>");
  stored(b, "xl/styles.xml",
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

// The zip directory: an entry for each file, with the zip64 forms where a
// size or an offset needs them, and the records that end it.
static void directory(workbook* b) {
  uint64_t start = b->offset;
  bool large = false;
  for (const entry& e : b->entries) {
    bool big = e.size >= LARGE || e.packed >= LARGE || e.offset >= LARGE;
    large = large || big;
    std::string extra;
    if (big) {  // zip64: the three, in this order, where the fields hold 0xFFFFFFFF
      le(le(extra, 1, 2), 24, 2);
      le(le(le(extra, e.size, 8), e.packed, 8), e.offset, 8);
    }
    std::string s;
    le(s, 0x02014b50, 4);
    int version = big || e.deflated ? 45 : 20;  // 4.5 as the local header says, or 2.0
    le(le(s, version, 2), version, 2);          // made by, needed
    le(s, e.deflated ? 8 : 0, 2);
    le(s, e.deflated ? 8 : 0, 2);
    le(le(s, 0, 2), 0x21, 2);
    le(s, e.crc, 4);
    le(s, big ? LARGE : e.packed, 4);
    le(s, big ? LARGE : e.size, 4);
    le(le(le(s, e.name.size(), 2), extra.size(), 2), 0, 2);  // name, extra, comment
    le(le(le(s, 0, 2), 0, 2), 0, 4);                         // disk, attributes
    le(s, big ? LARGE : e.offset, 4);
    s += e.name;
    put(b, s + extra);
  }
  uint64_t size = b->offset - start, count = b->entries.size();
  std::string s;
  if (large || start >= LARGE) {
    uint64_t end64 = b->offset;
    le(le(s, 0x06064b50, 4), 44, 8);
    le(le(s, 45, 2), 45, 2);
    le(le(s, 0, 4), 0, 4);
    le(le(s, count, 8), count, 8);
    le(le(s, size, 8), start, 8);
    le(le(s, 0x07064b50, 4), 0, 4);
    le(le(s, end64, 8), 1, 4);
  }
  le(s, 0x06054b50, 4);
  le(le(s, 0, 2), 0, 2);
  le(le(s, count, 2), count, 2);
  le(s, size, 4);
  le(s, start >= LARGE ? LARGE : start, 4);
  le(s, 0, 2);
  put(b, s);
}

bool endbook(workbook* b, int64_t rows, cause* why) {
  if (b->sheets == 0) {  // a workbook of no rows: a sheet of the header alone
    beginsheet(b);
    piece(b, prologue(1), FLUSHED);
  }
  if (b->open)
    endsheet(b, rows - (int64_t)(b->sheets - 1) * PERSHEET);
  parts(b, rows);
  directory(b);
  // A part not made whole had no memory (or its deflater failed, which
  // only a lack of memory makes it do); the first failure is told.
  if (b->failed)
    note(&b->why, because(NOMEMORY));
  bool whole = !b->failed && b->why.kind == UNKNOWN;
  note(why, b->why);
  freepacker(b->pk);
  b->~workbook();
  free(b);
  return whole;
}
