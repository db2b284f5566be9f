// The workbook's yardstick for the benchmark: the same cells written with
// libxlsxwriter in its constant-memory mode, a line at a time. It accepts a
// line as zettrik does (byte at a time) and applies the same rules to its
// fields, for the logs the benchmark makes; it is not a second converter.
//
//   zettrik-xlsxpeer <quelle.log> <ziel.xlsx>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <xlsxwriter.h>

#include <string>

#include "utf8.h"

static const char* const names[9] = {"Adresse", "Identit\xc3\xa4t", "Benutzer",
                                     "Zeit",    "Anfrage",          "Status",
                                     "Bytes",   "Verweis",          "Browser"};

// Windows-1252 for 0x80 to 0x9F, as the workbook takes a byte that is no
// UTF-8.
static const uint16_t cp1252[32] = {0x20ac, 0x0081, 0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021,
                                    0x02c6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008d, 0x017d, 0x008f,
                                    0x0090, 0x2018, 0x2019, 0x201c, 0x201d, 0x2022, 0x2013, 0x2014,
                                    0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0x009d, 0x017e, 0x0178};

static std::string text(const unsigned char* p, const unsigned char* end) {
  std::string s;
  while (p < end) {
    size_t k = sequence(p, (size_t)(end - p));
    if (k) {
      s.append((const char*)p, k);
      p += k;
      continue;
    }
    unsigned c = *p < 0xa0 ? cp1252[*p - 0x80] : *p;
    if (c < 0x800) {
      s += (char)(0xc0 | c >> 6);
    } else {
      s += (char)(0xe0 | c >> 12);
      s += (char)(0x80 | (c >> 6 & 0x3f));
    }
    s += (char)(0x80 | (c & 0x3f));
    p++;
  }
  return s;
}

static lxw_worksheet* sheet(lxw_workbook* book, lxw_format* bold, int number) {
  std::string name = number == 1 ? "Zugriffe" : "Zugriffe " + std::to_string(number);
  lxw_worksheet* w = workbook_add_worksheet(book, name.c_str());
  worksheet_freeze_panes(w, 1, 0);
  for (int i = 0; i < 9; i++)
    worksheet_write_string(w, 0, (lxw_col_t)i, names[i], bold);
  return w;
}

int main(int argc, char** argv) {
  if (argc != 3)
    return 2;
  FILE* source = fopen(argv[1], "rb");
  lxw_workbook_options options = {LXW_TRUE, nullptr, LXW_TRUE};
  lxw_workbook* book = workbook_new_opt(argv[2], &options);
  if (!source || !book)
    return 1;
  lxw_format* bold = workbook_add_format(book);
  format_set_bold(bold);
  int sheets = 1;
  lxw_worksheet* w = sheet(book, bold, sheets);
  long rows = 0;
  char* line = nullptr;
  size_t room = 0;
  ssize_t n;
  while ((n = getline(&line, &room, source)) > 0) {
    if (line[n - 1] != '\n' || n > 65535)
      continue;
    const unsigned char* p = (const unsigned char*)line;
    const unsigned char *starts[9], *ends[9];
    int quotes = 0, brackets = 0, separators = 0;
    starts[0] = p;
    for (ssize_t i = 0; i < n - 1; i++) {
      if (p[i] == '"') {
        quotes++;
      } else if ((p[i] == '[' || p[i] == ']') && quotes % 2 == 0) {
        brackets++;
      } else if (p[i] == ' ' && quotes % 2 == 0 && brackets % 2 == 0) {
        if (separators < 8) {
          ends[separators] = p + i;
          starts[separators + 1] = p + i + 1;
        }
        separators++;
      }
    }
    if (separators != 8 || quotes != 6 || brackets != 2)
      continue;
    ends[8] = p + n - 1 - (n > 1 && p[n - 2] == '\r');
    if (rows == 1048575) {
      worksheet_autofilter(w, 0, 0, (lxw_row_t)rows, 8);
      w = sheet(book, bold, ++sheets);
      rows = 0;
    }
    rows++;
    for (int i = 0; i < 9; i++) {
      const unsigned char *a = starts[i], *b = ends[i];
      if (b - a >= 2 && *a == '"' && b[-1] == '"') {
        a++;
        b--;
      }
      size_t k = (size_t)(b - a);
      bool number = (i == 5 || i == 6) && k > 0 && k <= 15 && (a[0] != '0' || k == 1) &&
                    strspn((const char*)a, "0123456789") >= k;
      if (number)
        worksheet_write_number(w, (lxw_row_t)rows, (lxw_col_t)i,
                               atof(std::string((const char*)a, k).c_str()), nullptr);
      else
        worksheet_write_string(w, (lxw_row_t)rows, (lxw_col_t)i, text(a, b).c_str(), nullptr);
    }
  }
  worksheet_autofilter(w, 0, 0, (lxw_row_t)rows, 8);
  free(line);
  fclose(source);
  return workbook_close(book) == LXW_NO_ERROR ? 0 : 1;
}
