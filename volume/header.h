// The 1044-byte password-sealed volume header.
//
//   offset  size  field
//   0       64    salt          PBKDF2 salt
//   64      64    headerIv      first 16 (AES) or 8 (Blowfish) bytes: CBC IV of the sealed region
//   128     16    signature     "Velmorcrypt" and zeros            (sealed)
//   144     752   reserved      zeros                               (sealed)
//   896     64    sectorIvSeed  seed of the body's sector IVs       (sealed)
//   960     64    sectorKey     key of the body cipher              (sealed)
//   1024    20    mac           HMAC-SHA1 of the plaintext sealed region
//
// In both volume layouts the header is the last 1044 bytes of the file that
// holds it: after the body in a volume file, or alone in an .ehb file.
#pragma once
#include <stdint.h>

constexpr uint32_t kHeaderSize = 1044;
constexpr uint32_t kSaltOffset = 0;
constexpr uint32_t kSaltSize = 64;
constexpr uint32_t kHeaderIvOffset = 64;
constexpr uint32_t kHeaderIvSize = 64;
constexpr uint32_t kSignatureOffset = 128;
constexpr uint32_t kSignatureSize = 16;
constexpr uint32_t kReservedOffset = 144;
constexpr uint32_t kReservedSize = 752;
constexpr uint32_t kSectorIvSeedOffset = 896;
constexpr uint32_t kSectorKeyOffset = 960;
constexpr uint32_t kBodyKeySize = 64;
constexpr uint32_t kMacOffset = 1024;
constexpr uint32_t kMacSize = 20;
constexpr uint32_t kSealedOffset = kSignatureOffset;
constexpr uint32_t kSealedSize = kMacOffset - kSealedOffset;  // 896
constexpr uint32_t kMaxPasswordLength = 64;
constexpr uint32_t kMegabyte = 1048576;
constexpr uint32_t kMaxVolumeSizeMb = 999999;

static_assert(kSealedSize == 896, "the sealed region is 896 bytes");
static_assert(kSectorKeyOffset + kBodyKeySize == kMacOffset, "sectorKey ends where mac starts");
static_assert(kMacOffset + kMacSize == kHeaderSize, "mac ends the header");
static_assert(kReservedOffset + kReservedSize == kSectorIvSeedOffset,
              "reserved ends at sectorIvSeed");

enum AlgorithmId : uint8_t {
  kAlgorithmNone = 0,
  kAes128 = 1,
  kAes256 = 2,
  kBlowfish128 = 3,
  kBlowfish448 = 4,
};

constexpr int kAlgorithmCount = 4;

// Defined here rather than in header.cpp so that the body cipher, which the
// stand-in driver compiles without the header operations, shares them.

// "AES-128", "AES-256", "Blowfish-128", "Blowfish-448"; nullptr for other ids.
constexpr const char* AlgorithmName(int id) {
  switch (id) {
    case kAes128:
      return "AES-128";
    case kAes256:
      return "AES-256";
    case kBlowfish128:
      return "Blowfish-128";
    case kBlowfish448:
      return "Blowfish-448";
    default:
      return nullptr;
  }
}

// Cipher key bytes: 16, 32, 16, 56; 0 for other ids.
constexpr uint32_t AlgorithmKeySize(int id) {
  switch (id) {
    case kAes128:
      return 16;
    case kAes256:
      return 32;
    case kBlowfish128:
      return 16;
    case kBlowfish448:
      return 56;
    default:
      return 0;
  }
}

constexpr bool AlgorithmIsAes(int id) { return id == kAes128 || id == kAes256; }

// Seals a new header into `header` (contents ignored) with fresh random
// salt, IV and body keys, and copies the body keys to the two outputs.
// Returns false, with the buffer and both outputs wiped, when the random
// source fails or the algorithm is not 1..4; it never falls back to a weaker
// source.
bool SealHeader(uint8_t header[kHeaderSize], const uint8_t* password, uint32_t passwordLength,
                int algorithm, uint8_t sectorKeyOut[kBodyKeySize],
                uint8_t sectorIvSeedOut[kBodyKeySize]);

// Returns the AlgorithmId 1..4 with the sealed region decrypted in place, or
// 0 with the buffer unchanged when no algorithm opens it.
int OpenHeader(uint8_t header[kHeaderSize], const uint8_t* password, uint32_t passwordLength);

// Re-seals under `newPassword` with the same algorithm and body keys.
// Returns 1 on success; 0 when the current password does not open the
// header or the random source fails, with the buffer then holding the
// sealed header exactly as it was passed in.
int ResealHeader(uint8_t header[kHeaderSize], const uint8_t* currentPassword,
                 uint32_t currentPasswordLength, const uint8_t* newPassword,
                 uint32_t newPasswordLength);
