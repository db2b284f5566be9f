// The compressed formats in the tests: each format of this build made by
// its own library, at a low and a high level, and what that library makes
// of the first bytes of a file. decoders() has one codec for each format
// in the table that has a decoder here; a test walks the table to hold it
// to that.
#ifndef ZETTRIK_CODECS_H
#define ZETTRIK_CODECS_H

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "capture.h"
#include "framing.h"

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

// The row of the table of formats for a format's name.
inline const format* row(const char* name) {
  for (size_t i = 0; i < FORMATS; i++)
    if (strcmp(formats[i].name, name) == 0)
      return &formats[i];
  abort();
}

// Every inflater that this build has, by name, each in gzip's framing.
inline std::vector<std::pair<const char*, how*>> inflaters() {
  std::vector<std::pair<const char*, how*>> all;
#ifdef ZETTRIK_ISAL
  all.push_back({"isal", [](input* in) { return framed(in, row("gzip"), inflateisal); }});
#endif
#ifdef ZETTRIK_ZLIB
  all.push_back({"zlib", [](input* in) { return framed(in, row("gzip"), inflatezlib); }});
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

// The log as one stream of the old lzma format, as xz --format=lzma
// writes it: its size unknown, the end marked in the stream.
inline std::string lzmaed(const std::string& log, uint32_t preset = 6) {
  lzma_options_lzma options;
  lzma_lzma_preset(&options, preset);
  lzma_stream z = LZMA_STREAM_INIT;
  if (lzma_alone_encoder(&z, &options) != LZMA_OK)
    abort();
  std::string out(log.size() + log.size() / 2 + (1 << 16), '\0');
  z.next_in = (const uint8_t*)log.data();
  z.avail_in = log.size();
  z.next_out = (uint8_t*)&out[0];
  z.avail_out = out.size();
  while (lzma_code(&z, LZMA_FINISH) == LZMA_OK) {
  }
  out.resize(z.total_out);
  lzma_end(&z);
  return out;
}

// The log as one lzip member (version 1): the lzma stream without its
// header, under lzip's own, with the CRC-32 and the sizes after it.
inline std::string lzipped(const std::string& log, uint32_t preset = 6) {
  std::string alone = lzmaed(log, preset);
  uint32_t dictionary = (uint8_t)alone[1] | (uint8_t)alone[2] << 8 | (uint8_t)alone[3] << 16 |
                        (uint32_t)(uint8_t)alone[4] << 24;
  int bits = 0;
  while ((1u << bits) < dictionary)
    bits++;
  std::string member = std::string("LZIP\x01", 5) + (char)bits + alone.substr(13);
  uint32_t crc = lzma_crc32((const uint8_t*)log.data(), log.size(), 0);
  std::string tail;
  for (int i = 0; i < 4; i++)
    tail += (char)(crc >> (8 * i));
  for (int i = 0; i < 8; i++)
    tail += (char)((uint64_t)log.size() >> (8 * i));
  uint64_t whole = member.size() + 4 + 16;
  for (int i = 0; i < 8; i++)
    tail += (char)(whole >> (8 * i));
  return member + tail;
}

// What liblzma decodes from the first bytes of a file of the given kind
// (xz, lzma, lzip), as far as they go.
inline std::string unlzmas(const std::string& part, const char* kind) {
  lzma_stream z = LZMA_STREAM_INIT;
  lzma_ret begun = strcmp(kind, "lzma") == 0 ? lzma_alone_decoder(&z, UINT64_MAX)
                   : strcmp(kind, "lzip") == 0
                       ? lzma_lzip_decoder(&z, UINT64_MAX, LZMA_CONCATENATED)
                       : lzma_stream_decoder(&z, UINT64_MAX, LZMA_CONCATENATED);
  if (begun != LZMA_OK)
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

inline std::string unxzed(const std::string& part) {
  return unlzmas(part, "xz");
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

// A decoder of this build and its format: how it is set up, whether frames
// may follow one another and whether a check guards the data (lzma has
// neither), how the format is made at a low and a high level, what may pad
// one frame from the next, what its format refuses after the last frame,
// and what its library decodes of the first bytes of a file, as far as
// they go.
struct codec {
  const char* name;
  const char* format;
  how* open;
  bool several;
  bool checked;
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
    all.push_back({f.first, "gzip", f.second, true, true,
                   [](const std::string& l) { return gz(l, 1); },
                   [](const std::string& l) { return gz(l, 9, FNAME | FHCRC); }, "",
                   std::string("\0\0\0x", 4), inflated});
#endif
#ifdef ZETTRIK_ZSTD
  all.push_back({"zstd", "zstd", [](input* in) { return framed(in, row("zstd"), decodezstd); },
                 true, true, [](const std::string& l) { return zst(l, 1); },
                 [](const std::string& l) { return skippable("index") + zst(l, 12); }, "",
                 std::string(4, '\0'), unzst});
#endif
#ifdef ZETTRIK_XZ
  all.push_back({"xz", "xz", [](input* in) { return framed(in, row("xz"), decodexz); }, true, true,
                 [](const std::string& l) { return xzed(l, 0); },
                 [](const std::string& l) { return xzed(l, 3); }, std::string(8, '\0'),
                 std::string(3, '\0'), unxzed});
  all.push_back({"lzma", "lzma", [](input* in) { return framed(in, row("lzma"), decodelzma); },
                 false, false, [](const std::string& l) { return lzmaed(l, 0); },
                 [](const std::string& l) { return lzmaed(l, 3); }, "", std::string(4, '\0'),
                 [](const std::string& p) { return unlzmas(p, "lzma"); }});
  all.push_back({"lzip", "lzip", [](input* in) { return framed(in, row("lzip"), decodelzip); },
                 true, true, [](const std::string& l) { return lzipped(l, 0); },
                 [](const std::string& l) { return lzipped(l, 3); }, "", std::string(4, '\0'),
                 [](const std::string& p) { return unlzmas(p, "lzip"); }});
#endif
#ifdef ZETTRIK_BZIP2
  all.push_back({"bzip2", "bzip2", [](input* in) { return framed(in, row("bzip2"), decodebzip2); },
                 true, true, [](const std::string& l) { return bz2(l, 1); },
                 [](const std::string& l) { return bz2(l, 9); }, "", std::string(4, '\0'), unbz2});
#endif
  return all;
}

#endif
