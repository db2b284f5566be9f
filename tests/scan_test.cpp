// Every scan held to the byte-at-a-time one: the same bytes out, the same
// lines told with the same verdicts, the same counts carried on.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "table.h"

namespace {

// Holds every scan to bytewise() on data cut into calls of chunk bytes.
void same(const std::string& data, counts start, size_t chunk) {
  outcome want = apply(bytewise, data, start, chunk);
  for (auto& f : scans())
    ASSERT_EQ("", differs(apply(f.second, data, start, chunk), want))
        << f.first << ", chunk " << chunk;
}

const std::string good =
    "10.0.0.1 - - [07/Dec/2026:10:00:00 +0100] \"GET /index.html HTTP/1.0\" 200 512 "
    "\"-\" \"Agent/1.0 [en] (test)\"\n";

TEST(Scan, EveryScanJudgesAsTheTable) {
  // Every scan, the byte-at-a-time one too, on each line of the table in
  // calls of every size: the verdict, and the bytes of an accepted line.
  auto all = scans();
  all.push_back({"bytewise", bytewise});
  for (auto& f : all)
    for (const judged& j : table())
      for (size_t chunk : {1, 5, 63, 64, 65, 4096}) {
        outcome o = apply(f.second, j.line, counts{0, 0, 0}, chunk);
        ASSERT_EQ(std::vector<size_t>{j.line.size()}, o.ends) << f.first << ": " << j.line;
        EXPECT_EQ(j.csv != nullptr, o.shaped[0])
            << f.first << ", chunk " << chunk << ": " << j.line;
        if (j.csv) {
          EXPECT_EQ(j.csv, o.bytes) << f.first << ", chunk " << chunk;
        }
        EXPECT_EQ(0, o.last.quotes + o.last.brackets + o.last.separators) << f.first;
      }
}

TEST(Scan, EachScanCanBeChosenByName) {
  // What ZETTRIK_SCAN asks for, where this build and processor have it,
  // and the fastest otherwise; the tests of the program run once with
  // the plain scan, the last kernel, which every processor runs.
  ASSERT_GE(KERNELS, 1);
  EXPECT_STREQ("plain", kernels[KERNELS - 1].name);
  EXPECT_EQ(scanplain, kernels[KERNELS - 1].run);
  EXPECT_TRUE(kernels[KERNELS - 1].supported());
  int first = 0;
  while (!kernels[first].supported())
    first++;
  scanner* fastest = kernels[first].run;
  EXPECT_EQ(fastest, pick(nullptr));
  EXPECT_EQ(fastest, pick(""));
  EXPECT_EQ(fastest, pick("no such scan"));
  for (int i = 0; i < KERNELS; i++)
    EXPECT_EQ(kernels[i].supported() ? kernels[i].run : fastest, pick(kernels[i].name))
        << kernels[i].name;
#ifdef ZETTRIK_SSE2
  EXPECT_STREQ("sse2", kernels[KERNELS - 2].name);
#endif
}

TEST(Scan, FixedInputsInEveryChunking) {
  const std::string inputs[] = {
      "",
      "\n",
      "\n\n\n",
      good,
      good + good + good,
      std::string(200, ' ') + "\n" + good,
      std::string(130, '"') + " \n" + std::string(64, '[') + " ]\n",
      "a \"b [c] d\" [e \"f\" g] h\n",
      "\"\"\"\"\"\" [] [] \" [ \" ] x y z\n",
      std::string("\0 \xff [\r] \" \t\"\n", 14),
  };
  for (const std::string& in : inputs)
    for (size_t chunk : {1, 3, 63, 64, 65, 127, 4096})
      same(in, counts{0, 0, 0}, chunk);
}

TEST(Scan, CountsCarriedIntoTheScan) {
  // A line begun in an earlier call: its parities decide this call's bytes.
  for (int q = 0; q < 3; q++)
    for (int b = 0; b < 3; b++)
      same("x y \"z [w] v\" [u t] s\n r \"q\n", counts{q, b, 5}, 4096);
  // Windows of short plain lines: only the first can take its verdict from
  // the counts carried in.
  for (int s = 7; s < 10; s++)
    same("\n\nab\ncd\n\n\nxyz\n" + std::string(100, '\n') + "tail", counts{6, 2, s}, 4096);
}

TEST(Scan, EverySpecialByteAtEveryPlaceOfAWindow) {
  // One special byte at each of 200 places, after a line begun in an earlier
  // call with odd or even parities, so that windows and calls cut the line
  // everywhere around it.
  const char specials[] = {'"', '[', ']', ' ', '\n', '\t', '\r', '\0', '\xff'};
  for (char special : specials)
    for (size_t at = 0; at < 200; at++) {
      std::string in(200, 'a');
      for (size_t i = 7; i < in.size(); i += 11)
        in[i] = ' ';
      in[at] = special;
      in += "\n";
      same(in, counts{1, 0, 0}, 4096);
      same(in, counts{0, 1, 3}, 61);
    }
}

TEST(Scan, SeededRandomInputs) {
  // Bytes drawn mostly from those the rules look at, in lines of all lengths
  // and with windows of more than one line feed.
  std::mt19937 rng(20261208);
  const char alphabet[] = "\"\"[]  \t\r\n\n\xff\0aZ;\\";
  for (int round = 0; round < 3000; round++) {
    std::string in(rng() % 600, 'a');
    int rare = rng() % 3;  // some inputs with few line feeds, some with many
    for (char& ch : in) {
      ch = alphabet[rng() % (sizeof alphabet - 1)];
      if (ch == '\n' && rare == 0 && rng() % 8)
        ch = 'b';
    }
    counts start = {(int)(rng() % 4), (int)(rng() % 4), (int)(rng() % 9)};
    same(in, start, 1 + rng() % 300);
  }
}

// The converter around the scan: a log whose special bytes fall on every
// place around the end of the first block read (1 MiB) gives what the plain
// scan gives.
TEST(Scan, ConvertAcrossTheEndOfABlock) {
  std::string filler;
  while (filler.size() < (1u << 20) - 300)
    filler += good;
  for (int shift = 0; shift < 200; shift += 3) {
    std::string log = filler + std::string(shift, 'x') + good + good;
    log.insert(log.size() - good.size() - 50, "\"\n[");
    ASSERT_EQ("", differs(run(log).csv, oracle(log))) << "shift " << shift;
  }
}

}  // namespace
