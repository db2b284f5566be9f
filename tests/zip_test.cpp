// The workbook's zip container on its own: a deflated entry written in
// pieces that were deflated apart, and a stored one, read back by Python's
// zipfile, which checks every CRC; and the CRC of pieces joined, held to
// zlib's crc32_combine and to the CRC of the pieces together.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "pack.h"
#include "zip.h"

namespace {

// zlib's own: MinGW's build of it has only the form whose length is a
// long, 32 bits on Windows.
#ifdef _WIN32
constexpr int WIDEST = 31;
uint32_t combined(uint32_t a, uint32_t b, uint64_t n) {
  return (uint32_t)crc32_combine(a, b, (z_off_t)n);
}
#else
constexpr int WIDEST = 63;
uint32_t combined(uint32_t a, uint32_t b, uint64_t n) {
  return (uint32_t)crc32_combine64(a, b, (z_off64_t)n);
}
#endif

TEST(Zip, JoinedCrcIsTheCrcOfThePiecesTogether) {
  std::mt19937_64 rng(2026);
  std::vector<uint64_t> lengths = {0, 1, 2, 3, 5, 8, 1000, 1 << 20, (1ull << WIDEST) - 1};
  for (int i = 0; i < 50; i++)
    lengths.push_back(rng() % (1ull << (rng() % WIDEST)));
  for (uint64_t n : lengths) {
    uint32_t a = (uint32_t)rng(), b = (uint32_t)rng();
    EXPECT_EQ(combined(a, b, n), crc32join(a, b, n)) << n;
  }
  std::string x = "Zeile eins\n", y = "und zwei, ein wenig laenger\n";
  EXPECT_EQ(crc32of(0, (x + y).data(), x.size() + y.size()),
            crc32join(crc32of(0, x.data(), x.size()), crc32of(0, y.data(), y.size()), y.size()));
}

#ifndef _WIN32
// A sheet as pieces deflated apart, each from a fresh start, the last with
// the final block; read back whole, with every CRC checked.
TEST(Zip, PiecesDeflatedApartReadBackAsOneEntry) {
  std::string pieces[3] = {"<row>" + std::string(70000, 'a') + "</row>", "", "<row>b&amp;</row>"};
  for (int i = 0; i < 2000; i++)
    pieces[1] += "<c>" + std::to_string(i * 7919) + "</c>";
  char path[] = "/tmp/zettrik-zip-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  FILE* file = fdopen(fd, "wb");
  zipfile z = {file, because(NONE), 0, {}, nullptr, 0};
  packer* pk = newpacker();
  ASSERT_NE(nullptr, pk);
  begindeflated(&z, "xl/worksheets/sheet1.xml");
  std::string whole;
  for (int i = 0; i < 3; i++) {
    buffer packed = {nullptr, 0, 0};
    restart(pk);
    ASSERT_TRUE(squeeze(pk, pieces[i].data(), pieces[i].size(), i == 2 ? FINAL : FLUSHED, &packed));
    addpiece(&z, crc32of(0, pieces[i].data(), pieces[i].size()), pieces[i].size(), packed.data,
             packed.used);
    free(packed.data);
    whole += pieces[i];
  }
  enddeflated(&z);
  addstored(&z, "[Content_Types].xml", "<Types/>");
  enddirectory(&z);
  freepacker(pk);
  EXPECT_FALSE(failed(z.why));
  ASSERT_EQ(0, fclose(file));

  std::string expect = std::string(path) + ".want";
  FILE* want = fopen(expect.c_str(), "wb");
  fwrite(whole.data(), 1, whole.size(), want);
  fclose(want);
  std::string check =
      "python3 -c \"import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "assert z.testzip() is None\n"
      "assert [i.filename for i in z.infolist()] == ['xl/worksheets/sheet1.xml', "
      "'[Content_Types].xml']\n"
      "assert z.read('xl/worksheets/sheet1.xml') == open(sys.argv[2], 'rb').read()\n"
      "assert z.read('[Content_Types].xml') == b'<Types/>'\" " +
      std::string(path) + " " + expect;
  EXPECT_EQ(0, system(check.c_str()));
  remove(path);
  remove(expect.c_str());
}
#endif

}  // namespace
