#include "crypto/sectors.h"

#include <string.h>

#include "crypto/aes_ni.h"
#include "crypto/aes_vaes.h"
#include "crypto/blowfish_lanes.h"
#include "crypto/bytes.h"
#include "crypto/cpu_features.h"
#include "crypto/sha1_ni.h"
#include "crypto/wipe.h"

namespace {

constexpr uint32_t kAesSeedSize = 16;
constexpr uint32_t kBlowfishSeedSize = 8;
constexpr uint32_t kSectorNumberSize = 8;

}  // namespace

void SectorIvs(const uint8_t* seed, uint32_t seedSize, uint64_t firstSector, uint32_t count,
               uint8_t (*digests)[kSha1DigestSize]) {
  // Each whole padded message laid out in one block: seed, sector number,
  // the 0x80 byte, zeros, and the message length in bits.
  uint8_t blocks[kMaxSectorIvBatch][kSha1BlockSize];
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* block = blocks[i];
    memset(block, 0, kSha1BlockSize);
    memcpy(block, seed, seedSize);
    StoreLittleEndian64(block + seedSize, firstSector + i);
    block[seedSize + kSectorNumberSize] = 0x80;
    StoreBigEndian32(block + kSha1BlockSize - 4, (seedSize + kSectorNumberSize) * 8);
  }
  if (UseShaNi()) {
    Sha1NiDigestsOfBlocks(blocks[0], count, digests[0]);
  } else {
    for (uint32_t i = 0; i < count; ++i) {
      Sha1Context hash;
      Sha1Init(&hash);
      Sha1CompressBlocks(hash.state, blocks[i], 1);
      for (int w = 0; w < 5; ++w) StoreBigEndian32(digests[i] + 4 * w, hash.state[w]);
      SecureWipe(&hash, sizeof hash);
    }
  }
  SecureWipe(blocks, count * kSha1BlockSize);
}

void SectorIv(const uint8_t* seed, uint32_t seedSize, uint64_t sector,
              uint8_t digest[kSha1DigestSize]) {
  uint8_t(*digests)[kSha1DigestSize] = (uint8_t(*)[kSha1DigestSize])digest;
  SectorIvs(seed, seedSize, sector, 1, digests);
}

// The kernel build (VM_KERNEL_MODE) leaves the VAES path out: see
// crypto/aes_vaes.h.
void EncryptSectorsAes(const AesContext* ctx, const uint8_t ivSeed[16], uint8_t* data,
                       uint64_t firstSector, uint32_t sectorCount) {
#if !defined(VM_KERNEL_MODE)
  if (UseVaes()) {
    VaesEncryptSectors(ctx, ivSeed, data, firstSector, sectorCount);
    return;
  }
#endif
  if (UseAesNi()) {
    AesNiEncryptSectors(ctx, ivSeed, data, firstSector, sectorCount);
    return;
  }
  uint8_t iv[kSha1DigestSize];
  for (uint64_t sector = firstSector; sectorCount > 0; --sectorCount, ++sector) {
    SectorIv(ivSeed, kAesSeedSize, sector, iv);
    AesCbcEncrypt(ctx, iv, data, kSectorSize / kAesBlockSize);
    data += kSectorSize;
  }
  SecureWipe(iv, sizeof iv);
}

void DecryptSectorsAes(const AesContext* ctx, const uint8_t ivSeed[16], uint8_t* data,
                       uint64_t firstSector, uint32_t sectorCount) {
#if !defined(VM_KERNEL_MODE)
  if (UseVaes()) {
    VaesDecryptSectors(ctx, ivSeed, data, firstSector, sectorCount);
    return;
  }
#endif
  if (UseAesNi()) {
    AesNiDecryptSectors(ctx, ivSeed, data, firstSector, sectorCount);
    return;
  }
  uint8_t iv[kSha1DigestSize];
  for (uint64_t sector = firstSector; sectorCount > 0; --sectorCount, ++sector) {
    SectorIv(ivSeed, kAesSeedSize, sector, iv);
    AesCbcDecrypt(ctx, iv, data, kSectorSize / kAesBlockSize);
    data += kSectorSize;
  }
  SecureWipe(iv, sizeof iv);
}

void EncryptSectorsBlowfish(const BlowfishContext* ctx, const uint8_t ivSeed[8], uint8_t* data,
                            uint64_t firstSector, uint32_t sectorCount) {
  if (FastPathsEnabled()) {
    BlowfishEncryptSectorsInterleaved(ctx, ivSeed, data, firstSector, sectorCount);
    return;
  }
  uint8_t iv[kSha1DigestSize];
  for (uint64_t sector = firstSector; sectorCount > 0; --sectorCount, ++sector) {
    SectorIv(ivSeed, kBlowfishSeedSize, sector, iv);
    BlowfishCbcEncrypt(ctx, iv, data, kSectorSize / kBlowfishBlockSize);
    data += kSectorSize;
  }
  SecureWipe(iv, sizeof iv);
}

void DecryptSectorsBlowfish(const BlowfishContext* ctx, const uint8_t ivSeed[8], uint8_t* data,
                            uint64_t firstSector, uint32_t sectorCount) {
  if (FastPathsEnabled()) {
    BlowfishDecryptSectorsInterleaved(ctx, ivSeed, data, firstSector, sectorCount);
    return;
  }
  uint8_t iv[kSha1DigestSize];
  for (uint64_t sector = firstSector; sectorCount > 0; --sectorCount, ++sector) {
    SectorIv(ivSeed, kBlowfishSeedSize, sector, iv);
    BlowfishCbcDecrypt(ctx, iv, data, kSectorSize / kBlowfishBlockSize);
    data += kSectorSize;
  }
  SecureWipe(iv, sizeof iv);
}
