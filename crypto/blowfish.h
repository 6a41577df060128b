// Blowfish (Schneier, 1993) with CBC chaining. The 8 bytes of a block are
// two little-endian words L = b0..b3 and R = b4..b7; key bytes enter the
// P-array big-endian.
#pragma once
#include <stdint.h>

constexpr uint32_t kBlowfishBlockSize = 8;

struct BlowfishContext {
  uint32_t sBoxes[4][256];
  uint32_t pArray[18];
};

// keyLength is 1 to 56 bytes.
void BlowfishSetKey(BlowfishContext* ctx, const uint8_t* key, uint32_t keyLength);
void BlowfishEncryptBlock(const BlowfishContext* ctx, uint32_t* left, uint32_t* right);
void BlowfishDecryptBlock(const BlowfishContext* ctx, uint32_t* left, uint32_t* right);
// CBC over `blockCount` whole blocks, in place. The IV is never written.
void BlowfishCbcEncrypt(const BlowfishContext* ctx, const uint8_t iv[8], uint8_t* data,
                        uint32_t blockCount);
void BlowfishCbcDecrypt(const BlowfishContext* ctx, const uint8_t iv[8], uint8_t* data,
                        uint32_t blockCount);
