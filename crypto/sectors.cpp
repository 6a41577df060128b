#include "crypto/sectors.h"

#include <string.h>

#include "crypto/aes_ni.h"
#include "crypto/blowfish_lanes.h"
#include "crypto/bytes.h"
#include "crypto/cpu_features.h"
#include "crypto/wipe.h"

namespace {

constexpr uint32_t kAesSeedSize = 16;
constexpr uint32_t kBlowfishSeedSize = 8;
constexpr uint32_t kSectorNumberSize = 8;

}  // namespace

void SectorIv(const uint8_t* seed, uint32_t seedSize, uint64_t sector,
              uint8_t digest[kSha1DigestSize]) {
  // The whole padded message laid out in one block: seed, sector number,
  // the 0x80 byte, zeros, and the message length in bits.
  uint8_t block[kSha1BlockSize] = {};
  memcpy(block, seed, seedSize);
  StoreLittleEndian64(block + seedSize, sector);
  block[seedSize + kSectorNumberSize] = 0x80;
  StoreBigEndian32(block + kSha1BlockSize - 4, (seedSize + kSectorNumberSize) * 8);
  Sha1Context hash;
  Sha1Init(&hash);
  Sha1CompressBlocks(hash.state, block, 1);
  for (int i = 0; i < 5; ++i) StoreBigEndian32(digest + 4 * i, hash.state[i]);
  SecureWipe(block, sizeof block);
  SecureWipe(&hash, sizeof hash);
}

void EncryptSectorsAes(const AesContext* ctx, const uint8_t ivSeed[16], uint8_t* data,
                       uint64_t firstSector, uint32_t sectorCount) {
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
  uint8_t iv[kSha1DigestSize];
  for (uint64_t sector = firstSector; sectorCount > 0; --sectorCount, ++sector) {
    SectorIv(ivSeed, kBlowfishSeedSize, sector, iv);
    BlowfishCbcDecrypt(ctx, iv, data, kSectorSize / kBlowfishBlockSize);
    data += kSectorSize;
  }
  SecureWipe(iv, sizeof iv);
}
