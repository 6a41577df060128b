// Sector encryption of a volume body. A sector is 512 bytes; its IV is the
// start of SHA-1(seed || sector number as 8 little-endian bytes), where the
// seed is the first 16 (AES) or 8 (Blowfish) bytes of the header's
// sectorIvSeed. Consecutive sectors are processed in place.
#pragma once
#include <stdint.h>

#include "crypto/aes.h"
#include "crypto/blowfish.h"
#include "crypto/sha1.h"

constexpr uint32_t kSectorSize = 512;

// The IV digest of one sector: SHA-1(seed || sector as 8 little-endian
// bytes), of which the caller takes the first 16 or 8 bytes. The seed is
// at most 47 bytes, so the message fits one block.
void SectorIv(const uint8_t* seed, uint32_t seedSize, uint64_t sector,
              uint8_t digest[kSha1DigestSize]);
// The IV digests of `count` consecutive sectors from `firstSector`, at most
// kMaxSectorIvBatch, into digests[0 .. count - 1]; with the SHA extensions
// several digests are computed side by side.
constexpr uint32_t kMaxSectorIvBatch = 16;
void SectorIvs(const uint8_t* seed, uint32_t seedSize, uint64_t firstSector, uint32_t count,
               uint8_t (*digests)[kSha1DigestSize]);

// Where the processor has VAES, the AES routines take the fast path of
// crypto/aes_vaes.h, else where it has AES-NI that of crypto/aes_ni.h;
// Blowfish interleaves four sectors (encryption) or four blocks of a sector
// (decryption) (crypto/blowfish_lanes.h) unless the fast paths are turned
// off.

void EncryptSectorsAes(const AesContext* ctx, const uint8_t ivSeed[16], uint8_t* data,
                       uint64_t firstSector, uint32_t sectorCount);
void DecryptSectorsAes(const AesContext* ctx, const uint8_t ivSeed[16], uint8_t* data,
                       uint64_t firstSector, uint32_t sectorCount);
void EncryptSectorsBlowfish(const BlowfishContext* ctx, const uint8_t ivSeed[8], uint8_t* data,
                            uint64_t firstSector, uint32_t sectorCount);
void DecryptSectorsBlowfish(const BlowfishContext* ctx, const uint8_t ivSeed[8], uint8_t* data,
                            uint64_t firstSector, uint32_t sectorCount);
