#include "crypto/random.h"

#include <string.h>

#include <atomic>

namespace {

// MT19937 as in the authors' 2002 reference code.
constexpr int kStateSize = 624;
constexpr int kMiddleOffset = 397;
constexpr int kNeverSeeded = kStateSize + 1;
constexpr uint32_t kDefaultSeed = 5489;
constexpr uint32_t kMatrix = 0x9908B0DF;
constexpr uint32_t kUpperMask = 0x80000000;
constexpr uint32_t kLowerMask = 0x7FFFFFFF;

// The creation worker and the user-interface thread may both draw, so the
// one process-wide state is guarded by a spin lock; draws are short.
struct Mt19937 {
  uint32_t state[kStateSize] = {};
  int32_t index = kNeverSeeded;
  std::atomic_flag busy;  // clear
};

constinit Mt19937 generator;

class GeneratorLock {
 public:
  GeneratorLock() {
    while (generator.busy.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~GeneratorLock() { generator.busy.clear(std::memory_order_release); }
  GeneratorLock(const GeneratorLock&) = delete;
  GeneratorLock& operator=(const GeneratorLock&) = delete;
};

void SeedLocked(uint32_t seed) {
  generator.state[0] = seed;
  for (int i = 1; i < kStateSize; ++i) {
    uint32_t previous = generator.state[i - 1];
    generator.state[i] = 1812433253u * (previous ^ (previous >> 30)) + (uint32_t)i;
  }
  generator.index = kStateSize;
}

void TwistLocked() {
  uint32_t* mt = generator.state;
  for (int i = 0; i < kStateSize; ++i) {
    uint32_t y = (mt[i] & kUpperMask) | (mt[(i + 1) % kStateSize] & kLowerMask);
    mt[i] = mt[(i + kMiddleOffset) % kStateSize] ^ (y >> 1) ^ ((y & 1) ? kMatrix : 0);
  }
  generator.index = 0;
}

uint32_t NextLocked() {
  if (generator.index >= kStateSize) {
    if (generator.index == kNeverSeeded) SeedLocked(kDefaultSeed);
    TwistLocked();
  }
  uint32_t y = generator.state[generator.index++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680;
  y ^= (y << 15) & 0xEFC60000;
  y ^= y >> 18;
  return y;
}

constinit std::atomic<RandomSource> installedSource{nullptr};

}  // namespace

void RandomSeed(uint32_t seed) {
  GeneratorLock lock;
  SeedLocked(seed);
}

uint32_t RandomNext() {
  GeneratorLock lock;
  return NextLocked();
}

bool Mt19937Random(uint8_t* dest, uint32_t size) {
  GeneratorLock lock;
  for (uint32_t i = 0; i < size; ++i) dest[i] = (uint8_t)NextLocked();
  return true;
}

RandomSource SetRandomSource(RandomSource source) { return installedSource.exchange(source); }

bool DrawRandomField(uint8_t dest[kRandomFieldSize]) {
  RandomSource source = installedSource.load();
  if (source == nullptr) source = SystemRandom;
  if (source(dest, kRandomFieldSize)) return true;
  memset(dest, 0, kRandomFieldSize);
  return false;
}
