// Holds the workbook's text of a field, xmltext(), to a reference written
// otherwise: the rules as the README states them, applied a byte at a time,
// with UTF-8 checked and Windows-1252 mapped by tables of its own. Both
// must give the same bytes and the same count of characters (UTF-16 units,
// as a cell counts them). Half the inputs are mostly the bytes that the
// rules treat apart (&, <, >, CR, controls, _x and hex digits, bytes from
// 0x80), so that their neighbours meet often.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "text.h"

// Windows-1252's characters for 0x80 to 0x9F; the five it leaves out keep
// their own code point.
static const uint32_t WINDOWS[32] = {0x20AC, 0x81,   0x201A, 0x192,  0x201E, 0x2026, 0x2020, 0x2021,
                                     0x2C6,  0x2030, 0x160,  0x2039, 0x152,  0x8D,   0x17D,  0x8F,
                                     0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x2DC,  0x2122, 0x161,  0x203A, 0x153,  0x9D,   0x17E,  0x178};

static std::string utf8of(uint32_t c) {
  std::string s;
  if (c < 0x80) {
    s += (char)c;
  } else if (c < 0x800) {
    s += (char)(0xC0 | (c >> 6));
    s += (char)(0x80 | (c & 0x3F));
  } else {
    s += (char)(0xE0 | (c >> 12));
    s += (char)(0x80 | ((c >> 6) & 0x3F));
    s += (char)(0x80 | (c & 0x3F));
  }
  return s;
}

static bool cont(const std::string& s, size_t i) {
  return i < s.size() && ((unsigned char)s[i] & 0xC0) == 0x80;
}

// The length of the valid UTF-8 sequence at s[i] and its code point, or 0:
// decoded first, then judged by what it decodes to (no overlong form, no
// surrogate, nothing past U+10FFFF).
static size_t valid(const std::string& s, size_t i, uint32_t* code) {
  unsigned char c = (unsigned char)s[i];
  size_t k = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
  if (k == 0)
    return 0;
  uint32_t v = c & (0x7F >> k);
  for (size_t j = 1; j < k; j++) {
    if (!cont(s, i + j))
      return 0;
    v = v << 6 | ((unsigned char)s[i + j] & 0x3F);
  }
  static const uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (v < least[k] || (v >= 0xD800 && v <= 0xDFFF) || v > 0x10FFFF)
    return 0;
  *code = v;
  return k;
}

static bool hex(char c) {
  return strchr("0123456789abcdefABCDEF", c) != nullptr && c != '\0';
}

static std::string form(uint32_t c) {
  char b[8];
  snprintf(b, sizeof b, "_x%04X_", (unsigned)c);
  return b;
}

static std::string reference(const std::string& s, size_t* chars) {
  std::string out;
  *chars = 0;
  for (size_t i = 0; i < s.size(); i++) {
    unsigned char c = (unsigned char)s[i];
    uint32_t code;
    size_t k;
    ++*chars;
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '\r')
      out += "&#13;";
    else if (c < 0x20 && c != '\t' && c != '\n')
      out += form(c);
    else if (c == '_')
      out += i + 5 < s.size() && s[i + 1] == 'x' && hex(s[i + 2]) && hex(s[i + 3]) &&
                     hex(s[i + 4]) && hex(s[i + 5])
                 ? form('_')
                 : "_";
    else if (c < 0x80)
      out += (char)c;
    else if ((k = valid(s, i, &code)) > 0) {
      out += code == 0xFFFE || code == 0xFFFF ? form(code) : s.substr(i, k);
      *chars += code >= 0x10000;
      i += k - 1;
    } else
      out += utf8of(c < 0xA0 ? WINDOWS[c - 0x80] : c);
  }
  return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string s((const char*)data, size);
  if (size > 0 && data[0] % 2) {
    static const char special[] = "&<>\r\x01\x1f_x0aF\x80\x9f\xa0\xc3\xa4\xef\xbf\xbe\xf0\x9f\x98";
    for (size_t i = 1; i < size; i++)
      s[i] = special[data[i] % (sizeof special - 1)];
  }
  size_t want;
  std::string expected = reference(s, &want);
  std::string out(WIDEST * s.size() + 8, '\0');
  size_t chars = 0;
  const unsigned char* p = (const unsigned char*)s.data();
  char* end = xmltext(&out[0], p, p + s.size(), &chars);
  out.resize((size_t)(end - &out[0]));
  if (out != expected || chars != want) {
    fprintf(stderr, "xmltext gives %zu bytes, %zu characters; the rules %zu bytes, %zu\n",
            out.size(), chars, expected.size(), want);
    abort();
  }
  return 0;
}
