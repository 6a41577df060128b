// The random generator and the volume engines under concurrent use: the
// Create page's worker seals and writes a volume while the user-interface
// thread seals and re-seals headers (a password change) at the same moment.
// Built and run under ThreadSanitizer by the "tsan" preset.
#include <gtest/gtest.h>
#include <stdint.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "crypto/random.h"
#include "engine_test_support.h"
#include "volume/create_volume.h"
#include "volume/header.h"

namespace {

constexpr char kPassword[] = "concurrent password";
constexpr char kNewPassword[] = "concurrent new password";

const uint8_t* Bytes(const char* text) { return reinterpret_cast<const uint8_t*>(text); }

// Seals `count` headers and checks that each opens and re-seals; returns
// the number that did.
int SealMany(int count, int algorithm) {
  int good = 0;
  for (int i = 0; i < count; ++i) {
    uint8_t header[kHeaderSize];
    uint8_t key[kBodyKeySize];
    uint8_t seed[kBodyKeySize];
    if (!SealHeader(header, Bytes(kPassword), sizeof kPassword - 1, algorithm, key, seed)) continue;
    if (ResealHeader(header, Bytes(kPassword), sizeof kPassword - 1, Bytes(kNewPassword),
                     sizeof kNewPassword - 1) != 1) {
      continue;
    }
    good += OpenHeader(header, Bytes(kNewPassword), sizeof kNewPassword - 1) == algorithm;
  }
  return good;
}

class ConcurrencyTest : public ::testing::TestWithParam<bool> {
 protected:
  // With the parameter set, the shared MT19937 source is installed, as a
  // test of reproducible sealing does; otherwise the system source.
  ConcurrencyTest() {
    if (GetParam()) {
      previous_ = SetRandomSource(Mt19937Random);
      RandomSeed(1234);
    }
  }
  ~ConcurrencyTest() override {
    if (GetParam()) SetRandomSource(previous_);
  }

  RandomSource previous_ = nullptr;
};

// Two threads seal at the same moment, many times.
TEST_P(ConcurrencyTest, TwoThreadsSeal) {
  constexpr int kRounds = 40;
  std::atomic<int> good{0};
  std::thread worker([&good] { good += SealMany(kRounds, kAes128); });
  good += SealMany(kRounds, kBlowfish128);
  worker.join();
  EXPECT_EQ(good.load(), 2 * kRounds);
}

// A creation runs on its worker while the other thread seals and re-seals;
// every round's volume has its exact size and opens with its password.
TEST_P(ConcurrencyTest, CreationWhileAnotherThreadSeals) {
  constexpr int kRounds = 6;
  TempFolder folder;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    CreateVolumeInput input;
    input.volumePath = folder.File("volume" + std::to_string(round) + ".vmv");
    input.sizeMb = 1;
    input.password = kPassword;
    input.confirmation = kPassword;
    input.algorithm = round % 2 == 0 ? kAes256 : kBlowfish448;
    std::atomic<uint32_t> progress{0};
    CreateVolumeOutcome result;
    std::thread worker([&] {
      result = CreateVolume(SystemFileSystem(), input,
                            [&progress](uint32_t done, uint32_t) { progress = done; });
    });
    const int sealed = SealMany(3, kAes256);
    worker.join();
    EXPECT_EQ(sealed, 3);
    ASSERT_TRUE(result.outcome.success) << result.outcome.message;
    EXPECT_EQ(progress.load(), 1u);
    const std::vector<uint8_t> file = ReadWholeFile(input.volumePath);
    ASSERT_EQ(file.size(), kMegabyte + kHeaderSize);
    std::vector<uint8_t> header(file.end() - kHeaderSize, file.end());
    EXPECT_EQ(OpenHeader(header.data(), Bytes(kPassword), sizeof kPassword - 1), input.algorithm);
  }
}

INSTANTIATE_TEST_SUITE_P(Sources, ConcurrencyTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Mt19937" : "System";
                         });

}  // namespace
