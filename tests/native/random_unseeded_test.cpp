// A generator that was never seeded: its own executable, so that no other
// test has drawn from the process-wide state first.
#include <gtest/gtest.h>

#include "crypto/random.h"

namespace {

TEST(Mt19937, FirstDrawWithoutSeedingActsAsSeed5489) {
  // The reference outputs for seed 5489 (Matsumoto and Nishimura).
  EXPECT_EQ(RandomNext(), 3499211612u);
  EXPECT_EQ(RandomNext(), 581869302u);
  EXPECT_EQ(RandomNext(), 3890346734u);
  EXPECT_EQ(RandomNext(), 3586334585u);
}

}  // namespace
