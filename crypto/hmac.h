// HMAC-SHA1 (RFC 2104) and PBKDF2-HMAC-SHA1 (RFC 2898).
#pragma once
#include <stdint.h>

#include "crypto/sha1.h"

// Message first, key second, output last. A key longer than 64 bytes is
// replaced by its digest; a key of exactly 64 bytes is used as it is.
void HmacSha1(const uint8_t* message, int32_t messageLength, const uint8_t* key, int32_t keyLength,
              uint8_t output[kSha1DigestSize]);

// PBKDF2 with HMAC-SHA1. The salt is hashed as it is, so any length works;
// volume headers pass 64 bytes.
void Pbkdf2HmacSha1(const uint8_t* password, int32_t passwordLength, const uint8_t* salt,
                    int32_t saltLength, int32_t iterations, uint8_t* output, int32_t outputLength);

// The fixed parameters with which the volume header derives its key.
constexpr int32_t kPbkdf2Iterations = 2048;
constexpr int32_t kDerivedKeySize = 64;
constexpr int32_t kMaxSaltSize = 64;
