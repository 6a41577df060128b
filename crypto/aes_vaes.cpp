#include "crypto/aes_vaes.h"

#include <immintrin.h>

#include "crypto/aes_ni.h"
#include "crypto/sectors.h"
#include "crypto/sha1.h"
#include "crypto/wipe.h"

#define VM_VAES_TARGET __attribute__((target("aes,vaes,avx2")))

namespace {

constexpr uint32_t kBlocksPerSector = kSectorSize / kAesBlockSize;
constexpr uint32_t kAesSeedSize = 16;
constexpr int kMaxRounds = 14;
// Registers per group: sixteen sectors when encrypting, sixteen blocks of
// one sector when decrypting.
constexpr int kRegisters = 8;
constexpr uint32_t kGroupSectors = 2 * kRegisters;

// Each round key in both halves of a register. The context's round keys
// are big-endian words; VAES wants the bytes in order.
VM_VAES_TARGET void LoadRoundKeys(const uint32_t* words, int rounds, __m256i keys[kMaxRounds + 1]) {
  const __m256i wordByteSwap =
      _mm256_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3, 12, 13, 14, 15, 8, 9,
                      10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
  for (int r = 0; r <= rounds; ++r) {
    const __m128i key = _mm_loadu_si128((const __m128i*)(words + 4 * r));
    keys[r] = _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(key), wordByteSwap);
  }
}

// Block `block` of sectors 2j (low half) and 2j + 1 (high half).
VM_VAES_TARGET inline __m256i LoadPair(const uint8_t* data, int j, uint32_t block) {
  const uint8_t* low = data + 2 * j * kSectorSize + block * kAesBlockSize;
  return _mm256_loadu2_m128i((const __m128i*)(low + kSectorSize), (const __m128i*)low);
}

VM_VAES_TARGET inline void StorePair(uint8_t* data, int j, uint32_t block, __m256i value) {
  uint8_t* low = data + 2 * j * kSectorSize + block * kAesBlockSize;
  _mm256_storeu2_m128i((__m128i*)(low + kSectorSize), (__m128i*)low, value);
}

// Sixteen consecutive sectors, block by block: the same block of every
// sector goes through each round together.
VM_VAES_TARGET void EncryptGroup(const __m256i* keys, int rounds, const uint8_t ivSeed[16],
                                 uint8_t* data, uint64_t sector) {
  uint8_t digests[kGroupSectors][kSha1DigestSize];
  SectorIvs(ivSeed, kAesSeedSize, sector, kGroupSectors, digests);
  __m256i chain[kRegisters];
  for (int j = 0; j < kRegisters; ++j) {
    chain[j] =
        _mm256_loadu2_m128i((const __m128i*)digests[2 * j + 1], (const __m128i*)digests[2 * j]);
  }
  SecureWipe(digests, sizeof digests);
  for (uint32_t block = 0; block < kBlocksPerSector; ++block) {
    __m256i x[kRegisters];
#pragma GCC unroll 8
    for (int j = 0; j < kRegisters; ++j) {
      x[j] = _mm256_xor_si256(_mm256_xor_si256(LoadPair(data, j, block), chain[j]), keys[0]);
    }
    for (int r = 1; r < rounds; ++r) {
#pragma GCC unroll 8
      for (int j = 0; j < kRegisters; ++j) x[j] = _mm256_aesenc_epi128(x[j], keys[r]);
    }
#pragma GCC unroll 8
    for (int j = 0; j < kRegisters; ++j) {
      chain[j] = _mm256_aesenclast_epi128(x[j], keys[rounds]);
      StorePair(data, j, block, chain[j]);
    }
  }
}

// One sector, sixteen blocks at a time; each register holds two adjacent
// blocks, and the block before each (the previous ciphertext of CBC) is read
// before anything is written back.
VM_VAES_TARGET void DecryptSector(const __m256i* keys, int rounds, __m128i previous,
                                  uint8_t* data) {
  for (uint32_t block = 0; block < kBlocksPerSector; block += 2 * kRegisters) {
    uint8_t* bytes = data + block * kAesBlockSize;
    __m256i before[kRegisters], x[kRegisters];
#pragma GCC unroll 8
    for (int j = 0; j < kRegisters; ++j) {
      const __m256i cipher = _mm256_loadu_si256((const __m256i*)(bytes + 32 * j));
      before[j] = j == 0 ? _mm256_set_m128i(_mm256_castsi256_si128(cipher), previous)
                         : _mm256_loadu_si256((const __m256i*)(bytes + 32 * j - 16));
      x[j] = _mm256_xor_si256(cipher, keys[0]);
    }
    previous = _mm_loadu_si128((const __m128i*)(bytes + 32 * kRegisters - 16));
    for (int r = 1; r < rounds; ++r) {
#pragma GCC unroll 8
      for (int j = 0; j < kRegisters; ++j) x[j] = _mm256_aesdec_epi128(x[j], keys[r]);
    }
#pragma GCC unroll 8
    for (int j = 0; j < kRegisters; ++j) {
      x[j] = _mm256_xor_si256(_mm256_aesdeclast_epi128(x[j], keys[rounds]), before[j]);
      _mm256_storeu_si256((__m256i*)(bytes + 32 * j), x[j]);
    }
  }
}

}  // namespace

VM_VAES_TARGET void VaesEncryptSectors(const AesContext* ctx, const uint8_t ivSeed[16],
                                       uint8_t* data, uint64_t firstSector, uint32_t sectorCount) {
  __m256i keys[kMaxRounds + 1];
  const int rounds = ctx->roundCount;
  LoadRoundKeys(ctx->encryptionRoundKeys, rounds, keys);
  for (; sectorCount >= kGroupSectors; sectorCount -= kGroupSectors) {
    EncryptGroup(keys, rounds, ivSeed, data, firstSector);
    data += kGroupSectors * kSectorSize;
    firstSector += kGroupSectors;
  }
  SecureWipe(keys, sizeof keys);
  if (sectorCount > 0) AesNiEncryptSectors(ctx, ivSeed, data, firstSector, sectorCount);
}

VM_VAES_TARGET void VaesDecryptSectors(const AesContext* ctx, const uint8_t ivSeed[16],
                                       uint8_t* data, uint64_t firstSector, uint32_t sectorCount) {
  __m256i keys[kMaxRounds + 1];
  const int rounds = ctx->roundCount;
  LoadRoundKeys(ctx->decryptionRoundKeys, rounds, keys);
  uint8_t digests[kMaxSectorIvBatch][kSha1DigestSize];
  while (sectorCount > 0) {
    const uint32_t batch = sectorCount < kMaxSectorIvBatch ? sectorCount : kMaxSectorIvBatch;
    SectorIvs(ivSeed, kAesSeedSize, firstSector, batch, digests);
    for (uint32_t i = 0; i < batch; ++i) {
      DecryptSector(keys, rounds, _mm_loadu_si128((const __m128i*)digests[i]), data);
      data += kSectorSize;
    }
    firstSector += batch;
    sectorCount -= batch;
  }
  SecureWipe(digests, sizeof digests);
  SecureWipe(keys, sizeof keys);
}
