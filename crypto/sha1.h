// SHA-1 (FIPS 180-1). The caller owns the context; it holds no pointers, so a
// plain copy clones a running hash.
#pragma once
#include <stdint.h>

struct Sha1Context {
  uint32_t byteCountLow;   // message bytes hashed so far, low word
  uint32_t byteCountHigh;  // high word, incremented when the low word wraps
  uint32_t state[5];       // chaining words H0..H4
  uint8_t block[64];       // partial input block not yet compressed
};

constexpr uint32_t kSha1DigestSize = 20;
constexpr uint32_t kSha1BlockSize = 64;

void Sha1Init(Sha1Context* ctx);
// Absorbs `length` bytes. Whole blocks are compressed straight from `data`.
void Sha1Update(Sha1Context* ctx, const uint8_t* data, uint32_t length);
// The compression function over `blockCount` whole 64-byte blocks, for
// callers that lay out their own padded blocks (PBKDF2, sector IVs). Uses
// the SHA extensions where the processor has them.
void Sha1CompressBlocks(uint32_t state[5], const uint8_t* blocks, uint32_t blockCount);
// Pads, compresses and writes H0..H4 big-endian into `digest`.
void Sha1Final(Sha1Context* ctx, uint8_t digest[kSha1DigestSize]);
