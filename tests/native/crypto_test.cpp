// SHA-1, HMAC-SHA1 and PBKDF2-HMAC-SHA1: published vectors and properties.
#include <gtest/gtest.h>
#include <string.h>

#include "crypto/hmac.h"
#include "crypto/sha1.h"
#include "tests/native/hex.h"

namespace {

std::string Sha1Hex(const std::vector<uint8_t>& message) {
  Sha1Context ctx;
  Sha1Init(&ctx);
  Sha1Update(&ctx, message.data(), (uint32_t)message.size());
  uint8_t digest[kSha1DigestSize];
  Sha1Final(&ctx, digest);
  return ToHex(digest, sizeof digest);
}

std::string HmacHex(const std::vector<uint8_t>& message, const std::vector<uint8_t>& key) {
  uint8_t mac[kSha1DigestSize];
  HmacSha1(message.data(), (int32_t)message.size(), key.data(), (int32_t)key.size(), mac);
  return ToHex(mac, sizeof mac);
}

std::string Pbkdf2Hex(const std::vector<uint8_t>& password, const std::vector<uint8_t>& salt,
                      int32_t iterations, int32_t length) {
  std::vector<uint8_t> out(length);
  Pbkdf2HmacSha1(password.data(), (int32_t)password.size(), salt.data(), (int32_t)salt.size(),
                 iterations, out.data(), length);
  return ToHex(out);
}

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = (uint8_t)(i * 7 + 3);
  return bytes;
}

// FIPS 180-1 appendices A, B and C.
TEST(Sha1, Fips180Vectors) {
  EXPECT_EQ(Sha1Hex(Bytes("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(Sha1Hex(Bytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(Sha1Hex(std::vector<uint8_t>(1000000, 'a')),
            "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST(Sha1, EmptyMessage) { EXPECT_EQ(Sha1Hex({}), "da39a3ee5e6b4b0d3255bfef95601890afd80709"); }

TEST(Sha1, SplitAtEveryPositionEqualsOneShot) {
  const std::vector<uint8_t> message = Pattern(300);
  const std::string whole = Sha1Hex(message);
  for (uint32_t split = 0; split <= message.size(); ++split) {
    Sha1Context ctx;
    Sha1Init(&ctx);
    Sha1Update(&ctx, message.data(), split);
    Sha1Update(&ctx, message.data() + split, (uint32_t)message.size() - split);
    uint8_t digest[kSha1DigestSize];
    Sha1Final(&ctx, digest);
    ASSERT_EQ(ToHex(digest, sizeof digest), whole) << "split at " << split;
  }
}

TEST(Sha1, PiecesOfAwkwardSizesEqualOneShot) {
  const uint32_t pieceSizes[] = {0, 1, 63, 64, 65};
  const std::vector<uint8_t> message = Pattern(1000);
  for (uint32_t start = 0; start < 5; ++start) {
    Sha1Context ctx;
    Sha1Init(&ctx);
    uint32_t offset = 0;
    for (uint32_t n = start; offset < message.size(); ++n) {
      uint32_t piece = pieceSizes[n % 5];
      if (piece > message.size() - offset) piece = (uint32_t)message.size() - offset;
      Sha1Update(&ctx, message.data() + offset, piece);
      offset += piece;
    }
    uint8_t digest[kSha1DigestSize];
    Sha1Final(&ctx, digest);
    EXPECT_EQ(ToHex(digest, sizeof digest), Sha1Hex(message)) << "starting with piece " << start;
  }
}

TEST(Sha1, ByteCountCarriesIntoHighWord) {
  Sha1Context ctx;
  Sha1Init(&ctx);
  ctx.byteCountLow = 0xFFFFFFC0;  // one block short of 2^32 bytes, nothing buffered
  const std::vector<uint8_t> block = Pattern(kSha1BlockSize + 1);
  Sha1Update(&ctx, block.data(), (uint32_t)block.size());
  EXPECT_EQ(ctx.byteCountHigh, 1u);
  EXPECT_EQ(ctx.byteCountLow, 1u);
}

// RFC 2202 section 3, all seven cases.
TEST(HmacSha1, Rfc2202Vectors) {
  struct Case {
    std::vector<uint8_t> key;
    std::vector<uint8_t> data;
    const char* mac;
  };
  std::vector<uint8_t> key4;
  for (uint8_t b = 1; b <= 25; ++b) key4.push_back(b);
  const Case cases[] = {
      {std::vector<uint8_t>(20, 0x0b), Bytes("Hi There"),
       "b617318655057264e28bc0b6fb378c8ef146be00"},
      {Bytes("Jefe"), Bytes("what do ya want for nothing?"),
       "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
      {std::vector<uint8_t>(20, 0xaa), std::vector<uint8_t>(50, 0xdd),
       "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
      {key4, std::vector<uint8_t>(50, 0xcd), "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
      {std::vector<uint8_t>(20, 0x0c), Bytes("Test With Truncation"),
       "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
      {std::vector<uint8_t>(80, 0xaa),
       Bytes("Test Using Larger Than Block-Size Key - Hash Key First"),
       "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
      {std::vector<uint8_t>(80, 0xaa),
       Bytes("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
       "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
  };
  int number = 1;
  for (const Case& c : cases) {
    EXPECT_EQ(HmacHex(c.data, c.key), c.mac) << "RFC 2202 test case " << number;
    ++number;
  }
}

// HMAC written out from its definition, for keys of at most one block.
std::string HmacByDefinition(const std::vector<uint8_t>& message, const std::vector<uint8_t>& key) {
  std::vector<uint8_t> inner(kSha1BlockSize, 0x36), outer(kSha1BlockSize, 0x5c);
  for (size_t i = 0; i < key.size(); ++i) {
    inner[i] ^= key[i];
    outer[i] ^= key[i];
  }
  inner.insert(inner.end(), message.begin(), message.end());
  std::vector<uint8_t> innerDigest = FromHex(Sha1Hex(inner));
  outer.insert(outer.end(), innerDigest.begin(), innerDigest.end());
  return Sha1Hex(outer);
}

TEST(HmacSha1, KeyOfOneBlockIsUsedUnhashed) {
  const std::vector<uint8_t> message = Bytes("a message");
  const std::vector<uint8_t> key = Pattern(64);
  EXPECT_EQ(HmacHex(message, key), HmacByDefinition(message, key));
  EXPECT_NE(HmacHex(message, key), HmacHex(message, FromHex(Sha1Hex(key))));
}

TEST(HmacSha1, KeyLongerThanOneBlockIsHashedFirst) {
  const std::vector<uint8_t> message = Bytes("a message");
  const std::vector<uint8_t> key = Pattern(65);
  const std::vector<uint8_t> hashedKey = FromHex(Sha1Hex(key));
  EXPECT_EQ(HmacHex(message, key), HmacHex(message, hashedKey));
  EXPECT_EQ(HmacHex(message, key), HmacByDefinition(message, hashedKey));
}

TEST(HmacSha1, EmptyMessageAndEmptyKey) { EXPECT_EQ(HmacHex({}, {}), HmacByDefinition({}, {})); }

// RFC 6070 (the 16777216-iteration case is DISABLED_ below: it takes minutes).
TEST(Pbkdf2HmacSha1, Rfc6070Vectors) {
  EXPECT_EQ(Pbkdf2Hex(Bytes("password"), Bytes("salt"), 1, 20),
            "0c60c80f961f0e71f3a9b524af6012062fe037a6");
  EXPECT_EQ(Pbkdf2Hex(Bytes("password"), Bytes("salt"), 2, 20),
            "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957");
  EXPECT_EQ(Pbkdf2Hex(Bytes("password"), Bytes("salt"), 4096, 20),
            "4b007901b765489abead49d926f721d065a429c1");
  EXPECT_EQ(Pbkdf2Hex(Bytes("passwordPASSWORDpassword"),
                      Bytes("saltSALTsaltSALTsaltSALTsaltSALTsalt"), 4096, 25),
            "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038");
  EXPECT_EQ(Pbkdf2Hex(Bytes(std::string_view("pass\0word", 9)),
                      Bytes(std::string_view("sa\0lt", 5)), 4096, 16),
            "56fa6aa75548099dcc37d7f03425e0c3");
}

TEST(Pbkdf2HmacSha1, DISABLED_Rfc6070SixteenMillionIterations) {
  EXPECT_EQ(Pbkdf2Hex(Bytes("password"), Bytes("salt"), 16777216, 20),
            "eefe3d61cd4da4e4e9945b3d6ba2158c2634e984");
}

TEST(Pbkdf2HmacSha1, ShorterOutputIsPrefixOfLonger) {
  const std::vector<uint8_t> password = Bytes("correct horse");
  const std::vector<uint8_t> salt = Pattern(kMaxSaltSize);
  const std::string longer = Pbkdf2Hex(password, salt, 7, 80);
  EXPECT_EQ(Pbkdf2Hex(password, salt, 7, kDerivedKeySize), longer.substr(0, 2 * kDerivedKeySize));
  EXPECT_EQ(Pbkdf2Hex(password, salt, 7, 1), longer.substr(0, 2));
}

TEST(Pbkdf2HmacSha1, IterationCountBelowOneMeansOne) {
  const std::vector<uint8_t> password = Bytes("password"), salt = Bytes("salt");
  const std::string once = Pbkdf2Hex(password, salt, 1, 20);
  EXPECT_EQ(Pbkdf2Hex(password, salt, 0, 20), once);
  EXPECT_EQ(Pbkdf2Hex(password, salt, -5, 20), once);
}

TEST(Pbkdf2HmacSha1, FirstBlockIsHmacOfSaltAndBlockNumber) {
  // U1 of block 2 for one iteration: HMAC(salt || 00 00 00 02, password).
  const std::vector<uint8_t> password = Bytes("pw"), salt = Pattern(kMaxSaltSize);
  std::vector<uint8_t> message = salt;
  message.insert(message.end(), {0, 0, 0, 2});
  EXPECT_EQ(Pbkdf2Hex(password, salt, 1, 40).substr(40), HmacHex(message, password));
}

}  // namespace
