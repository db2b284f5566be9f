// The spinner's frames.
#include <gtest/gtest.h>

#include <string>

#include "console.h"

namespace {

TEST(Spinner, FramesTurnInOrderAndRepeatEveryFourth) {
  // The index is the process's own, so start from wherever it stands: after
  // at most four calls the hyphen comes, and from there the full cycle.
  int guard = 0;
  while (rotate() != '-')
    ASSERT_LT(++guard, 4);
  std::string seen;
  for (int i = 0; i < 8; i++)
    seen += (char)rotate();
  EXPECT_EQ("\\|/-\\|/-", seen);
}

}  // namespace
