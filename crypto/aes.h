// AES (FIPS-197), table-driven, with CBC chaining. Nothing allocates.
#pragma once
#include <stdint.h>

constexpr uint32_t kAesBlockSize = 16;

struct AesContext {
  uint32_t encryptionRoundKeys[60];
  uint32_t decryptionRoundKeys[60];  // for the equivalent inverse cipher
  int32_t roundCount;                // 10, 12 or 14
};

// 0 on success; 1 when keyBits is not 128, 192 or 256 (the context is then unusable).
int AesSetKey(AesContext* ctx, const uint8_t* key, int keyBits);
// One block; `in` and `out` may be the same buffer.
void AesEncryptBlock(const AesContext* ctx, const uint8_t in[16], uint8_t out[16]);
void AesDecryptBlock(const AesContext* ctx, const uint8_t in[16], uint8_t out[16]);
// CBC over `blockCount` whole blocks, in place. The IV is never written.
void AesCbcEncrypt(const AesContext* ctx, const uint8_t iv[16], uint8_t* data, uint32_t blockCount);
void AesCbcDecrypt(const AesContext* ctx, const uint8_t iv[16], uint8_t* data, uint32_t blockCount);
