// The cipher of a volume body: the volume's algorithm keyed by sectorKey,
// with sector IVs seeded by sectorIvSeed. Shared by volume creation and the
// stand-in driver.
#pragma once
#include <stdint.h>

#include "crypto/aes.h"
#include "crypto/blowfish.h"

struct BodyCipher {
  int algorithm;  // AlgorithmId
  uint8_t ivSeed[16];
  union {
    AesContext aes;
    BlowfishContext blowfish;
  };
};

// Keys the cipher from the 64-byte body keys of an opened header: the first
// 16/32/16/56 bytes of sectorKey, the first 16 (AES) or 8 (Blowfish) bytes
// of sectorIvSeed. Returns false for an unknown algorithm; the cipher is
// then zeroed and encrypts or decrypts nothing.
bool BodyCipherInit(BodyCipher* cipher, int algorithm, const uint8_t sectorKey[64],
                    const uint8_t sectorIvSeed[64]);
void BodyCipherEncrypt(const BodyCipher* cipher, uint8_t* data, uint64_t firstSector,
                       uint32_t sectorCount);
void BodyCipherDecrypt(const BodyCipher* cipher, uint8_t* data, uint64_t firstSector,
                       uint32_t sectorCount);
// Wipes the keys.
void BodyCipherWipe(BodyCipher* cipher);
