#include "crypto/sha1.h"

#include <string.h>

#include "crypto/bytes.h"
#include "crypto/cpu_features.h"
#include "crypto/sha1_ni.h"
#include "crypto/wipe.h"

namespace {

constexpr uint32_t kRoundConstant0 = 0x5A827999;  // steps 0..19
constexpr uint32_t kRoundConstant1 = 0x6ED9EBA1;  // steps 20..39
constexpr uint32_t kRoundConstant2 = 0x8F1BBCDC;  // steps 40..59
constexpr uint32_t kRoundConstant3 = 0xCA62C1D6;  // steps 60..79

// Padding: one 0x80 byte and then zeros.
constexpr uint8_t kPadding[kSha1BlockSize] = {0x80};

inline uint32_t Choose(uint32_t b, uint32_t c, uint32_t d) { return (b & c) | (~b & d); }
inline uint32_t Parity(uint32_t b, uint32_t c, uint32_t d) { return b ^ c ^ d; }
inline uint32_t Majority(uint32_t b, uint32_t c, uint32_t d) { return (b & c) | (b & d) | (c & d); }

// Word i of the message schedule, kept in a ring of 16: words from 16 on
// are computed when their step needs them.
inline uint32_t Schedule(uint32_t w[16], int i) {
  if (i < 16) return w[i];
  w[i & 15] = RotateLeft32(w[(i + 13) & 15] ^ w[(i + 8) & 15] ^ w[(i + 2) & 15] ^ w[i & 15], 1);
  return w[i & 15];
}

// One step with the variables renamed instead of shifted: after it, `e`
// holds the new A and `b` holds the new C.
#define SHA1_STEP(f, k, a, b, c, d, e, w)             \
  do {                                                \
    e += RotateLeft32(a, 5) + f(b, c, d) + (k) + (w); \
    b = RotateLeft32(b, 30);                          \
  } while (0)

// Five steps bring the names back to their starting places.
#define SHA1_FIVE_STEPS(f, k, i)                          \
  do {                                                    \
    SHA1_STEP(f, k, a, b, c, d, e, Schedule(w, (i)));     \
    SHA1_STEP(f, k, e, a, b, c, d, Schedule(w, (i) + 1)); \
    SHA1_STEP(f, k, d, e, a, b, c, Schedule(w, (i) + 2)); \
    SHA1_STEP(f, k, c, d, e, a, b, Schedule(w, (i) + 3)); \
    SHA1_STEP(f, k, b, c, d, e, a, Schedule(w, (i) + 4)); \
  } while (0)

void CompressPortable(uint32_t state[5], const uint8_t block[kSha1BlockSize]) {
  uint32_t w[16];
  for (int i = 0; i < 16; ++i) w[i] = LoadBigEndian32(block + 4 * i);

  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  SHA1_FIVE_STEPS(Choose, kRoundConstant0, 0);
  SHA1_FIVE_STEPS(Choose, kRoundConstant0, 5);
  SHA1_FIVE_STEPS(Choose, kRoundConstant0, 10);
  SHA1_FIVE_STEPS(Choose, kRoundConstant0, 15);
  SHA1_FIVE_STEPS(Parity, kRoundConstant1, 20);
  SHA1_FIVE_STEPS(Parity, kRoundConstant1, 25);
  SHA1_FIVE_STEPS(Parity, kRoundConstant1, 30);
  SHA1_FIVE_STEPS(Parity, kRoundConstant1, 35);
  SHA1_FIVE_STEPS(Majority, kRoundConstant2, 40);
  SHA1_FIVE_STEPS(Majority, kRoundConstant2, 45);
  SHA1_FIVE_STEPS(Majority, kRoundConstant2, 50);
  SHA1_FIVE_STEPS(Majority, kRoundConstant2, 55);
  SHA1_FIVE_STEPS(Parity, kRoundConstant3, 60);
  SHA1_FIVE_STEPS(Parity, kRoundConstant3, 65);
  SHA1_FIVE_STEPS(Parity, kRoundConstant3, 70);
  SHA1_FIVE_STEPS(Parity, kRoundConstant3, 75);

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  SecureWipe(w, sizeof w);
}

#undef SHA1_FIVE_STEPS
#undef SHA1_STEP

}  // namespace

void Sha1CompressBlocks(uint32_t state[5], const uint8_t* blocks, uint32_t blockCount) {
  if (blockCount == 0) return;
  if (UseShaNi()) {
    Sha1CompressBlocksNi(state, blocks, blockCount);
    return;
  }
  for (; blockCount > 0; --blockCount, blocks += kSha1BlockSize) CompressPortable(state, blocks);
}

void Sha1Init(Sha1Context* ctx) {
  ctx->byteCountLow = 0;
  ctx->byteCountHigh = 0;
  ctx->state[0] = 0x67452301;
  ctx->state[1] = 0xEFCDAB89;
  ctx->state[2] = 0x98BADCFE;
  ctx->state[3] = 0x10325476;
  ctx->state[4] = 0xC3D2E1F0;
  memset(ctx->block, 0, sizeof ctx->block);
}

void Sha1Update(Sha1Context* ctx, const uint8_t* data, uint32_t length) {
  if (length == 0) return;
  uint32_t buffered = ctx->byteCountLow % kSha1BlockSize;
  ctx->byteCountLow += length;
  if (ctx->byteCountLow < length) ++ctx->byteCountHigh;

  if (buffered != 0) {
    uint32_t room = kSha1BlockSize - buffered;
    if (length < room) {
      memcpy(ctx->block + buffered, data, length);
      return;
    }
    memcpy(ctx->block + buffered, data, room);
    Sha1CompressBlocks(ctx->state, ctx->block, 1);
    data += room;
    length -= room;
  }
  const uint32_t wholeBlocks = length / kSha1BlockSize;
  Sha1CompressBlocks(ctx->state, data, wholeBlocks);
  data += wholeBlocks * kSha1BlockSize;
  length -= wholeBlocks * kSha1BlockSize;
  memcpy(ctx->block, data, length);
}

void Sha1Final(Sha1Context* ctx, uint8_t digest[kSha1DigestSize]) {
  uint8_t lengthInBits[8];
  StoreBigEndian32(lengthInBits, ctx->byteCountHigh << 3 | ctx->byteCountLow >> 29);
  StoreBigEndian32(lengthInBits + 4, ctx->byteCountLow << 3);

  uint32_t buffered = ctx->byteCountLow % kSha1BlockSize;
  uint32_t padLength = (buffered < 56 ? 56 : 56 + kSha1BlockSize) - buffered;
  Sha1Update(ctx, kPadding, padLength);
  Sha1Update(ctx, lengthInBits, sizeof lengthInBits);

  for (int i = 0; i < 5; ++i) StoreBigEndian32(digest + 4 * i, ctx->state[i]);
  SecureWipe(ctx, sizeof *ctx);
}
