// OpenHeader on arbitrary 1044-byte buffers with a short password.
//
// Input: password (FuzzInput::Password), then the header (padded to 1044
// bytes with zeros).
//
// The answer is checked against a reading of the header format made here
// directly from the primitives: OpenHeader must give the first algorithm,
// in the order 1 to 4, whose MAC matches, with exactly the sealed region
// decrypted in place; and 0, with the buffer unchanged, when none matches.
#include <stdint.h>
#include <string.h>

#include "crypto/aes.h"
#include "crypto/blowfish.h"
#include "crypto/hmac.h"
#include "fuzz/fuzz_input.h"
#include "volume/header.h"

namespace {

// The first algorithm under which the sealed region decrypts to bytes whose
// HMAC-SHA1 is the stored mac, or 0; `plaintext` then holds that decryption.
int FirstMatchingAlgorithm(const uint8_t* header, const ExactBytes& password,
                           uint8_t plaintext[kSealedSize]) {
  uint8_t key[kDerivedKeySize];
  Pbkdf2HmacSha1(password.data(), static_cast<int32_t>(password.size()), header + kSaltOffset,
                 kSaltSize, kPbkdf2Iterations, key, kDerivedKeySize);
  const uint8_t* iv = header + kHeaderIvOffset;
  for (int algorithm = kAes128; algorithm <= kBlowfish448; ++algorithm) {
    memcpy(plaintext, header + kSealedOffset, kSealedSize);
    if (AlgorithmIsAes(algorithm)) {
      AesContext aes;
      FUZZ_CHECK(AesSetKey(&aes, key, static_cast<int>(AlgorithmKeySize(algorithm) * 8)) == 0);
      AesCbcDecrypt(&aes, iv, plaintext, kSealedSize / kAesBlockSize);
    } else {
      BlowfishContext blowfish;
      BlowfishSetKey(&blowfish, key, AlgorithmKeySize(algorithm));
      BlowfishCbcDecrypt(&blowfish, iv, plaintext, kSealedSize / kBlowfishBlockSize);
    }
    uint8_t mac[kMacSize];
    HmacSha1(plaintext, kSealedSize, key, kMacSize, mac);
    if (memcmp(mac, header + kMacOffset, kMacSize) == 0) return algorithm;
  }
  return kAlgorithmNone;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  const ExactBytes password(input.Password());
  uint8_t original[kHeaderSize];
  input.Block(original, kHeaderSize);
  ExactBytes header(std::string_view(reinterpret_cast<const char*>(original), kHeaderSize));

  const int opened = OpenHeader(header.data(), password.data(), password.size());

  uint8_t plaintext[kSealedSize];
  const int expected = FirstMatchingAlgorithm(original, password, plaintext);
  FUZZ_CHECK(opened == expected);
  if (opened == kAlgorithmNone) {
    FUZZ_CHECK(memcmp(header.data(), original, kHeaderSize) == 0);
  } else {
    FUZZ_CHECK(memcmp(header.data(), original, kSealedOffset) == 0);
    FUZZ_CHECK(memcmp(header.data() + kSealedOffset, plaintext, kSealedSize) == 0);
    FUZZ_CHECK(memcmp(header.data() + kMacOffset, original + kMacOffset, kMacSize) == 0);
  }
  return 0;
}
