#include "crypto/hmac.h"

#include <string.h>

#include "crypto/bytes.h"
#include "crypto/wipe.h"

namespace {

constexpr uint8_t kInnerPad = 0x36;
constexpr uint8_t kOuterPad = 0x5C;

// The hash states after absorbing the inner and outer pads of one key; a
// copy of each starts every message under that key.
struct HmacKeyContext {
  Sha1Context inner;
  Sha1Context outer;
};

void HmacKeyInit(HmacKeyContext* ctx, const uint8_t* key, int32_t keyLength) {
  uint8_t keyBlock[kSha1BlockSize] = {};
  if (keyLength > (int32_t)kSha1BlockSize) {
    Sha1Context hash;
    Sha1Init(&hash);
    Sha1Update(&hash, key, (uint32_t)keyLength);
    Sha1Final(&hash, keyBlock);
  } else if (keyLength > 0) {
    memcpy(keyBlock, key, (size_t)keyLength);
  }

  uint8_t pad[kSha1BlockSize];
  for (uint32_t i = 0; i < kSha1BlockSize; ++i) pad[i] = keyBlock[i] ^ kInnerPad;
  Sha1Init(&ctx->inner);
  Sha1Update(&ctx->inner, pad, sizeof pad);
  for (uint32_t i = 0; i < kSha1BlockSize; ++i) pad[i] = keyBlock[i] ^ kOuterPad;
  Sha1Init(&ctx->outer);
  Sha1Update(&ctx->outer, pad, sizeof pad);

  SecureWipe(keyBlock, sizeof keyBlock);
  SecureWipe(pad, sizeof pad);
}

// Starts a message: the running inner hash, already past the inner pad.
void HmacBegin(const HmacKeyContext* key, Sha1Context* message) { *message = key->inner; }

// Ends a message: output = SHA-1(outer pad || SHA-1(inner pad || message)).
void HmacEnd(const HmacKeyContext* key, Sha1Context* message, uint8_t output[kSha1DigestSize]) {
  uint8_t innerDigest[kSha1DigestSize];
  Sha1Final(message, innerDigest);
  Sha1Context outer = key->outer;
  Sha1Update(&outer, innerDigest, sizeof innerDigest);
  Sha1Final(&outer, output);
  SecureWipe(innerDigest, sizeof innerDigest);
}

}  // namespace

void HmacSha1(const uint8_t* message, int32_t messageLength, const uint8_t* key, int32_t keyLength,
              uint8_t output[kSha1DigestSize]) {
  HmacKeyContext keyContext;
  HmacKeyInit(&keyContext, key, keyLength);
  Sha1Context hash;
  HmacBegin(&keyContext, &hash);
  if (messageLength > 0) Sha1Update(&hash, message, (uint32_t)messageLength);
  HmacEnd(&keyContext, &hash, output);
  SecureWipe(&keyContext, sizeof keyContext);
}

void Pbkdf2HmacSha1(const uint8_t* password, int32_t passwordLength, const uint8_t* salt,
                    int32_t saltLength, int32_t iterations, uint8_t* output, int32_t outputLength) {
  if (saltLength < 0) saltLength = 0;
  // The password's pads are hashed once for the whole derivation.
  HmacKeyContext keyContext;
  HmacKeyInit(&keyContext, password, passwordLength);

  // Every later U is the HMAC of a 20-byte message, so each of its two
  // hashes is a single compression, after the pad's, of one block laid out
  // once: the 20 bytes, the padding, and the bit length of pad and message.
  uint8_t block[kSha1BlockSize] = {};
  block[kSha1DigestSize] = 0x80;
  StoreBigEndian32(block + kSha1BlockSize - 4, (kSha1BlockSize + kSha1DigestSize) * 8);

  uint8_t t[kSha1DigestSize];
  uint32_t tWords[5];
  uint32_t state[5];
  for (uint32_t blockNumber = 1; outputLength > 0; ++blockNumber) {
    // U1 = HMAC(salt || block number as 4 big-endian bytes).
    uint8_t blockNumberBytes[4];
    StoreBigEndian32(blockNumberBytes, blockNumber);
    Sha1Context hash;
    HmacBegin(&keyContext, &hash);
    Sha1Update(&hash, salt, (uint32_t)saltLength);
    Sha1Update(&hash, blockNumberBytes, sizeof blockNumberBytes);
    HmacEnd(&keyContext, &hash, block);
    for (int k = 0; k < 5; ++k) tWords[k] = LoadBigEndian32(block + 4 * k);

    // Uj = HMAC(U(j-1)); T ^= Uj. The block's first 20 bytes hold U(j-1),
    // then the inner digest, then Uj.
    for (int32_t j = 1; j < iterations; ++j) {
      memcpy(state, keyContext.inner.state, sizeof state);
      Sha1CompressBlocks(state, block, 1);
      for (int k = 0; k < 5; ++k) StoreBigEndian32(block + 4 * k, state[k]);
      memcpy(state, keyContext.outer.state, sizeof state);
      Sha1CompressBlocks(state, block, 1);
      for (int k = 0; k < 5; ++k) {
        StoreBigEndian32(block + 4 * k, state[k]);
        tWords[k] ^= state[k];
      }
    }
    for (int k = 0; k < 5; ++k) StoreBigEndian32(t + 4 * k, tWords[k]);

    int32_t take = outputLength < (int32_t)kSha1DigestSize ? outputLength : kSha1DigestSize;
    memcpy(output, t, (size_t)take);
    output += take;
    outputLength -= take;
  }

  SecureWipe(block, sizeof block);
  SecureWipe(t, sizeof t);
  SecureWipe(tWords, sizeof tWords);
  SecureWipe(state, sizeof state);
  SecureWipe(&keyContext, sizeof keyContext);
}
