#include "crypto/sectors.h"

#include "crypto/bytes.h"
#include "crypto/sha1.h"
#include "crypto/wipe.h"

namespace {

constexpr uint32_t kAesSeedSize = 16;
constexpr uint32_t kBlowfishSeedSize = 8;

// IV of one sector: the start of SHA-1(seed || sector number as 8
// little-endian bytes). The caller takes the first 16 or 8 bytes.
void SectorIv(const uint8_t* seed, uint32_t seedSize, uint64_t sector,
              uint8_t digest[kSha1DigestSize]) {
  uint8_t sectorBytes[8];
  StoreLittleEndian64(sectorBytes, sector);
  Sha1Context hash;
  Sha1Init(&hash);
  Sha1Update(&hash, seed, seedSize);
  Sha1Update(&hash, sectorBytes, sizeof sectorBytes);
  Sha1Final(&hash, digest);
}

}  // namespace

void EncryptSectorsAes(const AesContext* ctx, const uint8_t ivSeed[16], uint8_t* data,
                       uint64_t firstSector, uint32_t sectorCount) {
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
