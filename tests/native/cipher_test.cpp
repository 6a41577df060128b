// AES, Blowfish, CBC and the sector encryption of volume bodies.
#include <gtest/gtest.h>
#include <string.h>

#include "crypto/aes.h"
#include "crypto/blowfish.h"
#include "crypto/sectors.h"
#include "crypto/sha1.h"
#include "tests/native/hex.h"
#include "volume/body_cipher.h"
#include "volume/header.h"

namespace {

std::vector<uint8_t> Pattern(size_t size, uint8_t step = 13) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = (uint8_t)(i * step + 1);
  return bytes;
}

// FIPS-197 appendix C: key 00 01 02 ..., plaintext 00 11 22 ... ff.
TEST(Aes, Fips197AppendixC) {
  struct Case {
    int keyBits;
    int rounds;
    const char* ciphertext;
  };
  const Case cases[] = {
      {128, 10, "69c4e0d86a7b0430d8cdb78070b4c55a"},
      {192, 12, "dda97ca4864cdfe06eaf70a0ec0d7191"},
      {256, 14, "8ea2b7ca516745bfeafc49904b496089"},
  };
  const std::vector<uint8_t> key =
      FromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
  const std::vector<uint8_t> plaintext = FromHex("00112233445566778899aabbccddeeff");
  for (const Case& c : cases) {
    AesContext ctx;
    ASSERT_EQ(AesSetKey(&ctx, key.data(), c.keyBits), 0);
    EXPECT_EQ(ctx.roundCount, c.rounds);
    uint8_t block[16];
    AesEncryptBlock(&ctx, plaintext.data(), block);
    EXPECT_EQ(ToHex(block, 16), c.ciphertext) << c.keyBits << "-bit key";
    AesDecryptBlock(&ctx, block, block);  // in place
    EXPECT_EQ(ToHex(block, 16), ToHex(plaintext)) << c.keyBits << "-bit key";
  }
}

TEST(Aes, RefusesOtherKeySizes) {
  const std::vector<uint8_t> key(32, 1);
  AesContext ctx;
  EXPECT_EQ(AesSetKey(&ctx, key.data(), 64), 1);
  EXPECT_EQ(AesSetKey(&ctx, key.data(), 0), 1);
  EXPECT_EQ(AesSetKey(&ctx, key.data(), 129), 1);
}

// NIST SP 800-38A F.2.1 and F.2.2, CBC-AES128, first two blocks.
TEST(Aes, CbcSp80038aVectors) {
  const std::vector<uint8_t> key = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
  const std::vector<uint8_t> iv = FromHex("000102030405060708090a0b0c0d0e0f");
  const std::string plaintext = "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51";
  const std::string ciphertext = "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2";
  AesContext ctx;
  ASSERT_EQ(AesSetKey(&ctx, key.data(), 128), 0);
  std::vector<uint8_t> data = FromHex(plaintext);
  AesCbcEncrypt(&ctx, iv.data(), data.data(), 2);
  EXPECT_EQ(ToHex(data), ciphertext);
  AesCbcDecrypt(&ctx, iv.data(), data.data(), 2);
  EXPECT_EQ(ToHex(data), plaintext);
  EXPECT_EQ(ToHex(iv), "000102030405060708090a0b0c0d0e0f");
}

TEST(Aes, CbcOfZeroBlocksLeavesDataUntouched) {
  const std::vector<uint8_t> key(16, 7), iv(16, 9);
  AesContext ctx;
  ASSERT_EQ(AesSetKey(&ctx, key.data(), 128), 0);
  std::vector<uint8_t> data = Pattern(16);
  AesCbcEncrypt(&ctx, iv.data(), data.data(), 0);
  AesCbcDecrypt(&ctx, iv.data(), data.data(), 0);
  EXPECT_EQ(ToHex(data), ToHex(Pattern(16)));
}

TEST(Aes, CbcDecryptInvertsEncryptForEveryKeySize) {
  const std::vector<uint8_t> key = Pattern(32, 31), iv = Pattern(16, 5);
  for (int keyBits : {128, 192, 256}) {
    AesContext ctx;
    ASSERT_EQ(AesSetKey(&ctx, key.data(), keyBits), 0);
    std::vector<uint8_t> data = Pattern(16 * 9);
    AesCbcEncrypt(&ctx, iv.data(), data.data(), 9);
    EXPECT_NE(ToHex(data), ToHex(Pattern(16 * 9)));
    AesCbcDecrypt(&ctx, iv.data(), data.data(), 9);
    EXPECT_EQ(ToHex(data), ToHex(Pattern(16 * 9))) << keyBits << "-bit key";
  }
}

// Eric Young's Blowfish ECB vectors (key, plaintext, ciphertext), with the
// blocks as big-endian words as published.
TEST(Blowfish, EricYoungEcbVectors) {
  struct Case {
    const char* key;
    uint32_t plainLeft, plainRight, cipherLeft, cipherRight;
  };
  const Case cases[] = {
      {"0000000000000000", 0x00000000, 0x00000000, 0x4EF99745, 0x6198DD78},
      {"FFFFFFFFFFFFFFFF", 0xFFFFFFFF, 0xFFFFFFFF, 0x51866FD5, 0xB85ECB8A},
      {"3000000000000000", 0x10000000, 0x00000001, 0x7D856F9A, 0x613063F2},
      {"1111111111111111", 0x11111111, 0x11111111, 0x2466DD87, 0x8B963C9D},
      {"0123456789ABCDEF", 0x11111111, 0x11111111, 0x61F9C380, 0x2281B096},
      {"1111111111111111", 0x01234567, 0x89ABCDEF, 0x7D0CC630, 0xAFDA1EC7},
      {"FEDCBA9876543210", 0x01234567, 0x89ABCDEF, 0x0ACEAB0F, 0xC6A0A28D},
      {"7CA110454A1A6E57", 0x01A1D6D0, 0x39776742, 0x59C68245, 0xEB05282B},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> key = FromHex(c.key);
    BlowfishContext ctx;
    BlowfishSetKey(&ctx, key.data(), (uint32_t)key.size());
    uint32_t left = c.plainLeft, right = c.plainRight;
    BlowfishEncryptBlock(&ctx, &left, &right);
    EXPECT_EQ(left, c.cipherLeft) << "key " << c.key;
    EXPECT_EQ(right, c.cipherRight) << "key " << c.key;
    BlowfishDecryptBlock(&ctx, &left, &right);
    EXPECT_EQ(left, c.plainLeft) << "key " << c.key;
    EXPECT_EQ(right, c.plainRight) << "key " << c.key;
  }
}

// Eric Young's variable-key-length vector: the first 24 bytes of the key
// F0 E1 D2 ... 77, plaintext FEDCBA98 76543210.
TEST(Blowfish, LongKeyVector) {
  const std::vector<uint8_t> key = FromHex("F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677");
  BlowfishContext ctx;
  BlowfishSetKey(&ctx, key.data(), (uint32_t)key.size());
  uint32_t left = 0xFEDCBA98, right = 0x76543210;
  BlowfishEncryptBlock(&ctx, &left, &right);
  EXPECT_EQ(left, 0x05044B62u);
  EXPECT_EQ(right, 0xFA52D080u);
}

// Block bytes are two little-endian words: the published vector for key
// 30 00 ... appears byte-reversed within each word.
TEST(Blowfish, LittleEndianBlockBytes) {
  const std::vector<uint8_t> key = FromHex("3000000000000000");
  const uint8_t zeroIv[8] = {};
  BlowfishContext ctx;
  BlowfishSetKey(&ctx, key.data(), (uint32_t)key.size());
  std::vector<uint8_t> block = FromHex("0000001001000000");
  BlowfishCbcEncrypt(&ctx, zeroIv, block.data(), 1);
  EXPECT_EQ(ToHex(block), "9a6f857df2633061");
  BlowfishCbcDecrypt(&ctx, zeroIv, block.data(), 1);
  EXPECT_EQ(ToHex(block), "0000001001000000");
}

TEST(Blowfish, CbcChainsLittleEndianWords) {
  // Block 2 of a CBC run is block 1's ciphertext XORed in as words.
  const std::vector<uint8_t> key = Pattern(56, 3), iv = Pattern(8, 11);
  BlowfishContext ctx;
  BlowfishSetKey(&ctx, key.data(), (uint32_t)key.size());
  std::vector<uint8_t> data = Pattern(16);
  BlowfishCbcEncrypt(&ctx, iv.data(), data.data(), 2);

  std::vector<uint8_t> second = Pattern(16);
  second.erase(second.begin(), second.begin() + 8);
  for (int i = 0; i < 8; ++i) second[i] ^= data[i];
  const uint8_t zeroIv[8] = {};
  BlowfishCbcEncrypt(&ctx, zeroIv, second.data(), 1);
  EXPECT_EQ(ToHex(data.data() + 8, 8), ToHex(second));
}

TEST(Blowfish, CbcOfZeroBlocksLeavesDataUntouched) {
  const std::vector<uint8_t> key(16, 7), iv(8, 9);
  BlowfishContext ctx;
  BlowfishSetKey(&ctx, key.data(), 16);
  std::vector<uint8_t> data = Pattern(8);
  BlowfishCbcEncrypt(&ctx, iv.data(), data.data(), 0);
  BlowfishCbcDecrypt(&ctx, iv.data(), data.data(), 0);
  EXPECT_EQ(ToHex(data), ToHex(Pattern(8)));
}

TEST(Blowfish, CbcDecryptInvertsEncrypt) {
  const std::vector<uint8_t> key = Pattern(56, 17), iv = Pattern(8, 5);
  for (uint32_t keyLength : {1u, 16u, 56u}) {
    BlowfishContext ctx;
    BlowfishSetKey(&ctx, key.data(), keyLength);
    std::vector<uint8_t> data = Pattern(8 * 11);
    BlowfishCbcEncrypt(&ctx, iv.data(), data.data(), 11);
    EXPECT_NE(ToHex(data), ToHex(Pattern(8 * 11)));
    BlowfishCbcDecrypt(&ctx, iv.data(), data.data(), 11);
    EXPECT_EQ(ToHex(data), ToHex(Pattern(8 * 11))) << keyLength << "-byte key";
  }
}

// One sector computed from its definition: IV = start of SHA-1(seed || the
// sector number as 8 little-endian bytes), then CBC.
std::vector<uint8_t> SectorByDefinition(int algorithm, const std::vector<uint8_t>& key,
                                        const std::vector<uint8_t>& seed, uint64_t sector,
                                        std::vector<uint8_t> plaintext) {
  const bool aes = AlgorithmIsAes(algorithm);
  std::vector<uint8_t> message(seed.begin(), seed.begin() + (aes ? 16 : 8));
  for (int i = 0; i < 8; ++i) message.push_back((uint8_t)(sector >> (8 * i)));
  Sha1Context hash;
  Sha1Init(&hash);
  Sha1Update(&hash, message.data(), (uint32_t)message.size());
  uint8_t iv[kSha1DigestSize];
  Sha1Final(&hash, iv);
  if (aes) {
    AesContext ctx;
    AesSetKey(&ctx, key.data(), (int)AlgorithmKeySize(algorithm) * 8);
    AesCbcEncrypt(&ctx, iv, plaintext.data(), kSectorSize / 16);
  } else {
    BlowfishContext ctx;
    BlowfishSetKey(&ctx, key.data(), AlgorithmKeySize(algorithm));
    BlowfishCbcEncrypt(&ctx, iv, plaintext.data(), kSectorSize / 8);
  }
  return plaintext;
}

class SectorTest : public ::testing::TestWithParam<int> {
 protected:
  const std::vector<uint8_t> sectorKey = Pattern(64, 29);
  const std::vector<uint8_t> sectorIvSeed = Pattern(64, 37);
  BodyCipher cipher;
  void SetUp() override {
    ASSERT_TRUE(BodyCipherInit(&cipher, GetParam(), sectorKey.data(), sectorIvSeed.data()));
  }
  void TearDown() override { BodyCipherWipe(&cipher); }
};

TEST_P(SectorTest, MatchesDefinitionAcrossTwoToThe32) {
  const uint64_t first = 0xFFFFFFFEull;
  const std::vector<uint8_t> plaintext = Pattern(4 * kSectorSize);
  std::vector<uint8_t> data = plaintext;
  BodyCipherEncrypt(&cipher, data.data(), first, 4);
  for (uint32_t i = 0; i < 4; ++i) {
    std::vector<uint8_t> sector(plaintext.begin() + i * kSectorSize,
                                plaintext.begin() + (i + 1) * kSectorSize);
    EXPECT_EQ(ToHex(data.data() + i * kSectorSize, kSectorSize),
              ToHex(SectorByDefinition(GetParam(), sectorKey, sectorIvSeed, first + i, sector)))
        << "sector " << first + i;
  }
  BodyCipherDecrypt(&cipher, data.data(), first, 4);
  EXPECT_EQ(ToHex(data), ToHex(plaintext));
}

TEST_P(SectorTest, SectorAloneEqualsSameSectorOfRunFromZero) {
  const uint32_t count = 6;
  const std::vector<uint8_t> plaintext = Pattern(count * kSectorSize);
  std::vector<uint8_t> run = plaintext;
  BodyCipherEncrypt(&cipher, run.data(), 0, count);
  for (uint32_t n = 0; n < count; ++n) {
    std::vector<uint8_t> alone(plaintext.begin() + n * kSectorSize,
                               plaintext.begin() + (n + 1) * kSectorSize);
    BodyCipherEncrypt(&cipher, alone.data(), n, 1);
    EXPECT_EQ(ToHex(alone), ToHex(run.data() + n * kSectorSize, kSectorSize)) << "sector " << n;
    BodyCipherDecrypt(&cipher, alone.data(), n, 1);
    EXPECT_EQ(ToHex(alone), ToHex(plaintext.data() + n * kSectorSize, kSectorSize));
  }
}

TEST_P(SectorTest, HighSectorNumbersAreNotTruncated) {
  // Sectors 5 and 2^32 + 5 must differ: the high word reaches the IV.
  std::vector<uint8_t> low = Pattern(kSectorSize), high = Pattern(kSectorSize);
  BodyCipherEncrypt(&cipher, low.data(), 5, 1);
  BodyCipherEncrypt(&cipher, high.data(), (1ull << 32) + 5, 1);
  EXPECT_NE(ToHex(low), ToHex(high));
}

INSTANTIATE_TEST_SUITE_P(AllAlgorithms, SectorTest,
                         ::testing::Values(kAes128, kAes256, kBlowfish128, kBlowfish448),
                         [](const ::testing::TestParamInfo<int>& info) {
                           std::string name = AlgorithmName(info.param);
                           return name.erase(name.find('-'), 1);
                         });

TEST(BodyCipher, KeysFromTheStartOfSectorKey) {
  // Only the first 16/32/16/56 bytes of sectorKey and 16/8 of sectorIvSeed count.
  std::vector<uint8_t> key = Pattern(64, 29), seed = Pattern(64, 37);
  for (int algorithm = kAes128; algorithm <= kBlowfish448; ++algorithm) {
    std::vector<uint8_t> otherKey = key, otherSeed = seed;
    for (uint32_t i = AlgorithmKeySize(algorithm); i < 64; ++i) otherKey[i] ^= 0xFF;
    for (uint32_t i = AlgorithmIsAes(algorithm) ? 16 : 8; i < 64; ++i) otherSeed[i] ^= 0xFF;
    BodyCipher a, b;
    ASSERT_TRUE(BodyCipherInit(&a, algorithm, key.data(), seed.data()));
    ASSERT_TRUE(BodyCipherInit(&b, algorithm, otherKey.data(), otherSeed.data()));
    std::vector<uint8_t> x = Pattern(kSectorSize), y = Pattern(kSectorSize);
    BodyCipherEncrypt(&a, x.data(), 77, 1);
    BodyCipherEncrypt(&b, y.data(), 77, 1);
    EXPECT_EQ(ToHex(x), ToHex(y)) << AlgorithmName(algorithm);

    // ...and a change inside the used bytes does matter.
    otherKey[AlgorithmKeySize(algorithm) - 1] ^= 1;
    ASSERT_TRUE(BodyCipherInit(&b, algorithm, otherKey.data(), otherSeed.data()));
    y = Pattern(kSectorSize);
    BodyCipherEncrypt(&b, y.data(), 77, 1);
    EXPECT_NE(ToHex(x), ToHex(y)) << AlgorithmName(algorithm);
  }
}

TEST(BodyCipher, RefusesUnknownAlgorithm) {
  const std::vector<uint8_t> key(64, 1);
  BodyCipher cipher;
  EXPECT_FALSE(BodyCipherInit(&cipher, 0, key.data(), key.data()));
  EXPECT_FALSE(BodyCipherInit(&cipher, 5, key.data(), key.data()));
  std::vector<uint8_t> data = Pattern(kSectorSize);
  BodyCipherEncrypt(&cipher, data.data(), 0, 1);
  EXPECT_EQ(ToHex(data), ToHex(Pattern(kSectorSize)));
}

TEST(BodyCipher, WipeClearsTheKeys) {
  const std::vector<uint8_t> key(64, 0xA5);
  BodyCipher cipher;
  ASSERT_TRUE(BodyCipherInit(&cipher, kAes256, key.data(), key.data()));
  BodyCipherWipe(&cipher);
  const std::vector<uint8_t> zeros(sizeof cipher, 0);
  EXPECT_EQ(memcmp(&cipher, zeros.data(), sizeof cipher), 0);
}

}  // namespace
