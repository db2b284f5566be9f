// Compresses arbitrary bytes as a log, in one gzip member or several with
// headers of every flag, and damages the result now and then (cut short, a
// bit turned); feeds it to every inflater, from a file and, for one input
// in four, through a pipe whose first bytes come in small pieces, and holds
// them to the plain log and to each other: whole, they give what the plain
// log gives (the CSV, the count, the frames, no read error); damaged, each
// reports the damage or gives what the plain log gives (a turned bit in a
// field that nothing checks), they agree on the damage, and one has made at
// most what the other made before it stopped. A log that begins as a
// compressed file does is refused. The first three bytes choose the
// members and their flags, the cut and the bit.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "testutil.h"

static void fail(const char* what, const char* name, const std::string& d) {
  fprintf(stderr, "%s: %s %s\n", name, what, d.c_str());
  abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3)
    return 0;
  std::string log((const char*)data + 3, size - 3);
  // Each member holds log.size() / members + members bytes from its start,
  // so the members overlap; the plain log is what they hold together.
  size_t members = 1 + data[0] % 3;
  int flags = data[0] / 3 % 32;
  std::string file, whole;
  for (size_t i = 0; i < members; i++) {
    std::string piece = log.substr(log.size() * i / members, log.size() / members + members);
    file += gz(piece, 1 + (int)i * 4, i % 2 ? 31 ^ flags : flags);
    whole += piece;
  }
  bool damaged = data[1] != 0 || data[2] != 0;
  if (data[1] != 0)
    file.resize(file.size() * data[1] / 256);  // cut short
  if (data[2] != 0 && !file.empty())
    file[data[2] * 7919u % file.size()] ^= (char)(1 << (data[2] % 8));
  result want = run(whole);
  std::vector<std::pair<const char*, result>> seen;
  for (auto& f : inflaters()) {
    seen.push_back({f.first, through(file, f.second)});
#ifndef _WIN32
    // A pipe costs a thread; one input in four is enough.
    if (size % 4 == 1)
      seen.push_back({f.first, feed(file, 0, f.second, 1 + size % 23)});
#endif
  }
  // A log that itself begins like a compressed file is refused.
  bool refused = compressed((const unsigned char*)whole.data(), whole.size());
  for (auto& s : seen) {
    const result& r = s.second;
    std::string d = differs(r.csv, want.csv);
    bool same = d.empty() && r.faulty == want.faulty && r.frames.size() == want.frames.size();
    if (refused && !damaged && (!r.unread || !r.csv.empty()))
      fail("begins as a compressed file, but is not refused:", s.first, d);
    if (!refused && !damaged && (!same || r.unread))
      fail("whole, but not what the plain log gives:", s.first, d);
    if (damaged && !r.unread && !same)
      fail("damaged, unnoticed, and not what the plain log gives:", s.first, d);
    const result& first = seen[0].second;
    if (r.unread != first.unread || !nested(r.csv, first.csv))
      fail("does not agree with", s.first, seen[0].first);
  }
  return 0;
}
