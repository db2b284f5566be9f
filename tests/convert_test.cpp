// The scan through convert(): what a log turns into, what is counted, and
// how many frames the spinner draws.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>

#ifdef ZETTRIK_ZSTD
#include <zstd_errors.h>
#endif
#ifdef ZETTRIK_XZ
#include <lzma.h>
#endif
#ifdef ZETTRIK_BZIP2
#include <bzlib.h>
#endif
#include <errno.h>

#include "capture.h"
#include "codecs.h"
#include "table.h"

namespace {

const std::string good =
    "10.0.0.1 - - [07/Dec/2026:10:00:00 +0100] \"GET /index.html HTTP/1.0\" 200 512 "
    "\"-\" \"Agent/1.0 [en] (test)\"\n";
const std::string goodcsv =
    eol("10.0.0.1;-;-;[07/Dec/2026:10:00:00 +0100];\"GET /index.html HTTP/1.0\";200;512;"
        "\"-\";\"Agent/1.0 [en] (test)\"\n");

TEST(Shape, EachLineAsTheTableJudgesIt) {
  // Each line of the table alone, and all of them in one log.
  std::string log, want;
  int64_t rejected = 0;
  for (const judged& j : table()) {
    result r = run(j.line);
    EXPECT_EQ(eol(j.csv ? j.csv : ""), r.csv) << j.line;
    EXPECT_EQ(j.csv ? 0 : 1, r.faulty) << j.line;
    EXPECT_FALSE(r.unread);
    log += j.line;
    want += eol(j.csv ? j.csv : "");
    rejected += j.csv ? 0 : 1;
  }
  result r = run(log);
  EXPECT_EQ(want, r.csv);
  EXPECT_EQ(rejected, r.faulty);
}

TEST(Shape, EveryKindOfTargetTakesTheLinesTheTableAccepts) {
  // Each kind of target in the table of outputs, from its own file: the
  // same lines rejected and the same frames as the CSV, and nothing failed.
  // A program built without SQLite refuses the database, and says why.
  std::string log;
  int64_t rejected = 0;
  for (const judged& j : table()) {
    log += j.line;
    rejected += j.csv ? 0 : 1;
  }
  for (int i = 0; i < SINKS; i++) {
    const sink* k = sinks[i];
    std::string path = std::string("zettrik-test-output") + (*k->suffixes ? *k->suffixes : ".csv");
    FILE* target = fopen(path.c_str(), "w+b");
    ASSERT_NE(nullptr, target) << path;
    FILE* source = tmpfile();
    fwrite(log.data(), 1, log.size(), source);
    rewind(source);
    input in;
    plain(&in, fileno(source));
    result r = caught(&in, target, k, path.c_str());
    fclose(source);
    remove(path.c_str());
    if (r.faulty < 0) {  // not opened: only a database, where there is no SQLite
      EXPECT_STREQ("database", k->name);
      EXPECT_EQ(NODATABASE, r.written.kind);
      continue;
    }
    EXPECT_EQ(rejected, r.faulty) << k->name;
    EXPECT_EQ(table().size(), r.frames.size()) << k->name;
    EXPECT_FALSE(r.unread) << k->name;
    EXPECT_FALSE(r.unwritten) << k->name;
  }
}

TEST(Shape, CountsBelongToOneLine) {
  // An odd quote, an odd bracket and a surplus of separators must not carry
  // over into the verdict on the next line.
  result r = run("\"\n[\n a b c d e f g h i j\n" + good + "x\"\n" + good);
  EXPECT_EQ(goodcsv + goodcsv, r.csv);
  EXPECT_EQ(4, r.faulty);
}

TEST(Ends, EmptySourceGivesNothing) {
  result r = run("");
  EXPECT_EQ("", r.csv);
  EXPECT_EQ(0, r.faulty);
  EXPECT_EQ("", r.frames);
}

TEST(Ends, LastLineWithoutLineFeedIsDroppedUncounted) {
  std::string last = good.substr(0, good.size() - 1);
  result r = run(good + last);
  EXPECT_EQ(goodcsv, r.csv);
  EXPECT_EQ(0, r.faulty);
  EXPECT_EQ(1u, r.frames.size());
}

TEST(Bytes, EveryByteValueIsCopied) {
  // 0xFF must not end the scan, zero bytes must not cut the line, and a
  // carriage return inside a line is an ordinary byte.
  std::string odd("\xff\x00\x01\x1a\x7f\r", 6);
  std::string in = good;
  in.insert(in.find("Agent"), odd);
  std::string out = goodcsv;
  out.insert(out.find("Agent"), odd);
  result r = run(in + good);
  EXPECT_EQ(out + goodcsv, r.csv);
  EXPECT_EQ(0, r.faulty);
}

#ifndef _WIN32
TEST(Bytes, CarriageReturnBeforeLineFeedStaysInTheLastField) {
  std::string in = good;
  in.insert(in.size() - 1, "\r");
  std::string out = goodcsv;
  out.insert(out.size() - 1, "\r");
  result r = run(in + good);
  EXPECT_EQ(out + goodcsv, r.csv);
  EXPECT_EQ(0, r.faulty);
}
#endif

// A source that hands out one part of its log a read, then ends.
struct parted {
  std::vector<std::string> parts;
  size_t at;
};

long readparted(input* in, char* buf, size_t n) {
  parted* p = (parted*)in->state;
  if (p->at == p->parts.size())
    return 0;
  const std::string& part = p->parts[p->at++];
  if (part.size() > n)
    abort();
  memcpy(buf, part.data(), part.size());
  return (long)part.size();
}

// A combined line padded in its agent to the given length, line feed included.
std::string padded(size_t length, std::string* csv) {
  std::string pad(length - good.size(), 'x');
  std::string in = good;
  in.insert(in.find("Agent"), pad);
  *csv = goodcsv;
  csv->insert(csv->find("Agent"), pad);
  return in;
}

TEST(Lengths, LongestLineIsAcceptedOneMoreIsRejected) {
  std::string csv, longer;
  std::string in = padded(LONGEST, &csv);
  ASSERT_EQ(65535u, in.size());
  result r = run(good + in + padded(LONGEST + 1, &longer) + good);
  EXPECT_EQ(goodcsv + csv + goodcsv, r.csv);
  EXPECT_EQ(1, r.faulty);
  EXPECT_EQ(4u, r.frames.size());
  // One byte more ending in CR LF, cut by the end of a block just before
  // its line feed: on Windows the CR belongs to the line end, and the line
  // is as long as the longest; elsewhere it is one byte too long.
  std::string crlf = padded(LONGEST, &longer);  // the CSV line ends in CR LF on Windows
  crlf.insert(crlf.size() - 1, "\r");
  parted p = {{good, crlf.substr(0, crlf.size() - 1), "\n" + good}, 0};
  input source;
  plain(&source, -1);
  source.read = readparted;
  source.state = &p;
  r = caught(&source);
  EXPECT_EQ(CRLF ? goodcsv + longer + goodcsv : goodcsv + goodcsv, r.csv);
  EXPECT_EQ(CRLF ? 0 : 1, r.faulty);
}

TEST(Lengths, VeryLongLinesAcrossBlocksAreRejectedAndTheNextConverted) {
  // Several megabytes without a line feed: far more than one block of the
  // scan, with as many spaces as bytes, so no count may overflow or leak.
  std::string csv;
  std::string in = good + std::string(5 << 20, ' ') + "\n" + good + std::string(3 << 20, '"') +
                   "\n" + padded(LONGEST, &csv);
  result r = run(in);
  EXPECT_EQ(goodcsv + goodcsv + csv, r.csv);
  EXPECT_EQ(2, r.faulty);
  EXPECT_EQ(5u, r.frames.size());
}

TEST(Lengths, LinesCutByBlockEndsAreJoined) {
  // Lines of changing lengths over several blocks, so that the ends of the
  // blocks fall at every place in a line; each is accepted or rejected as a
  // whole.
  std::string in, out;
  int64_t bad = 0;
  for (int i = 0; in.size() < (3u << 20); i++) {
    std::string csv;
    std::string line = padded(good.size() + (i * 7919) % 4000, &csv);
    if (i % 13 == 0) {
      line.insert(0, "\"");
      bad++;
    } else {
      out += csv;
    }
    in += line;
  }
  result r = run(in);
  EXPECT_EQ("", differs(r.csv, out));
  EXPECT_EQ(bad, r.faulty);
}

TEST(Frames, OneFrameForEveryCompleteLineInOrder) {
  result r = run(good + "x\n\n" + good + "y\n" + "z");
  EXPECT_EQ(5u, r.frames.size());
  // The frames cycle with a period of four, whatever the spinner drew before.
  for (size_t i = 0; i + 1 < r.frames.size(); i++) {
    std::string cycle = "-\\|/";
    size_t at = cycle.find(r.frames[i]);
    ASSERT_NE(std::string::npos, at);
    EXPECT_EQ(cycle[(at + 1) % 4], r.frames[i + 1]);
  }
}

// A source that hands out its log in pieces of 100 bytes and then fails, as
// a disk or a decompressor may in the middle of a log.
struct failing {
  std::string log;
  size_t at;
};

long readfailing(input* in, char* buf, size_t n) {
  failing* f = (failing*)in->state;
  if (f->at == f->log.size())
    return -1;
  n = std::min<size_t>({n, 100, f->log.size() - f->at});
  memcpy(buf, f->log.data() + f->at, n);
  f->at += n;
  return (long)n;
}

TEST(Errors, ReadErrorIsReportedAndWhatWasReadKept) {
  // Every complete line before the failure is converted; the cut one is not.
  failing f = {good + "x\n" + good + good.substr(0, 50), 0};
  input in;
  plain(&in, -1);
  in.read = readfailing;
  in.state = &f;
  result r = caught(&in);
  EXPECT_EQ(goodcsv + goodcsv, r.csv);
  EXPECT_EQ(1, r.faulty);
  EXPECT_TRUE(r.unread);
  EXPECT_EQ(3u, r.frames.size());
}

// Without the memory for the output's share of the work, the target has
// failed, for want of memory, and the log has not: no line is converted.
TEST(Errors, AnOutputWithoutMemoryForItsPartsFails) {
  sink starving = tocsv;
  starving.newpart = []() -> void* { return nullptr; };
  failing f = {good + good, 0};
  input in;
  plain(&in, -1);
  in.read = readfailing;
  in.state = &f;
  result r = caught(&in, nullptr, &starving);
  EXPECT_TRUE(r.unwritten);
  EXPECT_EQ(NOMEMORY, r.written.kind);
  EXPECT_FALSE(r.unread);
  EXPECT_EQ("", r.csv);
}

// The causes a user meets, in words, not numbers: those of Windows too,
// told here on any system; and the codes of the libraries as the causes
// they are.
TEST(Errors, EveryCauseAUserMeetsIsToldInWords) {
  struct row {
    cause c;
    const char* words;
  } rows[] = {
      {fromwindows(112), "Kein Platz mehr auf dem Datentraeger"},
      {fromwindows(5), "Zugriff verweigert"},
      {fromwindows(6), "Das Geraet ist nicht erreichbar"},
      {fromwindows(21), "Das Laufwerk ist nicht bereit (Datentraeger entfernt?)"},
      {fromwindows(32), "Die Zieldatei ist von einem anderen Programm oder Lauf geoeffnet"},
      {fromwindows(33, true), "Das Logfile ist von einem anderen Programm geoeffnet"},
      {fromwindows(53), "Der Netzwerkpfad wurde nicht gefunden"},
      {fromwindows(64), "Die Netzwerkverbindung ist abgebrochen"},
      {fromwindows(67), "Die Netzwerkfreigabe wurde nicht gefunden"},
      {fromwindows(206), "Der Name ist zu lang"},
      {fromwindows(8), "Nicht genug Arbeitsspeicher"},
      {fromwindows(4242), "Windows-Fehler Nr. 4242"},
      {fromerrno(ETXTBSY), "Die Datei ist ein laufendes Programm"},
      {fromerrno(ENOMEM), "Nicht genug Arbeitsspeicher"},
      {fromerrno(EFBIG), "Die Datei wird groesser als erlaubt"},
      {because(UNIXSOCKET), "Der Name ist ein Socket, keine Datei"},
#ifdef ZETTRIK_SQLITE
      {fromsqlite(10, 32, true, "disk I/O error"),  // SQLITE_IOERR
       "Die Zieldatei ist von einem anderen Programm oder Lauf geoeffnet"},
      {fromsqlite(10, 0, false, "disk I/O error"), "SQLite meldet: disk I/O error"},
      {fromsqlite(13, 0, true, "database or disk is full"), "Kein Platz mehr auf dem Datentraeger"},
#endif
  };
  for (const row& r : rows) {
    char line[REASON];
    reason(r.c, line, sizeof line);
    EXPECT_EQ("\tGrund: " + std::string(r.words) + "\n", line);
  }
  cause c = because(NOTBUILT);
  c.format = "zstd";
  char line[REASON];
  reason(c, line, sizeof line);
  EXPECT_STREQ(
      "\tGrund: Das Logfile ist mit zstd komprimiert; dieses Programm ist ohne zstd gebaut und "
      "liest es nicht\n",
      line);
#ifdef ZETTRIK_ZSTD
  EXPECT_EQ(NOMEMORY, fromzstd(ZSTD_error_memory_allocation));
#endif
#ifdef ZETTRIK_XZ
  EXPECT_EQ(NOMEMORY, fromlzma(LZMA_MEM_ERROR));
#endif
#ifdef ZETTRIK_BZIP2
  EXPECT_EQ(NOMEMORY, frombzip2(BZ_MEM_ERROR));
#endif
}

// A log of several blocks with some bad lines and a cut end.
std::string mixed(size_t size) {
  std::mt19937 rng(2026);
  std::string log;
  while (log.size() < size)
    log += rng() % 9 ? good : "x\"y\n";
  return log + "cut";
}

#ifdef ZETTRIK_ZLIB

// The log as two members whose first, of stored blocks, is exactly first
// bytes long, and whose second has a header of the given flags.
std::string twomembers(const std::string& log, size_t first, int flags) {
  int64_t length = (int64_t)first - 100;
  std::string one = gz(log.substr(0, length), 0);
  for (int i = 0; i < 8 && one.size() != first; i++) {
    length += (int64_t)first - (int64_t)one.size();
    one = gz(log.substr(0, length), 0);
  }
  EXPECT_EQ(first, one.size());
  return one + gz(log.substr(length), 6, flags);
}

// Every inflater and openlog(), which chooses one.
std::vector<std::pair<const char*, how*>> choosers() {
  std::vector<std::pair<const char*, how*>> all = inflaters();
  all.push_back({"openlog", [](input* in) { return openlog(in, in->fd); }});
  return all;
}

const int every = FTEXT | FHCRC | FEXTRA | FNAME | FCOMMENT;

// Whole, every inflater gives what the plain log gives: one member or
// several, of several levels, with zeros after them, with every flag of the
// header, and with a header that arrives in pieces.
TEST(Inflate, EveryInflaterGivesWhatThePlainLogGives) {
  std::string log = mixed(3u << 20);
  result want = run(log);
  size_t a = log.size() / 3, b = 2 * log.size() / 3;
  std::vector<std::string> files = {
      gz(log),
      gz(log.substr(0, a), 1) + gz(log.substr(a, b - a), 9, FNAME) + gz(log.substr(b)) +
          std::string(1000, '\0'),
  };
  for (const std::string& file : files)
    for (auto& c : choosers()) {
      result r = through(file, c.second);
      ASSERT_EQ("", differs(r.csv, want.csv)) << c.first << ", " << file.size() << " bytes";
      EXPECT_EQ(want.faulty, r.faulty) << c.first;
      EXPECT_EQ(want.frames.size(), r.frames.size()) << c.first;
      EXPECT_FALSE(r.unread) << c.first;
    }
  // Every combination of flags, in two members.
  std::string small = mixed(300000);
  std::string wanted = run(small).csv;
  for (int flags = 0; flags <= every; flags++)
    for (auto& c : choosers()) {
      std::string file =
          gz(small.substr(0, 1000), 1, flags) + gz(small.substr(1000), 1, every ^ flags);
      result r = through(file, c.second);
      ASSERT_EQ("", differs(r.csv, wanted)) << c.first << ", flags " << flags;
      EXPECT_FALSE(r.unread) << c.first << ", flags " << flags;
    }
  // The second member's header across the end of the bytes that the
  // framing reads ahead, wherever it falls there.
  for (size_t first = READAHEAD - 12; first < READAHEAD + 18; first++)
    for (auto& c : choosers()) {
      result r = through(twomembers(small, first, every), c.second);
      ASSERT_EQ("", differs(r.csv, wanted)) << c.first << ", second member at " << first;
      EXPECT_FALSE(r.unread) << c.first << ", second member at " << first;
    }
#ifndef _WIN32
  // Through a pipe that hands over the first bytes in pieces of every size.
  std::string piece = gz(small, 6, every);
  for (size_t size = 1; size <= 400; size += size < 40 ? 1 : 37)
    for (auto& c : choosers()) {
      result r = feed(piece, 0, c.second, size);
      ASSERT_EQ("", differs(r.csv, wanted)) << c.first << ", pieces of " << size;
      EXPECT_FALSE(r.unread) << c.first << ", pieces of " << size;
    }
#endif
}

TEST(Inflate, DamageInTheFramingIsReported) {
  std::string log = mixed(1u << 20);
  result want = run(log);
  std::string data = gz(log);
  std::string named = gz(log, 6, every);
  size_t hcrc = named.size() - (data.size() - 10) - 2;  // where the header's CRC is
  // Damage in gzip's own framing that every inflater must find, at the
  // given byte, after every line that zlib inflates from the bytes before
  // it.
  const struct {
    const char* why;
    std::string file;
    size_t at;
  } found[] = {
      {"cut in the header", data.substr(0, 5), 0},
      {"cut in the comment", named.substr(0, 330), 0},
      {"something after the zeros", data + std::string(10, '\0') + "\x1f", data.size()},
      {"a wrong checksum", data.substr(0, data.size() - 8) + std::string(8, 'c'), data.size()},
      {"a wrong length", data.substr(0, data.size() - 1) + "\x7f", data.size()},
      {"a reserved flag bit", data.substr(0, 3) + '\x20' + data.substr(4), 0},
      {"the same in member two", data + data.substr(0, 3) + '\x80' + data.substr(4), data.size()},
      {"a method not deflate", data.substr(0, 2) + '\x07' + data.substr(3), 0},
      {"a wrong header CRC",
       named.substr(0, hcrc) + (char)(named[hcrc] ^ 1) + named.substr(hcrc + 1), 0},
      {"a log compressed twice", gz(data), 0},
      {"gzip around another format",
       gz("\xfd"
          "7zXZ" +
          std::string(1, '\0') + log),
       0},
  };
  for (const auto& d : found) {
    std::string least = run(inflated(d.file.substr(0, d.at))).csv;
    for (auto& c : choosers()) {
      result r = through(d.file, c.second);
      EXPECT_TRUE(r.unread) << c.first << ", " << d.why;
      EXPECT_EQ(0u, want.csv.rfind(r.csv, 0))
          << c.first << ", " << d.why << ": not what came before";
      EXPECT_LE(least.size(), r.csv.size()) << c.first << ", " << d.why << ": lines lost before it";
    }
  }
}
#endif

// Every decoder, from a file and chosen by openlog(): a frame at a low
// level, and empty frames and frames of two levels one after another with
// the padding its format allows between and after them (where it allows
// more than one), give what the plain log gives.
TEST(Decode, EveryDecoderGivesWhatThePlainLogGives) {
  std::string log = mixed((1u << 20) + 100000);  // more than a block
  result want = run(log);
  size_t a = log.size() / 3;
  how* chosen = [](input* in) { return openlog(in, in->fd); };
  for (const codec& c : decoders()) {
    std::vector<std::string> files = {c.low(log), c.high(log)};
    if (c.several)
      files.push_back(c.low("") + c.high(log.substr(0, a)) + c.padding + c.low(log.substr(a)) +
                      c.padding + c.high(""));
    for (const std::string& file : files)
      for (how* open : {c.open, chosen}) {
        result r = through(file, open);
        ASSERT_EQ("", differs(r.csv, want.csv)) << c.name << ", " << file.size() << " bytes";
        EXPECT_EQ(want.faulty, r.faulty) << c.name;
        EXPECT_EQ(want.frames.size(), r.frames.size()) << c.name;
        EXPECT_FALSE(r.unread) << c.name;
      }
  }
}

// The table of formats and the codecs of the tests: every format that has
// a decoder in this build has a codec here, whose files the table takes
// for that format, so that no format is left out of the rows above.
TEST(Decode, EveryFormatOfTheTableHasACodec) {
  for (size_t i = 0; i < FORMATS; i++) {
    const format& f = formats[i];
    if (f.library == nullptr)
      continue;
    bool found = false;
    for (const codec& c : decoders()) {
      if (strcmp(c.format, f.name) != 0)
        continue;
      found = true;
      for (const std::string& file : {c.low("x\n"), c.high("x\n")}) {
        bool cut;
        const format* g = recognise((const unsigned char*)file.data(), file.size(), &cut);
        ASSERT_NE(nullptr, g) << c.name;
        EXPECT_STREQ(f.name, g->name) << c.name;
        EXPECT_FALSE(cut) << c.name;
      }
    }
    EXPECT_TRUE(found) << f.name << " has a decoder but no codec in the tests";
  }
}

// Damage that every decoder finds, after every line that its library
// decodes from the bytes before it: cut short, something after the last
// frame that its format does not allow, a changed byte. The lines made
// just before damage that only a checksum reveals may hold damaged bytes;
// otherwise what comes out is how the whole log begins.
TEST(Decode, DamageIsReportedAfterWhatCameBefore) {
  std::string log = mixed((1u << 20) + 100000);
  result want = run(log);
  for (const codec& c : decoders()) {
    std::string data = c.high(log);
    size_t half = data.size() / 2;
    std::string flipped = data;
    flipped[half] ^= 0x10;
    const struct {
      const char* why;
      std::string file;
      size_t at;
      bool checked;  // damage that a checksum may be the first to see
    } found[] = {
        {"cut short", data.substr(0, half), half, false},
        {"not a frame after the last", data + "x", data.size(), false},
        {"padding its format does not allow", data + c.refused, data.size(), false},
        {"a byte changed", flipped, half, true},
    };
    for (const auto& d : found) {
      if (d.checked && !c.checked)
        continue;  // no check, and a changed byte may decode to other bytes
      std::string least = run(c.prefix(d.file.substr(0, d.at))).csv;
      result r = through(d.file, c.open);
      EXPECT_TRUE(r.unread) << c.name << ", " << d.why;
      EXPECT_EQ(0, r.csv.compare(0, least.size(), least))
          << c.name << ", " << d.why << ": lines lost";
      if (!d.checked) {
        EXPECT_EQ(0u, want.csv.rfind(r.csv, 0))
            << c.name << ", " << d.why << ": not what came before";
      }
    }
    // A bit turned anywhere: it is damage, or it changed nothing that counts
    // (a few header bytes are checked by nothing).
    std::mt19937 rng(8);
    for (int i = 0; i < 20 && c.checked; i++) {
      std::string file = data;
      file[rng() % file.size()] ^= (char)(1 << (rng() % 8));
      result r = through(file, c.open);
      EXPECT_TRUE(r.unread || r.csv == want.csv) << c.name << ", bit turned, round " << i;
    }
  }
}

}  // namespace

#ifndef _WIN32
namespace {

TEST(Errors, ReadErrorOfTheDescriptorIsReported) {
  // A folder opens for reading here but every read of it fails.
  FILE* source = fopen(".", "rb");
  ASSERT_NE(nullptr, source);
  result r = caught(source);
  EXPECT_TRUE(r.unread);
  EXPECT_EQ("", r.csv);
  EXPECT_EQ(0, r.faulty);
}

TEST(Blocks, UnevenReadsFromAPipeGiveWhatTheScanGives) {
  // The log comes through a pipe in pieces of random sizes, so that blocks of
  // every size follow one another: lines are cut at every place, some by
  // several blocks in a row, and lines too long to carry run over many
  // blocks. Each block may go to either worker; the result must not depend
  // on which, nor on where the blocks end.
  std::mt19937 rng(8122026);
  std::string log;
  int64_t lines = 0;
  std::string csv;
  while (log.size() < (3u << 20)) {
    switch (rng() % 8) {
      case 0:
        log += padded(good.size() + rng() % (LONGEST + 2000 - good.size()), &csv);
        break;
      case 1:
        log += "x\"" + std::string(rng() % 200, ' ') + "\n";
        break;
      case 2:
        log += std::string(LONGEST + rng() % 300000, 'y') + "\n";
        break;
      default:
        log += good;
    }
    lines++;
  }
  log += "cut short";
  std::string want = oracle(log);
  int64_t wanted = lines - (int64_t)(std::count(want.begin(), want.end(), '\n'));

  result r = feed(log, 20261208);
  EXPECT_EQ("", differs(r.csv, want));
  EXPECT_EQ(wanted, r.faulty);
  EXPECT_FALSE(r.unread);
  EXPECT_EQ((size_t)lines, r.frames.size());
}

TEST(Blocks, EachBlockIsWrittenAfterTheOneBefore) {
  // The second block's lines fill far more than a pipe holds, and the pipe
  // is read a page at a time: its worker waits in the middle of writing
  // while the worker of the third block, a single line, is ready to write.
  // Written out of turn, that line would land among the second block's.
  std::string second, third = "9.9.9.9 - - [t] \"GET / H\" 200 5 \"-\" \"last\"\n";
  while (second.size() < 900000)
    second += good;
  parted p = {{good, second, third}, 0};
  input in;
  plain(&in, -1);
  in.read = readparted;
  in.state = &p;
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  std::string got;
  std::thread reader([&] {
    char page[4096];
    ssize_t n;
    while ((n = read(fds[0], page, sizeof page)) > 0) {
      got.append(page, (size_t)n);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  FILE* target = fdopen(fds[1], "wb");
  result r = caught(&in, target);  // which closes it
  reader.join();
  close(fds[0]);
  EXPECT_EQ("", differs(got, oracle(good + second + third)));
  EXPECT_EQ(0, r.faulty);
}

}  // namespace
#endif
