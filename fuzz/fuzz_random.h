// A reproducible random source for the targets that seal headers: MT19937
// seeded from the input, failing from a chosen draw on so that the targets
// also reach the paths where the system's random source gives out.
#pragma once
#include <stdint.h>

#include "crypto/random.h"

namespace fuzz_random {

inline int drawsLeft = -1;  // -1: never fails
inline int refused = 0;     // draws that failed since the source was installed

inline bool Source(uint8_t* dest, uint32_t size) {
  if (drawsLeft == 0) {
    ++refused;
    return false;
  }
  if (drawsLeft > 0) --drawsLeft;
  return Mt19937Random(dest, size);
}

}  // namespace fuzz_random

// Installs the source: `failAfter` draws succeed and every later one fails;
// a negative `failAfter` never fails.
inline void InstallFuzzRandom(uint32_t seed, int failAfter) {
  RandomSeed(seed);
  fuzz_random::drawsLeft = failAfter < 0 ? -1 : failAfter;
  fuzz_random::refused = 0;
  SetRandomSource(fuzz_random::Source);
}

// Whether any draw failed since the source was installed.
inline bool FuzzRandomRefused() { return fuzz_random::refused > 0; }
