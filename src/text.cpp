// The cells of a row as XML text (text.h).
//
// Each field of an accepted line is a cell, in the order of the log. A
// field that begins and ends with a double quote is stored without them,
// every other as it stands, the brackets of the time included. The time
// is a date cell, and its offset a cell of its own after it, where it has
// exactly the form servers write (stamp()). Status and Bytes are numbers
// where they are a plain decimal integer of at most 15 digits without a
// leading zero; every other cell is a text cell, which no spreadsheet
// takes as a formula or reparses as a number, whatever its locale.
#include "text.h"

#include <string.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <string>

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
constexpr bool LITTLEENDIAN = true;  // the first byte is the word's lowest
#else
constexpr bool LITTLEENDIAN = false;
#endif

// This loop makes much of the workbook's time: runs of bytes that need
// nothing are found eight at a time and copied as they are found (the
// eight are stored whole, and what follows the run writes over the rest:
// there is room for WIDEST bytes a byte). Measured on a 20 MB log with
// callgrind, the table a byte at a time took 24% of the instructions.
// Changes to it are measured with the benchmark's workbook row.
char* xmltext(char* out, const unsigned char* p, const unsigned char* end, size_t* chars) {
  size_t n = 0;
  while (p < end) {
    while (LITTLEENDIAN && end - p >= 8) {
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

// --- Cells ----------------------------------------------------------------

// The most characters a cell holds.
constexpr size_t CELL = 32767;

bool fits(const row& r) {
  if (r.length <= CELL)  // a byte is at most one character
    return true;
  const unsigned char *starts[FIELDS], *ends[FIELDS];
  fields(r, starts, ends);
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
static char* serial(char* out, timetext* c, const unsigned char* p, int64_t days, int seconds) {
  if (c->length == 0 || memcmp(c->field, p, 28) != 0) {
    double v = (double)days + seconds / 86400.0;
    c->length = (size_t)(std::to_chars(c->text, c->text + sizeof c->text, v).ptr - c->text);
    memcpy(c->field, p, 28);
  }
  return std::copy(c->text, c->text + c->length, out);
}

// --- Rows ------------------------------------------------------------------

// The names of the columns in the header row. The time is two columns,
// Zeit and Zone, where it is a date; every other field one.
static const char* const names[COLUMNS] = {"Adresse", "Identit\xc3\xa4t", "Benutzer", "Zeit",
                                           "Zone",    "Anfrage",          "Status",   "Bytes",
                                           "Verweis", "Browser"};

static bool blank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

// --- Fixed-width stores -------------------------------------------------------

// A piece of a row's XML padded to a width of 8, 16 or 32 bytes, stored
// whole: a copy of a constant size is one or two moves, where a copy of
// the piece's own length was a loop of small ones, some 14 to a row. The
// bytes past the piece are written over by what follows it; addrow()
// makes room for them (ROOM). By callgrind on 20 MB, the stores took 40%
// of the instructions of addrow() and 6% of the workbook's.
template <size_t W>
struct piece {
  char text[W];  // the piece, then zeros
  size_t length;
};

template <size_t W, size_t N>
static constexpr piece<W> pad(const char (&text)[N]) {
  static_assert(N - 1 <= W, "the piece fits its width");
  piece<W> p = {};
  for (size_t i = 0; i + 1 < N; i++)
    p.text[i] = text[i];
  p.length = N - 1;
  return p;
}

template <size_t W>
static char* store(char* out, const piece<W>& p) {
  memcpy(out, p.text, W);
  return out + p.length;
}

static constexpr auto TEXT = pad<32>(" t=\"inlineStr\"><is><t>");
static constexpr auto KEPT = pad<48>(" t=\"inlineStr\"><is><t xml:space=\"preserve\">");
static constexpr auto ENDTEXT = pad<16>("</t></is></c>");
static constexpr auto DATE = pad<16>(" s=\"2\"><v>");
static constexpr auto VALUE = pad<8>("><v>");
static constexpr auto ENDVALUE = pad<8>("</v></c>");
static constexpr auto ROW = pad<8>("<row r=\"");
static constexpr auto ENDROW = pad<8>("</row>");

// The most bytes a row writes beyond WIDEST for each byte of its fields:
// for each column its reference (16 stored), its type or style and tags
// (KEPT and ENDTEXT at most, 48 + 16), and a value that is not a field's
// bytes (a time's serial, at most 24 characters); and the row's own tags
// with its number (8 + 8 + 8 + 8).
constexpr size_t ROOM = COLUMNS * (16 + 48 + 16 + 24) + 32;

// --- Rows ------------------------------------------------------------------

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

// The digits of the row numbered place, from those of the row before it
// where it follows that one: counted up in ASCII, from the last digit,
// as by hand (199 + 1: 9 to 0 twice with a carry, then 1 to 2); the rare
// carry out of the first digit, a 1 in front (999 + 1). Any other number,
// the first of a block or a sheet, is written in full.
static void count(rownumber* r, int64_t place) {
  if (r->n == 0 || place != r->place + 1) {
    r->n = (size_t)(decimal(r->digits, place) - r->digits);
    r->place = place;
    return;
  }
  r->place = place;
  size_t i = r->n;
  while (i > 0 && r->digits[i - 1] == '9')
    r->digits[--i] = '0';
  if (i > 0) {
    r->digits[i - 1]++;
  } else {
    memmove(r->digits + 1, r->digits, r->n++);
    r->digits[0] = '1';
  }
}

// The start of a cell of the row whose number the head holds: the
// reference of its column and row, as A1, stored whole and its column's
// letter set in place. The format allows the references left out, and some
// readers then see no cells at all.
struct cellhead {
  char text[16];  // <c r="A123"
  size_t length;
};

static char* begincell(char* out, const cellhead& h, int column) {
  memcpy(out, h.text, sizeof h.text);
  out[6] = (char)('A' + column);
  return out + h.length;
}

bool addrow(buffer* xml, const row& r, int64_t place, lastrow* last) {
  const unsigned char *starts[FIELDS], *ends[FIELDS];
  fields(r, starts, ends);
  if (!grow(xml, WIDEST * r.length + ROOM))
    return false;
  char* out = xml->data + xml->used;
  // A sheet has at most 1048576 rows: 7 digits, and the head has 15 bytes.
  count(&last->row, place);
  const rownumber& n = last->row;
  cellhead h;
  memcpy(h.text, "<c r=\"A", 7);
  memcpy(h.text + 7, n.digits, 8);
  h.text[7 + n.n] = '"';
  h.length = 8 + n.n;
  out = store(out, ROW);
  memcpy(out, n.digits, 8);
  out += n.n;
  *out++ = '"';
  *out++ = '>';
  for (int i = 0; i < FIELDS; i++) {
    int column = i <= TIME ? i : i + 1;  // Zone after Zeit
    out = begincell(out, h, column);
    int64_t days;
    int seconds;
    if (i == TIME && stamp(starts[i], (size_t)(ends[i] - starts[i]), &days, &seconds)) {
      out = store(out, DATE);
      out = serial(out, &last->time, starts[i], days, seconds);
      out = store(out, ENDVALUE);
      out = begincell(out, h, 4);
      out = store(out, TEXT);
      memcpy(out, starts[i] + 22, 5);  // the offset as written
      out = store(out + 5, ENDTEXT);
      continue;
    }
    if ((i == STATUS || i == BYTES) && number(starts[i], ends[i])) {
      out = store(out, VALUE);
      out = (char*)memcpy(out, starts[i], (size_t)(ends[i] - starts[i])) + (ends[i] - starts[i]);
      out = store(out, ENDVALUE);
      continue;
    }
    // Spaces at either end of a text are kept only where it says so.
    bool edge = ends[i] > starts[i] && (blank(*starts[i]) || blank(*(ends[i] - 1)));
    out = edge ? store(out, KEPT) : store(out, TEXT);
    size_t chars;
    out = xmltext(out, starts[i], ends[i], &chars);
    out = store(out, ENDTEXT);
  }
  out = store(out, ENDROW);
  xml->used = (size_t)(out - xml->data);
  return true;
}

std::string headerrow() {
  std::string s = "<row r=\"1\">";
  for (int i = 0; i < COLUMNS; i++)
    s += std::string("<c r=\"") + (char)('A' + i) + "1\" s=\"1\"" + TEXT.text + names[i] +
         ENDTEXT.text;
  return s + "</row>";
}
