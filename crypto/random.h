// Random fields of volume headers, and the MT19937 generator.
//
// Header fields come from the operating system's cryptographic source; a
// test may install another source (for example the deterministic MT19937
// below) to make sealing reproducible.
#pragma once
#include <stdint.h>

constexpr uint32_t kRandomFieldSize = 64;

// Fills `size` bytes; returns false when no random bytes could be had.
typedef bool (*RandomSource)(uint8_t* dest, uint32_t size);

// Fills a 64-byte field from the current source. Returns false if it failed;
// the field is then zeroed.
bool DrawRandomField(uint8_t dest[kRandomFieldSize]);
// Installs a source; nullptr restores the system source. Returns the previous one.
RandomSource SetRandomSource(RandomSource source);
// The operating system's cryptographic source (BCryptGenRandom / getrandom).
bool SystemRandom(uint8_t* dest, uint32_t size);

// MT19937 (2002 reference code), one process-wide state guarded by a lock.
// A first RandomNext without seeding behaves as if seeded with 5489.
void RandomSeed(uint32_t seed);
uint32_t RandomNext();
// A RandomSource that takes the low 8 bits of successive RandomNext outputs.
bool Mt19937Random(uint8_t* dest, uint32_t size);
