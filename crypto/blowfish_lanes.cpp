#include "crypto/blowfish_lanes.h"

#include "crypto/bytes.h"
#include "crypto/sectors.h"
#include "crypto/wipe.h"

// Table look-ups do not vectorise: GCC's attempt to put the four lanes into
// vector registers gathers every index through them and runs slower than
// one lane alone. The lanes stay in general registers.
#if defined(__GNUC__) && !defined(__clang__)
#define VM_SCALAR_LANES __attribute__((optimize("no-tree-vectorize")))
#else
#define VM_SCALAR_LANES
#endif

namespace {

constexpr uint32_t kBlocksPerSector = kSectorSize / kBlowfishBlockSize;
constexpr uint32_t kBlowfishSeedSize = 8;
constexpr int kRounds = 16;
constexpr int kLanes = 4;

inline uint32_t F(const BlowfishContext* ctx, uint32_t x) {
  return ((ctx->sBoxes[0][x >> 24] + ctx->sBoxes[1][(x >> 16) & 0xFF]) ^
          ctx->sBoxes[2][(x >> 8) & 0xFF]) +
         ctx->sBoxes[3][x & 0xFF];
}

// The sixteen rounds over `Lanes` blocks at once, each round of every block
// before the next round: the P-array from its start (encryption) or from
// its end (decryption).
template <int Lanes, bool Decrypting>
VM_SCALAR_LANES inline void Rounds(const BlowfishContext* ctx, uint32_t left[Lanes],
                                   uint32_t right[Lanes]) {
  for (int round = 0; round < kRounds; round += 2) {
    const uint32_t first = ctx->pArray[Decrypting ? kRounds + 1 - round : round];
    const uint32_t second = ctx->pArray[Decrypting ? kRounds - round : round + 1];
#pragma GCC unroll 4
    for (int x = 0; x < Lanes; ++x) {
      left[x] ^= first;
      right[x] ^= F(ctx, left[x]);
    }
#pragma GCC unroll 4
    for (int x = 0; x < Lanes; ++x) {
      right[x] ^= second;
      left[x] ^= F(ctx, right[x]);
    }
  }
}

template <int Lanes>
VM_SCALAR_LANES void EncryptLanes(const BlowfishContext* ctx, const uint8_t ivSeed[8],
                                  uint8_t* data, uint64_t sector) {
  // The running CBC chain of each sector, as the two little-endian words.
  uint32_t left[Lanes], right[Lanes];
  uint8_t digests[Lanes][kSha1DigestSize];
  SectorIvs(ivSeed, kBlowfishSeedSize, sector, Lanes, digests);
  for (int x = 0; x < Lanes; ++x) {
    left[x] = LoadLittleEndian32(digests[x]);
    right[x] = LoadLittleEndian32(digests[x] + 4);
  }
  SecureWipe(digests, sizeof digests);
  for (uint32_t block = 0; block < kBlocksPerSector; ++block) {
    uint8_t* bytes[Lanes];
#pragma GCC unroll 4
    for (int x = 0; x < Lanes; ++x) {
      bytes[x] = data + x * kSectorSize + block * kBlowfishBlockSize;
      left[x] ^= LoadLittleEndian32(bytes[x]);
      right[x] ^= LoadLittleEndian32(bytes[x] + 4);
    }
    Rounds<Lanes, false>(ctx, left, right);
#pragma GCC unroll 4
    for (int x = 0; x < Lanes; ++x) {
      const uint32_t outLeft = right[x] ^ ctx->pArray[kRounds + 1];
      const uint32_t outRight = left[x] ^ ctx->pArray[kRounds];
      StoreLittleEndian32(bytes[x], outLeft);
      StoreLittleEndian32(bytes[x] + 4, outRight);
      left[x] = outLeft;
      right[x] = outRight;
    }
  }
}

// One sector's CBC decryption, four blocks at a time. Each block is
// deciphered from its own ciphertext alone, so the blocks of a group go
// through the rounds together; then each is XORed with the ciphertext
// before it (the IV for the first block).
VM_SCALAR_LANES void DecryptSector(const BlowfishContext* ctx, const uint8_t iv[8], uint8_t* data) {
  uint32_t previousLeft = LoadLittleEndian32(iv);
  uint32_t previousRight = LoadLittleEndian32(iv + 4);
  for (uint32_t block = 0; block < kBlocksPerSector; block += kLanes) {
    uint8_t* const bytes = data + block * kBlowfishBlockSize;
    uint32_t cipherLeft[kLanes], cipherRight[kLanes], left[kLanes], right[kLanes];
#pragma GCC unroll 4
    for (int x = 0; x < kLanes; ++x) {
      cipherLeft[x] = left[x] = LoadLittleEndian32(bytes + x * kBlowfishBlockSize);
      cipherRight[x] = right[x] = LoadLittleEndian32(bytes + x * kBlowfishBlockSize + 4);
    }
    Rounds<kLanes, true>(ctx, left, right);
#pragma GCC unroll 4
    for (int x = 0; x < kLanes; ++x) {
      StoreLittleEndian32(bytes + x * kBlowfishBlockSize,
                          right[x] ^ ctx->pArray[0] ^ (x == 0 ? previousLeft : cipherLeft[x - 1]));
      StoreLittleEndian32(bytes + x * kBlowfishBlockSize + 4,
                          left[x] ^ ctx->pArray[1] ^ (x == 0 ? previousRight : cipherRight[x - 1]));
    }
    previousLeft = cipherLeft[kLanes - 1];
    previousRight = cipherRight[kLanes - 1];
  }
}

}  // namespace

void BlowfishEncryptSectorsInterleaved(const BlowfishContext* ctx, const uint8_t ivSeed[8],
                                       uint8_t* data, uint64_t firstSector, uint32_t sectorCount) {
  for (; sectorCount >= kLanes; sectorCount -= kLanes) {
    EncryptLanes<kLanes>(ctx, ivSeed, data, firstSector);
    data += kLanes * kSectorSize;
    firstSector += kLanes;
  }
  for (; sectorCount > 0; --sectorCount) {
    EncryptLanes<1>(ctx, ivSeed, data, firstSector);
    data += kSectorSize;
    ++firstSector;
  }
}

void BlowfishDecryptSectorsInterleaved(const BlowfishContext* ctx, const uint8_t ivSeed[8],
                                       uint8_t* data, uint64_t firstSector, uint32_t sectorCount) {
  uint8_t digests[kMaxSectorIvBatch][kSha1DigestSize];
  while (sectorCount > 0) {
    const uint32_t batch = sectorCount < kMaxSectorIvBatch ? sectorCount : kMaxSectorIvBatch;
    SectorIvs(ivSeed, kBlowfishSeedSize, firstSector, batch, digests);
    for (uint32_t i = 0; i < batch; ++i) {
      DecryptSector(ctx, digests[i], data);
      data += kSectorSize;
    }
    firstSector += batch;
    sectorCount -= batch;
  }
  SecureWipe(digests, sizeof digests);
}
