#include "crypto/aes.h"

#include <string.h>

#include "crypto/bytes.h"

namespace {

// GF(2^8) arithmetic modulo x^8 + x^4 + x^3 + x + 1, used only to build the
// tables below at compile time.
constexpr uint8_t GfDouble(uint8_t x) { return (uint8_t)(x << 1 ^ (x & 0x80 ? 0x1B : 0)); }

constexpr uint8_t GfMultiply(uint8_t x, uint8_t y) {
  uint8_t product = 0;
  for (; y != 0; y >>= 1, x = GfDouble(x)) {
    if (y & 1) product ^= x;
  }
  return product;
}

constexpr uint8_t GfInverse(uint8_t x) {
  // x^254 = x^-1 for x != 0, and 0 for 0.
  uint8_t result = 1;
  for (int i = 0; i < 254; ++i) result = GfMultiply(result, x);
  return x == 0 ? 0 : result;
}

struct ByteTable {
  uint8_t value[256];
};
struct WordTable {
  uint32_t value[256];
};

constexpr ByteTable MakeSbox() {
  ByteTable sbox{};
  for (int x = 0; x < 256; ++x) {
    uint8_t b = GfInverse((uint8_t)x);
    uint8_t s = b;
    for (int shift = 1; shift <= 4; ++shift) s ^= (uint8_t)(b << shift | b >> (8 - shift));
    sbox.value[x] = s ^ 0x63;
  }
  return sbox;
}

constexpr ByteTable kSbox = MakeSbox();

constexpr ByteTable MakeInverseSbox() {
  ByteTable inverse{};
  for (int x = 0; x < 256; ++x) inverse.value[kSbox.value[x]] = (uint8_t)x;
  return inverse;
}

constexpr ByteTable kInverseSbox = MakeInverseSbox();

constexpr uint32_t Word(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return (uint32_t)b0 << 24 | (uint32_t)b1 << 16 | (uint32_t)b2 << 8 | b3;
}

// SubBytes and MixColumns of one byte in the top row: the column
// (2s, s, s, 3s). The other rows are rotations of it.
constexpr WordTable MakeEncryptionTable() {
  WordTable table{};
  for (int x = 0; x < 256; ++x) {
    uint8_t s = kSbox.value[x];
    table.value[x] = Word(GfMultiply(s, 2), s, s, GfMultiply(s, 3));
  }
  return table;
}

// InvSubBytes and InvMixColumns of one byte in the top row: the column
// (14s, 9s, 13s, 11s).
constexpr WordTable MakeDecryptionTable() {
  WordTable table{};
  for (int x = 0; x < 256; ++x) {
    uint8_t s = kInverseSbox.value[x];
    table.value[x] =
        Word(GfMultiply(s, 14), GfMultiply(s, 9), GfMultiply(s, 13), GfMultiply(s, 11));
  }
  return table;
}

constexpr WordTable kEncryptionTable = MakeEncryptionTable();
constexpr WordTable kDecryptionTable = MakeDecryptionTable();

constexpr uint32_t kRoundConstants[10] = {0x01000000, 0x02000000, 0x04000000, 0x08000000,
                                          0x10000000, 0x20000000, 0x40000000, 0x80000000,
                                          0x1B000000, 0x36000000};

inline uint8_t Byte(uint32_t word, int index) { return (uint8_t)(word >> (24 - 8 * index)); }

inline uint32_t SubWord(uint32_t w) {
  return Word(kSbox.value[Byte(w, 0)], kSbox.value[Byte(w, 1)], kSbox.value[Byte(w, 2)],
              kSbox.value[Byte(w, 3)]);
}

// One encryption round's column: row r of the input comes from column
// (c + r) mod 4.
inline uint32_t EncryptColumn(uint32_t s0, uint32_t s1, uint32_t s2, uint32_t s3) {
  return kEncryptionTable.value[Byte(s0, 0)] ^
         RotateRight32(kEncryptionTable.value[Byte(s1, 1)], 8) ^
         RotateRight32(kEncryptionTable.value[Byte(s2, 2)], 16) ^
         RotateRight32(kEncryptionTable.value[Byte(s3, 3)], 24);
}

inline uint32_t LastEncryptColumn(uint32_t s0, uint32_t s1, uint32_t s2, uint32_t s3) {
  return Word(kSbox.value[Byte(s0, 0)], kSbox.value[Byte(s1, 1)], kSbox.value[Byte(s2, 2)],
              kSbox.value[Byte(s3, 3)]);
}

// One round of the equivalent inverse cipher: row r of the input comes from
// column (c - r) mod 4.
inline uint32_t DecryptColumn(uint32_t s0, uint32_t s3, uint32_t s2, uint32_t s1) {
  return kDecryptionTable.value[Byte(s0, 0)] ^
         RotateRight32(kDecryptionTable.value[Byte(s3, 1)], 8) ^
         RotateRight32(kDecryptionTable.value[Byte(s2, 2)], 16) ^
         RotateRight32(kDecryptionTable.value[Byte(s1, 3)], 24);
}

inline uint32_t LastDecryptColumn(uint32_t s0, uint32_t s3, uint32_t s2, uint32_t s1) {
  return Word(kInverseSbox.value[Byte(s0, 0)], kInverseSbox.value[Byte(s3, 1)],
              kInverseSbox.value[Byte(s2, 2)], kInverseSbox.value[Byte(s1, 3)]);
}

// InvMixColumns of a round key word: the S-box cancels the inverse S-box
// inside the decryption table.
inline uint32_t InverseMixColumn(uint32_t w) {
  uint32_t s = SubWord(w);
  return DecryptColumn(s, s, s, s);
}

}  // namespace

int AesSetKey(AesContext* ctx, const uint8_t* key, int keyBits) {
  if (keyBits != 128 && keyBits != 192 && keyBits != 256) {
    memset(ctx, 0, sizeof *ctx);
    return 1;
  }
  const int keyWords = keyBits / 32;
  ctx->roundCount = keyWords + 6;
  const int totalWords = 4 * (ctx->roundCount + 1);

  // Key expansion of FIPS-197 section 5.2.
  uint32_t* w = ctx->encryptionRoundKeys;
  for (int i = 0; i < keyWords; ++i) w[i] = LoadBigEndian32(key + 4 * i);
  for (int i = keyWords; i < totalWords; ++i) {
    uint32_t temp = w[i - 1];
    if (i % keyWords == 0) {
      temp = SubWord(RotateLeft32(temp, 8)) ^ kRoundConstants[i / keyWords - 1];
    } else if (keyWords > 6 && i % keyWords == 4) {
      temp = SubWord(temp);
    }
    w[i] = w[i - keyWords] ^ temp;
  }

  // The equivalent inverse cipher (FIPS-197 section 5.3.5): the round keys in
  // reverse order, with InvMixColumns applied to all but the first and last.
  uint32_t* dw = ctx->decryptionRoundKeys;
  for (int round = 0; round <= ctx->roundCount; ++round) {
    const uint32_t* source = w + 4 * (ctx->roundCount - round);
    for (int column = 0; column < 4; ++column) {
      uint32_t word = source[column];
      bool outer = round == 0 || round == ctx->roundCount;
      dw[4 * round + column] = outer ? word : InverseMixColumn(word);
    }
  }
  for (int i = totalWords; i < 60; ++i) w[i] = dw[i] = 0;
  return 0;
}

void AesEncryptBlock(const AesContext* ctx, const uint8_t in[16], uint8_t out[16]) {
  const uint32_t* rk = ctx->encryptionRoundKeys;
  uint32_t s0 = LoadBigEndian32(in) ^ rk[0];
  uint32_t s1 = LoadBigEndian32(in + 4) ^ rk[1];
  uint32_t s2 = LoadBigEndian32(in + 8) ^ rk[2];
  uint32_t s3 = LoadBigEndian32(in + 12) ^ rk[3];
  for (int round = 1; round < ctx->roundCount; ++round) {
    rk += 4;
    uint32_t t0 = EncryptColumn(s0, s1, s2, s3) ^ rk[0];
    uint32_t t1 = EncryptColumn(s1, s2, s3, s0) ^ rk[1];
    uint32_t t2 = EncryptColumn(s2, s3, s0, s1) ^ rk[2];
    uint32_t t3 = EncryptColumn(s3, s0, s1, s2) ^ rk[3];
    s0 = t0, s1 = t1, s2 = t2, s3 = t3;
  }
  rk += 4;
  StoreBigEndian32(out, LastEncryptColumn(s0, s1, s2, s3) ^ rk[0]);
  StoreBigEndian32(out + 4, LastEncryptColumn(s1, s2, s3, s0) ^ rk[1]);
  StoreBigEndian32(out + 8, LastEncryptColumn(s2, s3, s0, s1) ^ rk[2]);
  StoreBigEndian32(out + 12, LastEncryptColumn(s3, s0, s1, s2) ^ rk[3]);
}

void AesDecryptBlock(const AesContext* ctx, const uint8_t in[16], uint8_t out[16]) {
  const uint32_t* rk = ctx->decryptionRoundKeys;
  uint32_t s0 = LoadBigEndian32(in) ^ rk[0];
  uint32_t s1 = LoadBigEndian32(in + 4) ^ rk[1];
  uint32_t s2 = LoadBigEndian32(in + 8) ^ rk[2];
  uint32_t s3 = LoadBigEndian32(in + 12) ^ rk[3];
  for (int round = 1; round < ctx->roundCount; ++round) {
    rk += 4;
    uint32_t t0 = DecryptColumn(s0, s3, s2, s1) ^ rk[0];
    uint32_t t1 = DecryptColumn(s1, s0, s3, s2) ^ rk[1];
    uint32_t t2 = DecryptColumn(s2, s1, s0, s3) ^ rk[2];
    uint32_t t3 = DecryptColumn(s3, s2, s1, s0) ^ rk[3];
    s0 = t0, s1 = t1, s2 = t2, s3 = t3;
  }
  rk += 4;
  StoreBigEndian32(out, LastDecryptColumn(s0, s3, s2, s1) ^ rk[0]);
  StoreBigEndian32(out + 4, LastDecryptColumn(s1, s0, s3, s2) ^ rk[1]);
  StoreBigEndian32(out + 8, LastDecryptColumn(s2, s1, s0, s3) ^ rk[2]);
  StoreBigEndian32(out + 12, LastDecryptColumn(s3, s2, s1, s0) ^ rk[3]);
}

void AesCbcEncrypt(const AesContext* ctx, const uint8_t iv[16], uint8_t* data,
                   uint32_t blockCount) {
  const uint8_t* previous = iv;
  for (uint32_t n = 0; n < blockCount; ++n, data += kAesBlockSize) {
    for (uint32_t i = 0; i < kAesBlockSize; ++i) data[i] ^= previous[i];
    AesEncryptBlock(ctx, data, data);
    previous = data;
  }
}

void AesCbcDecrypt(const AesContext* ctx, const uint8_t iv[16], uint8_t* data,
                   uint32_t blockCount) {
  uint8_t previous[kAesBlockSize];
  uint8_t saved[kAesBlockSize];
  memcpy(previous, iv, kAesBlockSize);
  for (uint32_t n = 0; n < blockCount; ++n, data += kAesBlockSize) {
    memcpy(saved, data, kAesBlockSize);
    AesDecryptBlock(ctx, data, data);
    for (uint32_t i = 0; i < kAesBlockSize; ++i) data[i] ^= previous[i];
    memcpy(previous, saved, kAesBlockSize);
  }
}
