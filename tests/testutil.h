// What the tests and the fuzzers share: convert() on a log held in memory,
// the scans applied to a string, the plain scan as the oracle, and where two
// results first differ.
#ifndef ZETTRIK_TESTUTIL_H
#define ZETTRIK_TESTUTIL_H

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define close _close
#else
#include <unistd.h>
#endif

#include "convert.h"
#include "input.h"
#include "scan.h"

struct result {
  std::string csv;     // what was written to the target
  int64_t faulty;      // what convert() returned
  bool unread;         // whether it saw a read error
  std::string frames;  // what it printed: the spinner's frames
};

// A CSV text as written here: on Windows every line ends in CR LF.
inline std::string eol(const std::string& s) {
#ifdef _WIN32
  std::string t;
  for (char ch : s) {
    if (ch == '\n')
      t += '\r';
    t += ch;
  }
  return t;
#else
  return s;
#endif
}

// Where got first differs from want, to be told instead of two strings of
// megabytes; "" when they are the same.
inline std::string differs(const std::string& got, const std::string& want) {
  if (got == want)
    return "";
  size_t at = 0;
  while (at < got.size() && at < want.size() && got[at] == want[at])
    at++;
  char buf[200];
  snprintf(buf, sizeof buf, "differs at byte %zu of %zu (%zu wanted): got \"%s\", want \"%s\"", at,
           got.size(), want.size(), got.substr(at, 16).c_str(), want.substr(at, 16).c_str());
  return buf;
}

inline std::string slurp(FILE* f) {
  std::string s;
  char buf[1 << 16];
  size_t n;
  rewind(f);
  while ((n = fread(buf, 1, sizeof buf, f)) > 0)
    s.append(buf, n);
  return s;
}

// Converts from in into a temporary file, or into target where one is
// given, with standard output caught in another for the frames.
inline result caught(input* in, FILE* target = nullptr) {
  result r;
  bool own = target == nullptr;
  if (own)
    target = tmpfile();
  FILE* screen = tmpfile();

  fflush(stdout);
  int saved = dup(1);
  dup2(fileno(screen), 1);
  output out = {target, nullptr, 0, because(UNKNOWN), nullptr, 0};
  r.faulty = convert(in, &out, &r.unread);
  fflush(stdout);
  dup2(saved, 1);
  close(saved);

  fflush(target);
  if (own) {
    r.csv = slurp(target);
    fclose(target);
  }
  r.frames = slurp(screen);
  fclose(screen);
  return r;
}

// A source for the bytes of a file: how sets it up once plain() has.
typedef bool how(input* in);

// Converts the bytes that come from fd through the source that make sets up
// (the log as it is where make is nullptr).
inline result from(int fd, how* make) {
  input in;
  plain(&in, fd);
  if (make && !make(&in))
    abort();
  result r = caught(&in);
  finish(&in);
  return r;
}

// Converts the log from the file it is in, as it is.
inline result caught(FILE* source) {
  result r = from(fileno(source), nullptr);
  fclose(source);
  return r;
}

// Converts the bytes in file, from a temporary file, through the source
// that make sets up.
inline result through(const std::string& file, how* make) {
  FILE* source = tmpfile();
  fwrite(file.data(), 1, file.size(), source);
  fflush(source);
  rewind(source);
  result r = from(fileno(source), make);
  fclose(source);
  return r;
}

// Converts log from a temporary file, as it is.
inline result run(const std::string& log) {
  return through(log, nullptr);
}

// Whether the shorter of a and b is how the longer begins: what an inflater
// that stopped earlier made, against one that went on further.
inline bool nested(const std::string& a, const std::string& b) {
  const std::string& shorter = a.size() < b.size() ? a : b;
  const std::string& longer = a.size() < b.size() ? b : a;
  return longer.compare(0, shorter.size(), shorter) == 0;
}

#ifndef _WIN32
#include <sys/ioctl.h>

// Converts file as it comes through a pipe, through the source that make
// sets up. Where piece is 0, it is written in pieces of random sizes from
// seed: mostly a few hundred bytes, now and then up to 100 KB; reads from a
// pipe return what has arrived, so blocks of every size follow one another,
// and lines are cut anywhere. Otherwise the first 1000 bytes go in pieces of
// that size, each once the pipe is empty again, so that each is read on its
// own, and the rest at once.
inline result feed(const std::string& file, unsigned seed, how* make = nullptr, size_t piece = 0) {
  int fds[2];
  if (pipe(fds) != 0)
    abort();
  std::thread writer([&] {
    std::mt19937 sizes(seed);
    for (size_t at = 0; at < file.size();) {
      size_t n = sizes() % 4 == 0 ? sizes() % 100000 : sizes() % 300 + 1;
      if (piece > 0) {
        int queued;
        while (ioctl(fds[1], FIONREAD, &queued) == 0 && queued > 0)
          std::this_thread::yield();
        n = at < 1000 ? piece : file.size();
      }
      ssize_t w = write(fds[1], file.data() + at, std::min<size_t>(file.size() - at, n));
      if (w <= 0)
        break;
      at += (size_t)w;
    }
    close(fds[1]);
  });
  result r = from(fds[0], make);
  // A conversion that ends at damage leaves bytes unread; the writer waits
  // for them to be taken.
  char rest[4096];
  while (read(fds[0], rest, sizeof rest) > 0) {
  }
  close(fds[0]);
  writer.join();
  return r;
}
#endif

#ifdef ZETTRIK_ZLIB
#include <zlib.h>

// The flags of a gzip header, as the tests set them.
enum { FTEXT = 1, FHCRC = 2, FEXTRA = 4, FNAME = 8, FCOMMENT = 16 };

inline std::string little(uint32_t v, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; i++)
    s += (char)(v >> (8 * i));
  return s;
}

// The log as one gzip member, deflated by zlib at the given level, with a
// header of the given flags and the fields they announce.
inline std::string gz(const std::string& log, int level = 6, int flags = 0) {
  std::string out = std::string("\x1f\x8b\x08", 3) + (char)flags + little(1765152000, 4) +
                    std::string("\0\3", 2);  // no extra flags; Unix
  if (flags & FEXTRA) {
    std::string field = "Zk" + little(300, 2) + std::string(300, '\xee');
    out += little((uint32_t)field.size(), 2) + field;
  }
  if (flags & FNAME)
    out += std::string("access.log", 11);
  if (flags & FCOMMENT)
    out += std::string("rotated \xfc\xff", 11);
  if (flags & FHCRC)
    out += little(crc32(0, (const Bytef*)out.data(), (uInt)out.size()), 2);
  z_stream z = {};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string data(deflateBound(&z, log.size()), '\0');
  z.next_in = (Bytef*)log.data();
  z.avail_in = (uInt)log.size();
  z.next_out = (Bytef*)&data[0];
  z.avail_out = (uInt)data.size();
  deflate(&z, Z_FINISH);
  data.resize(z.total_out);
  deflateEnd(&z);
  uint32_t crc = crc32(0, (const Bytef*)log.data(), (uInt)log.size());
  return out + data + little(crc, 4) + little((uint32_t)log.size(), 4);
}
#endif

// Every inflater that this build has, by name.
inline std::vector<std::pair<const char*, how*>> inflaters() {
  std::vector<std::pair<const char*, how*>> all;
#ifdef ZETTRIK_ISAL
  all.push_back({"isal", inflateisal});
#endif
#ifdef ZETTRIK_ZLIB
  all.push_back({"zlib", inflatezlib});
#endif
  return all;
}

#ifdef ZETTRIK_ZSTD
#include <zstd.h>

// The log as one zstd frame at the given level, with the checksum of its
// content, as the zstd tool writes it.
inline std::string zst(const std::string& log, int level = 3) {
  ZSTD_CCtx* z = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(z, ZSTD_c_compressionLevel, level);
  ZSTD_CCtx_setParameter(z, ZSTD_c_checksumFlag, 1);
  std::string out(ZSTD_compressBound(log.size()), '\0');
  out.resize(ZSTD_compress2(z, &out[0], out.size(), log.data(), log.size()));
  ZSTD_freeCCtx(z);
  return out;
}

// A skippable frame: passed over, whatever it holds.
inline std::string skippable(const std::string& data) {
  return std::string("\x53\x2a\x4d\x18", 4) + little((uint32_t)data.size(), 4) + data;
}

// What the library decodes from the first bytes of a zstd file, as far as
// they go.
inline std::string unzst(const std::string& part) {
  ZSTD_DCtx* z = ZSTD_createDCtx();
  std::string out;
  char buf[1 << 16];
  ZSTD_inBuffer in = {part.data(), part.size(), 0};
  for (;;) {
    ZSTD_outBuffer put = {buf, sizeof buf, 0};
    size_t r = ZSTD_decompressStream(z, &put, &in);
    out.append(buf, put.pos);
    if (ZSTD_isError(r) || (put.pos == 0 && in.pos == in.size))
      break;
  }
  ZSTD_freeDCtx(z);
  return out;
}
#endif

#ifdef ZETTRIK_XZ
#include <lzma.h>

// The log as one xz stream at the given preset.
inline std::string xzed(const std::string& log, uint32_t preset = 6) {
  std::string out(lzma_stream_buffer_bound(log.size()), '\0');
  size_t at = 0;
  lzma_easy_buffer_encode(preset, LZMA_CHECK_CRC64, nullptr, (const uint8_t*)log.data(), log.size(),
                          (uint8_t*)&out[0], &at, out.size());
  out.resize(at);
  return out;
}

inline std::string unxzed(const std::string& part) {
  lzma_stream z = LZMA_STREAM_INIT;
  if (lzma_stream_decoder(&z, UINT64_MAX, LZMA_CONCATENATED) != LZMA_OK)
    abort();
  std::string out;
  char buf[1 << 16];
  z.next_in = (const uint8_t*)part.data();
  z.avail_in = part.size();
  lzma_ret r = LZMA_OK;
  while (r == LZMA_OK) {
    z.next_out = (uint8_t*)buf;
    z.avail_out = sizeof buf;
    r = lzma_code(&z, LZMA_RUN);
    out.append(buf, sizeof buf - z.avail_out);
    if (z.avail_out == sizeof buf && z.avail_in == 0)
      break;
  }
  lzma_end(&z);
  return out;
}
#endif

#ifdef ZETTRIK_BZIP2
#include <bzlib.h>

// The log as one bzip2 stream at the given level.
inline std::string bz2(const std::string& log, int level = 9) {
  std::string out(log.size() + log.size() / 100 + 600, '\0');
  unsigned n = (unsigned)out.size();
  BZ2_bzBuffToBuffCompress(&out[0], &n, (char*)log.data(), (unsigned)log.size(), level, 0, 0);
  out.resize(n);
  return out;
}

inline std::string unbz2(const std::string& part) {
  bz_stream z = {};
  BZ2_bzDecompressInit(&z, 0, 0);
  std::string out;
  char buf[1 << 16];
  z.next_in = (char*)part.data();
  z.avail_in = (unsigned)part.size();
  int r = BZ_OK;
  while (r == BZ_OK) {
    z.next_out = buf;
    z.avail_out = sizeof buf;
    r = BZ2_bzDecompress(&z);
    out.append(buf, sizeof buf - z.avail_out);
    if (z.avail_out == sizeof buf)
      break;
  }
  BZ2_bzDecompressEnd(&z);
  return out;
}
#endif

#ifdef ZETTRIK_ZLIB
// What zlib inflates from the first bytes of a gzip file, as far as they go.
inline std::string inflated(const std::string& part) {
  z_stream z = {};
  inflateInit2(&z, 16 + 15);
  std::string out(3 * part.size() + (1 << 20), '\0');
  z.next_in = (Bytef*)part.data();
  z.avail_in = (uInt)part.size();
  z.next_out = (Bytef*)&out[0];
  z.avail_out = (uInt)out.size();
  while (inflate(&z, Z_SYNC_FLUSH) == Z_OK && z.avail_in > 0 && z.avail_out > 0) {
  }
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}
#endif

// A decoder of this build and its format: how it is set up, how the format
// is made at a low and a high level, what may pad one frame from the next,
// what its format refuses after the last frame, and what its library
// decodes of the first bytes of a file, as far as they go.
struct codec {
  const char* name;
  const char* format;
  how* open;
  std::string (*low)(const std::string& log);
  std::string (*high)(const std::string& log);
  std::string padding;
  std::string refused;
  std::string (*prefix)(const std::string& part);
};

inline std::vector<codec> decoders() {
  std::vector<codec> all;
#ifdef ZETTRIK_ZLIB
  for (auto& f : inflaters())
    all.push_back({f.first, "gzip", f.second, [](const std::string& l) { return gz(l, 1); },
                   [](const std::string& l) { return gz(l, 9, FNAME | FHCRC); }, "",
                   std::string("\0\0\0x", 4), inflated});
#endif
#ifdef ZETTRIK_ZSTD
  all.push_back({"zstd", "zstd", decodezstd, [](const std::string& l) { return zst(l, 1); },
                 [](const std::string& l) { return skippable("index") + zst(l, 12); }, "",
                 std::string(4, '\0'), unzst});
#endif
#ifdef ZETTRIK_XZ
  all.push_back({"xz", "xz", decodexz, [](const std::string& l) { return xzed(l, 0); },
                 [](const std::string& l) { return xzed(l, 3); }, std::string(8, '\0'),
                 std::string(3, '\0'), unxzed});
#endif
#ifdef ZETTRIK_BZIP2
  all.push_back({"bzip2", "bzip2", decodebzip2, [](const std::string& l) { return bz2(l, 1); },
                 [](const std::string& l) { return bz2(l, 9); }, "", std::string(4, '\0'), unbz2});
#endif
  return all;
}

struct outcome {
  std::string bytes;         // the input after the scan
  std::vector<size_t> ends;  // where each told line ends, as offsets
  std::vector<bool> shaped;  // and its verdict
  counts last;               // the counts of the line cut at the end
};

// Scans data in calls of chunk bytes each (the last may be shorter), as the
// converter does, starting from the given counts.
inline outcome apply(scanner* f, const std::string& data, counts start, size_t chunk) {
  outcome o;
  o.bytes = data;
  std::vector<ending> lines(data.size() + 1);
  char* base = &o.bytes[0];
  char* end = base + data.size();
  o.last = start;
  for (char* p = base; p < end;) {
    char* stop = (size_t)(end - p) > chunk ? p + chunk : end;
    int n = f(p, stop, &o.last, lines.data());
    for (int i = 0; i < n; i++) {
      o.ends.push_back(lines[i].next - base);
      o.shaped.push_back(lines[i].shaped);
    }
    p = stop;
  }
  return o;
}

// Where a scan's outcome first differs from the oracle's: the bytes, the
// lines told and their verdicts, the counts carried on; "" when it does not.
inline std::string differs(const outcome& got, const outcome& want) {
  std::string d = differs(got.bytes, want.bytes);
  if (!d.empty())
    return "bytes " + d;
  for (size_t i = 0; i < std::max(got.ends.size(), want.ends.size()); i++)
    if (i >= got.ends.size() || i >= want.ends.size() || got.ends[i] != want.ends[i] ||
        got.shaped[i] != want.shaped[i])
      return "line " + std::to_string(i) + " ends or is judged otherwise";
  if (got.last.quotes != want.last.quotes || got.last.brackets != want.last.brackets ||
      got.last.separators != want.last.separators)
    return "the counts carried on differ";
  return "";
}

// Lines and what becomes of them, written out by hand, so that no code of
// the program decides what is expected: the CSV line of an accepted line,
// nullptr for a rejected one. The accepted lines each show a rule at work;
// the first six rejected ones each break exactly one of the three counts
// (8 separators, 6 quotes, 2 brackets) by one, either way.
struct judged {
  std::string line;
  const char* csv;
};

inline std::vector<judged> table() {
  return {
      // Spaces inside the brackets and inside quotes stay, and brackets
      // inside quotes do not count.
      {"10.0.0.1 - - [07/Dec/2026:10:00:00 +0100] \"GET /index.html HTTP/1.0\" 200 512 \"-\" "
       "\"Agent/1.0 [en] (test)\"\n",
       "10.0.0.1;-;-;[07/Dec/2026:10:00:00 +0100];\"GET /index.html HTTP/1.0\";200;512;\"-\";"
       "\"Agent/1.0 [en] (test)\"\n"},
      // Only the counts matter, not where the fields stand.
      {"1.2.3.4 - - \"GET / H\" 200 5 \"-\" \"A/1\" [t+0100]\n",
       "1.2.3.4;-;-;\"GET / H\";200;5;\"-\";\"A/1\";[t+0100]\n"},
      // Quotes count inside brackets too.
      {"1.2.3.4 - - [t \"u v\"] \"GET / H\" 200 5 \"-\" agent\n",
       "1.2.3.4;-;-;[t \"u v\"];\"GET / H\";200;5;\"-\";agent\n"},
      // ']' and '[' are alike.
      {"1.2.3.4 - - ]t u[ \"GET / H\" 200 5 \"-\" \"A\"\n",
       "1.2.3.4;-;-;]t u[;\"GET / H\";200;5;\"-\";\"A\"\n"},
      // Semicolons, tabs and every other byte are copied as they are.
      {"1.2.3.4 - u;x [t] \"GET /a;b H\" 200 5 \"-\" \"A;B\t\xff\"\n",
       "1.2.3.4;-;u;x;[t];\"GET /a;b H\";200;5;\"-\";\"A;B\t\xff\"\n"},
      {"1.2.3.4 -- [t] \"GET / H\" 200 5 \"-\" \"A\"\n", nullptr},     // 7 separators
      {"1.2.3.4 - - [t] \"GET / H\" 200 5 \"-\" \"A\" x\n", nullptr},  // 9 separators
      {"1.2.3.4 - - [t] \"GET / H\" 200 5 \"-\" \"A\n", nullptr},      // 5 quotes
      {"1.2.3.4 - - [t] \"GET / H\" 200 5 \"-\" \"A\"\"\n", nullptr},  // 7 quotes
      {"1.2.3.4 - - \"GET / H\" 200 5 \"-\" \"A\" [t\n", nullptr},     // 1 bracket
      {"1.2.3.4 - - \"GET / H\" 200 5 \"-\" \"A\" [t]]\n", nullptr},   // 3 brackets
      {"1.2.3.4 - - [t] \"GET /a\\\"b H\" 200 5 \"-\" \"A\"\n",
       nullptr},                                                      // a backslash escapes nothing
      {"1.2.3.4\t- - [t] \"GET / H\" 200 5 \"-\" \"A\"\n", nullptr},  // a tab is no separator
      {"1.2.3.4 - - [t] \"GET / H\" 200 5\n", nullptr},               // the common log format
      {"\n", nullptr},
  };
}

// Every scan that this build and this processor have, by name.
inline std::vector<std::pair<const char*, scanner*>> scans() {
  std::vector<std::pair<const char*, scanner*>> all = {{"scanplain", scanplain}};
#ifdef ZETTRIK_SSE2
  all.push_back({"scansse2", scansse2});
#endif
#ifdef ZETTRIK_AVX2
  if (avx2())
    all.push_back({"scanavx2", scanavx2});
#endif
  all.push_back({"scan", scan});
  return all;
}

// What the converter must make of a log without carriage returns, by the
// plain scan.
inline std::string oracle(const std::string& log) {
  outcome o = apply(bytewise, log, counts{0, 0, 0}, log.size() + 1);
  std::string csv;
  size_t start = 0;
  for (size_t i = 0; i < o.ends.size(); i++) {
    if (o.shaped[i] && o.ends[i] - start <= LONGEST)
      csv += eol(o.bytes.substr(start, o.ends[i] - start));
    start = o.ends[i];
  }
  return csv;
}

#endif
