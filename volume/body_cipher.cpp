#include "volume/body_cipher.h"

#include <string.h>

#include "crypto/sectors.h"
#include "crypto/wipe.h"
#include "volume/header.h"

bool BodyCipherInit(BodyCipher* cipher, int algorithm, const uint8_t sectorKey[64],
                    const uint8_t sectorIvSeed[64]) {
  SecureWipe(cipher, sizeof *cipher);
  uint32_t keySize = AlgorithmKeySize(algorithm);
  if (keySize == 0) return false;

  cipher->algorithm = algorithm;
  if (AlgorithmIsAes(algorithm)) {
    AesSetKey(&cipher->aes, sectorKey, (int)(keySize * 8));
    memcpy(cipher->ivSeed, sectorIvSeed, kAesBlockSize);
  } else {
    BlowfishSetKey(&cipher->blowfish, sectorKey, keySize);
    memcpy(cipher->ivSeed, sectorIvSeed, kBlowfishBlockSize);
  }
  return true;
}

void BodyCipherEncrypt(const BodyCipher* cipher, uint8_t* data, uint64_t firstSector,
                       uint32_t sectorCount) {
  if (AlgorithmKeySize(cipher->algorithm) == 0) return;
  if (AlgorithmIsAes(cipher->algorithm)) {
    EncryptSectorsAes(&cipher->aes, cipher->ivSeed, data, firstSector, sectorCount);
  } else {
    EncryptSectorsBlowfish(&cipher->blowfish, cipher->ivSeed, data, firstSector, sectorCount);
  }
}

void BodyCipherDecrypt(const BodyCipher* cipher, uint8_t* data, uint64_t firstSector,
                       uint32_t sectorCount) {
  if (AlgorithmKeySize(cipher->algorithm) == 0) return;
  if (AlgorithmIsAes(cipher->algorithm)) {
    DecryptSectorsAes(&cipher->aes, cipher->ivSeed, data, firstSector, sectorCount);
  } else {
    DecryptSectorsBlowfish(&cipher->blowfish, cipher->ivSeed, data, firstSector, sectorCount);
  }
}

void BodyCipherWipe(BodyCipher* cipher) { SecureWipe(cipher, sizeof *cipher); }
