#include "volume/header.h"

#include <string.h>

#include "crypto/aes.h"
#include "crypto/blowfish.h"
#include "crypto/hmac.h"
#include "crypto/random.h"
#include "crypto/wipe.h"

namespace {

constexpr char kSignatureText[] = "Velmorcrypt";

static_assert(sizeof kSignatureText <= kSignatureSize, "the signature and its zero fit");
static_assert(kSaltSize <= (uint32_t)kMaxSaltSize, "the salt fits the key derivation");
static_assert(kSaltSize == kRandomFieldSize && kHeaderIvSize == kRandomFieldSize &&
                  kBodyKeySize == kRandomFieldSize,
              "every random field is drawn whole");
static_assert(kSealedSize % kAesBlockSize == 0 && kSealedSize % kBlowfishBlockSize == 0,
              "the sealed region is whole blocks of either cipher");
static_assert(kMacSize == kSha1DigestSize, "the mac is one HMAC-SHA1");

// The cipher of the sealed region, keyed from the start of the derived key;
// its IV is the start of headerIv.
struct HeaderCipher {
  int algorithm;
  union {
    AesContext aes;
    BlowfishContext blowfish;
  };
};

void KeyHeaderCipher(HeaderCipher* cipher, int algorithm,
                     const uint8_t derivedKey[kDerivedKeySize]) {
  cipher->algorithm = algorithm;
  if (AlgorithmIsAes(algorithm)) {
    AesSetKey(&cipher->aes, derivedKey, (int)(AlgorithmKeySize(algorithm) * 8));
  } else {
    BlowfishSetKey(&cipher->blowfish, derivedKey, AlgorithmKeySize(algorithm));
  }
}

void EncryptSealedRegion(const HeaderCipher* cipher, const uint8_t* headerIv, uint8_t* region) {
  if (AlgorithmIsAes(cipher->algorithm)) {
    AesCbcEncrypt(&cipher->aes, headerIv, region, kSealedSize / kAesBlockSize);
  } else {
    BlowfishCbcEncrypt(&cipher->blowfish, headerIv, region, kSealedSize / kBlowfishBlockSize);
  }
}

void DecryptSealedRegion(const HeaderCipher* cipher, const uint8_t* headerIv, uint8_t* region) {
  if (AlgorithmIsAes(cipher->algorithm)) {
    AesCbcDecrypt(&cipher->aes, headerIv, region, kSealedSize / kAesBlockSize);
  } else {
    BlowfishCbcDecrypt(&cipher->blowfish, headerIv, region, kSealedSize / kBlowfishBlockSize);
  }
}

void DeriveKey(const uint8_t* password, uint32_t passwordLength, const uint8_t* header,
               uint8_t derivedKey[kDerivedKeySize]) {
  Pbkdf2HmacSha1(password, (int32_t)passwordLength, header + kSaltOffset, kSaltSize,
                 kPbkdf2Iterations, derivedKey, kDerivedKeySize);
}

// The mac key is the first 20 bytes of the derived key.
void ComputeMac(const uint8_t* region, const uint8_t derivedKey[kDerivedKeySize],
                uint8_t mac[kMacSize]) {
  HmacSha1(region, kSealedSize, derivedKey, kMacSize, mac);
}

// Compares every byte whatever the first difference, so the time taken says
// nothing about where the macs differ.
bool MacsEqual(const uint8_t* a, const uint8_t* b) {
  uint8_t difference = 0;
  for (uint32_t i = 0; i < kMacSize; ++i) difference |= a[i] ^ b[i];
  return difference == 0;
}

// The header's salt, headerIv and plaintext sealed region are in place:
// derives the key, writes the mac and encrypts the sealed region.
void SealInPlace(uint8_t* header, const uint8_t* password, uint32_t passwordLength, int algorithm) {
  uint8_t derivedKey[kDerivedKeySize];
  DeriveKey(password, passwordLength, header, derivedKey);
  ComputeMac(header + kSealedOffset, derivedKey, header + kMacOffset);

  HeaderCipher cipher;
  KeyHeaderCipher(&cipher, algorithm, derivedKey);
  EncryptSealedRegion(&cipher, header + kHeaderIvOffset, header + kSealedOffset);

  SecureWipe(&cipher, sizeof cipher);
  SecureWipe(derivedKey, sizeof derivedKey);
}

// Fills the random fields in the order sectorIvSeed, sectorKey, salt,
// headerIv (or only salt and headerIv when `bodyKeysToo` is false).
bool DrawHeaderFields(uint8_t* header, bool bodyKeysToo) {
  if (bodyKeysToo) {
    if (!DrawRandomField(header + kSectorIvSeedOffset)) return false;
    if (!DrawRandomField(header + kSectorKeyOffset)) return false;
  }
  return DrawRandomField(header + kSaltOffset) && DrawRandomField(header + kHeaderIvOffset);
}

}  // namespace

bool SealHeader(uint8_t header[kHeaderSize], const uint8_t* password, uint32_t passwordLength,
                int algorithm, uint8_t sectorKeyOut[kBodyKeySize],
                uint8_t sectorIvSeedOut[kBodyKeySize]) {
  memset(header + kSignatureOffset, 0, kSignatureSize + kReservedSize);
  memcpy(header + kSignatureOffset, kSignatureText, sizeof kSignatureText - 1);

  if (AlgorithmKeySize(algorithm) == 0 || !DrawHeaderFields(header, true)) {
    SecureWipe(header, kHeaderSize);
    SecureWipe(sectorKeyOut, kBodyKeySize);
    SecureWipe(sectorIvSeedOut, kBodyKeySize);
    return false;
  }
  memcpy(sectorKeyOut, header + kSectorKeyOffset, kBodyKeySize);
  memcpy(sectorIvSeedOut, header + kSectorIvSeedOffset, kBodyKeySize);

  SealInPlace(header, password, passwordLength, algorithm);
  return true;
}

int OpenHeader(uint8_t header[kHeaderSize], const uint8_t* password, uint32_t passwordLength) {
  // One derivation serves every algorithm tried.
  uint8_t derivedKey[kDerivedKeySize];
  DeriveKey(password, passwordLength, header, derivedKey);

  uint8_t scratch[kSealedSize];
  uint8_t mac[kMacSize];
  HeaderCipher cipher;
  int opened = kAlgorithmNone;
  for (int algorithm = kAes128; algorithm <= kBlowfish448; ++algorithm) {
    memcpy(scratch, header + kSealedOffset, kSealedSize);
    KeyHeaderCipher(&cipher, algorithm, derivedKey);
    DecryptSealedRegion(&cipher, header + kHeaderIvOffset, scratch);
    ComputeMac(scratch, derivedKey, mac);
    if (MacsEqual(mac, header + kMacOffset)) {
      memcpy(header + kSealedOffset, scratch, kSealedSize);
      opened = algorithm;
      break;
    }
  }

  SecureWipe(&cipher, sizeof cipher);
  SecureWipe(scratch, sizeof scratch);
  SecureWipe(mac, sizeof mac);
  SecureWipe(derivedKey, sizeof derivedKey);
  return opened;
}

int ResealHeader(uint8_t header[kHeaderSize], const uint8_t* currentPassword,
                 uint32_t currentPasswordLength, const uint8_t* newPassword,
                 uint32_t newPasswordLength) {
  // On any failure the caller gets back the sealed header it passed in:
  // never a plaintext sealed region, never a mac over mismatched bytes.
  uint8_t original[kHeaderSize];
  memcpy(original, header, kHeaderSize);

  int algorithm = OpenHeader(header, currentPassword, currentPasswordLength);
  if (algorithm == kAlgorithmNone) return 0;

  if (!DrawHeaderFields(header, false)) {
    memcpy(header, original, kHeaderSize);
    return 0;
  }
  SealInPlace(header, newPassword, newPasswordLength, algorithm);
  return 1;
}
