// Compresses arbitrary bytes as a log in every format this build decodes,
// in one frame or several (gzip members with headers of every flag, zstd
// frames, xz and bzip2 streams, lzip members, with the padding each format
// allows between them; lzma's one stream), and damages the result now and then (cut short, a bit
// turned); feeds it to every decoder, from a file and, for one input in four, through a pipe whose
// first bytes come in small pieces, and holds them to the plain log and to each other: whole, they
// give what the plain log gives (the CSV, the count, the frames, no read error), and refuse a log
// that itself begins as a compressed file does; damaged, each reports the
// damage or gives what the plain log gives (a turned bit in a field that
// nothing checks); decoders of one format agree on the damage, and one has
// made at most what the other made before it stopped. The first three bytes
// choose the frames and the flags, the cut and the bit.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "codecs.h"

static void fail(const char* what, const char* name, const std::string& d) {
  fprintf(stderr, "%s: %s %s\n", name, what, d.c_str());
  abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3)
    return 0;
  std::string log((const char*)data + 3, size - 3);
  // Each frame holds log.size() / frames + frames bytes from its start, so
  // the frames overlap; the plain log is what they hold together.
  size_t frames = 1 + data[0] % 3;
  int flags = data[0] / 3 % 32;
  bool damaged = data[1] != 0 || data[2] != 0;
  std::string whole;
  for (size_t i = 0; i < frames; i++)
    whole += log.substr(log.size() * i / frames, log.size() / frames + frames);
  result want = run(whole);
  // A log that itself begins like a compressed file is refused.
  bool refused = compressed((const unsigned char*)whole.data(), whole.size());

  std::vector<codec> all = decoders();
  std::vector<std::pair<const codec*, result>> seen;
  for (const codec& c : all) {
    // A format of one frame takes a log of one; one without a check may
    // decode a turned bit into other bytes without a word.
    if ((!c.several && frames > 1) || (!c.checked && data[2] != 0))
      continue;
    // The file, and the places where it could end whole: after a frame, or
    // after a multiple of four of the zeros between xz's streams.
    std::string file, before;
    std::vector<std::pair<size_t, std::string>> ends;
    for (size_t i = 0; i < frames; i++) {
      std::string piece = log.substr(log.size() * i / frames, log.size() / frames + frames);
      if (std::string(c.format) == "gzip")
        file += gz(piece, 1 + (int)i * 4, i % 2 ? 31 ^ flags : flags);
#ifdef ZETTRIK_ZSTD
      else if (i % 2 && std::string(c.format) == "zstd")  // its skippable frame is a frame too
        ends.push_back({file.size() + skippable("index").size(), before});
#endif
      if (std::string(c.format) != "gzip")
        file += i % 2 ? c.high(piece) : c.low(piece);
      before += piece;
      for (size_t zeros = 0; zeros <= c.padding.size(); zeros += 4)
        ends.push_back({file.size() + zeros, before});
      file += i + 1 < frames ? c.padding : "";
    }
    const std::string* plain = &whole;
    if (data[1] != 0) {
      file.resize(file.size() * data[1] / 256);  // cut short
      for (auto& e : ends)
        if (e.first == file.size())
          plain = &e.second;  // cut where a frame ends: a shorter log, whole
    }
    bool turned = data[2] != 0 && !file.empty();
    if (turned)
      file[data[2] * 7919u % file.size()] ^= (char)(1 << (data[2] % 8));
    bool cut = plain != &whole;
    result shorter = cut ? run(*plain) : result();
    for (int twice = 0; twice < 2; twice++) {
      result r = twice == 0 ? through(file, c.open) : feed(file, 0, c.open, 1 + size % 23);
      // Cut where a frame ends, the frames before give a shorter log; with
      // a bit turned too, the damage is found, or the bit was in a field
      // that nothing checks (a gzip header's time).
      if (cut && !(turned && r.unread) && (r.unread || r.csv != shorter.csv))
        fail("cut where a frame ends, but not what the frames before give:", c.name, "");
      if (!cut)
        seen.push_back({&c, r});
      // A pipe costs a thread; one input in four is enough.
      if (size % 4 != 1)
        break;
    }
  }
  for (auto& s : seen) {
    const result& r = s.second;
    const char* name = s.first->name;
    std::string d = differs(r.csv, want.csv);
    bool same = d.empty() && r.faulty == want.faulty && r.frames.size() == want.frames.size();
    if (refused && !damaged && (!r.unread || !r.csv.empty()))
      fail("begins as a compressed file, but is not refused:", name, d);
    if (!refused && !damaged && (!same || r.unread))
      fail("whole, but not what the plain log gives:", name, d);
    if (damaged && !r.unread && !same)
      fail("damaged, unnoticed, and not what the plain log gives:", name, d);
    // Decoders of one format agree.
    for (auto& o : seen)
      if (std::string(o.first->format) == s.first->format &&
          (r.unread != o.second.unread || !nested(r.csv, o.second.csv)))
        fail("does not agree with", name, o.first->name);
  }
  return 0;
}
