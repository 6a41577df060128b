#include "crypto/aes_ni.h"

#include <immintrin.h>

#include "crypto/sectors.h"
#include "crypto/sha1.h"
#include "crypto/wipe.h"

#define VM_AES_TARGET __attribute__((target("aes,sse4.1")))

namespace {

constexpr uint32_t kBlocksPerSector = kSectorSize / kAesBlockSize;
constexpr uint32_t kAesSeedSize = 16;
constexpr int kMaxRounds = 14;
constexpr int kLanes = 8;

// The context's round keys are big-endian words; AES-NI wants the bytes in
// order, so each word's bytes are swapped back.
VM_AES_TARGET void LoadRoundKeys(const uint32_t* words, int rounds, __m128i keys[kMaxRounds + 1]) {
  const __m128i wordByteSwap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
  for (int r = 0; r <= rounds; ++r) {
    keys[r] = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i*)(words + 4 * r)), wordByteSwap);
  }
}

// `Lanes` consecutive sectors, block by block: the same block of every
// sector goes through each round together. The loops over the lanes are
// unrolled so that every lane's block stays in a register.
template <int Lanes>
VM_AES_TARGET inline void EncryptLanes(const __m128i* keys, int rounds, const uint8_t ivSeed[16],
                                       uint8_t* data, uint64_t sector) {
  uint8_t digests[Lanes][kSha1DigestSize];
  SectorIvs(ivSeed, kAesSeedSize, sector, Lanes, digests);
  __m128i chain[Lanes];
  for (int l = 0; l < Lanes; ++l) chain[l] = _mm_loadu_si128((const __m128i*)digests[l]);
  SecureWipe(digests, sizeof digests);
  for (uint32_t block = 0; block < kBlocksPerSector; ++block) {
    __m128i x[Lanes];
#pragma GCC unroll 8
    for (int l = 0; l < Lanes; ++l) {
      const __m128i plain = _mm_loadu_si128((const __m128i*)(data + l * kSectorSize + block * 16));
      x[l] = _mm_xor_si128(_mm_xor_si128(plain, chain[l]), keys[0]);
    }
    for (int r = 1; r < rounds; ++r) {
#pragma GCC unroll 8
      for (int l = 0; l < Lanes; ++l) x[l] = _mm_aesenc_si128(x[l], keys[r]);
    }
#pragma GCC unroll 8
    for (int l = 0; l < Lanes; ++l) {
      chain[l] = _mm_aesenclast_si128(x[l], keys[rounds]);
      _mm_storeu_si128((__m128i*)(data + l * kSectorSize + block * 16), chain[l]);
    }
  }
}

VM_AES_TARGET void DecryptSector(const __m128i* keys, int rounds, __m128i previous, uint8_t* data) {
  for (uint32_t block = 0; block < kBlocksPerSector; block += kLanes) {
    __m128i cipher[kLanes], x[kLanes];
#pragma GCC unroll 8
    for (int l = 0; l < kLanes; ++l) {
      cipher[l] = _mm_loadu_si128((const __m128i*)(data + (block + l) * 16));
      x[l] = _mm_xor_si128(cipher[l], keys[0]);
    }
    for (int r = 1; r < rounds; ++r) {
#pragma GCC unroll 8
      for (int l = 0; l < kLanes; ++l) x[l] = _mm_aesdec_si128(x[l], keys[r]);
    }
#pragma GCC unroll 8
    for (int l = 0; l < kLanes; ++l) {
      x[l] = _mm_xor_si128(_mm_aesdeclast_si128(x[l], keys[rounds]),
                           l == 0 ? previous : cipher[l - 1]);
      _mm_storeu_si128((__m128i*)(data + (block + l) * 16), x[l]);
    }
    previous = cipher[kLanes - 1];
  }
}

}  // namespace

VM_AES_TARGET void AesNiEncryptSectors(const AesContext* ctx, const uint8_t ivSeed[16],
                                       uint8_t* data, uint64_t firstSector, uint32_t sectorCount) {
  __m128i keys[kMaxRounds + 1];
  const int rounds = ctx->roundCount;
  LoadRoundKeys(ctx->encryptionRoundKeys, rounds, keys);
  for (; sectorCount >= kLanes; sectorCount -= kLanes) {
    EncryptLanes<kLanes>(keys, rounds, ivSeed, data, firstSector);
    data += kLanes * kSectorSize;
    firstSector += kLanes;
  }
  if (sectorCount >= 4) {
    EncryptLanes<4>(keys, rounds, ivSeed, data, firstSector);
    data += 4 * kSectorSize;
    firstSector += 4;
    sectorCount -= 4;
  }
  for (; sectorCount > 0; --sectorCount) {
    EncryptLanes<1>(keys, rounds, ivSeed, data, firstSector);
    data += kSectorSize;
    ++firstSector;
  }
  SecureWipe(keys, sizeof keys);
}

VM_AES_TARGET void AesNiDecryptSectors(const AesContext* ctx, const uint8_t ivSeed[16],
                                       uint8_t* data, uint64_t firstSector, uint32_t sectorCount) {
  __m128i keys[kMaxRounds + 1];
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
