// The sealed volume header: format, seal, open, reseal and their failures.
#include "volume/header.h"

#include <gtest/gtest.h>
#include <string.h>

#include <thread>

#include "crypto/aes.h"
#include "crypto/blowfish.h"
#include "crypto/hmac.h"
#include "crypto/random.h"
#include "tests/native/hex.h"

namespace {

using Header = std::vector<uint8_t>;

const std::vector<uint8_t> kPassword = Bytes("correct horse battery staple");
const std::vector<uint8_t> kOtherPassword = Bytes("Tr0ub4dor&3");

uint32_t UsedIvSize(int algorithm) { return AlgorithmIsAes(algorithm) ? 16 : 8; }

struct Sealed {
  Header header = Header(kHeaderSize);
  std::vector<uint8_t> sectorKey = std::vector<uint8_t>(kBodyKeySize);
  std::vector<uint8_t> sectorIvSeed = std::vector<uint8_t>(kBodyKeySize);
};

Sealed Seal(int algorithm, const std::vector<uint8_t>& password = kPassword) {
  Sealed s;
  EXPECT_TRUE(SealHeader(s.header.data(), password.data(), (uint32_t)password.size(), algorithm,
                         s.sectorKey.data(), s.sectorIvSeed.data()));
  return s;
}

int Open(Header& header, const std::vector<uint8_t>& password = kPassword) {
  return OpenHeader(header.data(), password.data(), (uint32_t)password.size());
}

std::string Field(const Header& header, uint32_t offset, uint32_t size) {
  return ToHex(header.data() + offset, size);
}

// Opens a sealed header from the format's definition alone: derive with
// PBKDF2, decrypt with the cipher in CBC, check HMAC-SHA1 of the plaintext.
bool OpensByDefinition(Header header, int algorithm, const std::vector<uint8_t>& password,
                       Header* plaintext) {
  uint8_t derived[64];
  Pbkdf2HmacSha1(password.data(), (int32_t)password.size(), header.data(), 64, 2048, derived, 64);
  uint8_t* region = header.data() + 128;
  if (AlgorithmIsAes(algorithm)) {
    AesContext ctx;
    AesSetKey(&ctx, derived, (int)AlgorithmKeySize(algorithm) * 8);
    AesCbcDecrypt(&ctx, header.data() + 64, region, 896 / 16);
  } else {
    BlowfishContext ctx;
    BlowfishSetKey(&ctx, derived, AlgorithmKeySize(algorithm));
    BlowfishCbcDecrypt(&ctx, header.data() + 64, region, 896 / 8);
  }
  uint8_t mac[20];
  HmacSha1(region, 896, derived, 20, mac);
  *plaintext = header;
  return memcmp(mac, header.data() + 1024, 20) == 0;
}

// Installs a random source for the life of the object.
class ScopedRandomSource {
 public:
  explicit ScopedRandomSource(RandomSource source) : previous_(SetRandomSource(source)) {}
  ~ScopedRandomSource() { SetRandomSource(previous_); }

 private:
  RandomSource previous_;
};

class HeaderTest : public ::testing::TestWithParam<int> {};

TEST_P(HeaderTest, SealedHeaderOpensWithItsAlgorithm) {
  Sealed s = Seal(GetParam());
  Header opened = s.header;
  ASSERT_EQ(Open(opened), GetParam());

  EXPECT_EQ(Field(opened, kSignatureOffset, kSignatureSize),
            ToHex(Bytes(std::string_view("Velmorcrypt\0\0\0\0\0", 16))));
  EXPECT_EQ(Field(opened, kReservedOffset, kReservedSize), std::string(2 * kReservedSize, '0'));
  EXPECT_EQ(Field(opened, kSectorKeyOffset, kBodyKeySize), ToHex(s.sectorKey));
  EXPECT_EQ(Field(opened, kSectorIvSeedOffset, kBodyKeySize), ToHex(s.sectorIvSeed));
  // Only the sealed region changes when a header is opened.
  EXPECT_EQ(Field(opened, 0, kSealedOffset), Field(s.header, 0, kSealedOffset));
  EXPECT_EQ(Field(opened, kMacOffset, kMacSize), Field(s.header, kMacOffset, kMacSize));
}

TEST_P(HeaderTest, FormatFollowsItsDefinition) {
  Sealed s = Seal(GetParam());
  Header plaintext;
  ASSERT_TRUE(OpensByDefinition(s.header, GetParam(), kPassword, &plaintext));
  Header opened = s.header;
  ASSERT_EQ(Open(opened), GetParam());
  EXPECT_EQ(ToHex(opened), ToHex(plaintext));
  // On disk the body keys are not in the clear.
  EXPECT_NE(Field(s.header, kSectorKeyOffset, kBodyKeySize), ToHex(s.sectorKey));
}

TEST_P(HeaderTest, WrongPasswordFailsAndLeavesBufferUnchanged) {
  Sealed s = Seal(GetParam());
  Header header = s.header;
  EXPECT_EQ(Open(header, kOtherPassword), kAlgorithmNone);
  EXPECT_EQ(ToHex(header), ToHex(s.header));
  std::vector<uint8_t> prefix(kPassword.begin(), kPassword.end() - 1);
  EXPECT_EQ(Open(header, prefix), kAlgorithmNone);
  EXPECT_EQ(ToHex(header), ToHex(s.header));
}

TEST_P(HeaderTest, ResealChangesPasswordAndKeepsBodyKeys) {
  Sealed s = Seal(GetParam());
  Header header = s.header;
  ASSERT_EQ(ResealHeader(header.data(), kPassword.data(), (uint32_t)kPassword.size(),
                         kOtherPassword.data(), (uint32_t)kOtherPassword.size()),
            1);
  // A fresh salt and IV.
  EXPECT_NE(Field(header, kSaltOffset, kSaltSize), Field(s.header, kSaltOffset, kSaltSize));
  EXPECT_NE(Field(header, kHeaderIvOffset, kHeaderIvSize),
            Field(s.header, kHeaderIvOffset, kHeaderIvSize));

  Header withOld = header;
  EXPECT_EQ(Open(withOld), kAlgorithmNone);
  ASSERT_EQ(Open(header, kOtherPassword), GetParam());
  EXPECT_EQ(Field(header, kSectorKeyOffset, kBodyKeySize), ToHex(s.sectorKey));
  EXPECT_EQ(Field(header, kSectorIvSeedOffset, kBodyKeySize), ToHex(s.sectorIvSeed));
}

TEST_P(HeaderTest, UnusedIvBytesDoNotMatter) {
  Sealed s = Seal(GetParam());
  for (uint32_t i = UsedIvSize(GetParam()); i < kHeaderIvSize; i += 7) {
    Header header = s.header;
    header[kHeaderIvOffset + i] ^= 0x80;
    EXPECT_EQ(Open(header), GetParam()) << "headerIv byte " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(AllAlgorithms, HeaderTest,
                         ::testing::Values(kAes128, kAes256, kBlowfish128, kBlowfish448),
                         [](const ::testing::TestParamInfo<int>& info) {
                           std::string name = AlgorithmName(info.param);
                           return name.erase(name.find('-'), 1);
                         });

// A damaged salt, used IV, sealed region or mac never opens, and the
// buffer stays as it was.
class HeaderDamageTest : public ::testing::TestWithParam<int> {
 protected:
  void ExpectRefused(const Header& sealed, uint32_t byte, int bit) {
    Header header = sealed;
    header[byte] ^= (uint8_t)(1 << bit);
    const Header damaged = header;
    EXPECT_EQ(Open(header), kAlgorithmNone) << "byte " << byte << " bit " << bit;
    EXPECT_EQ(ToHex(header), ToHex(damaged)) << "byte " << byte << " bit " << bit;
  }
};

TEST_P(HeaderDamageTest, EveryBitOfSampleBytes) {
  const int algorithm = GetParam();
  const Sealed s = Seal(algorithm);
  const uint32_t usedIvEnd = kHeaderIvOffset + UsedIvSize(algorithm);
  const uint32_t sampleBytes[] = {
      kSaltOffset,    kSaltOffset + kSaltSize - 1, kHeaderIvOffset, usedIvEnd - 1,
      kSealedOffset,  kSectorIvSeedOffset,         kMacOffset - 1,  kMacOffset,
      kHeaderSize - 1};
  for (uint32_t byte : sampleBytes) {
    for (int bit = 0; bit < 8; ++bit) ExpectRefused(s.header, byte, bit);
  }
}

INSTANTIATE_TEST_SUITE_P(AesAndBlowfish, HeaderDamageTest, ::testing::Values(kAes256, kBlowfish128),
                         [](const ::testing::TestParamInfo<int>& info) {
                           std::string name = AlgorithmName(info.param);
                           return name.erase(name.find('-'), 1);
                         });

// One bit of every byte but the unused IV: a single cipher is enough here,
// since the mac check does not depend on it.
TEST_F(HeaderDamageTest, OneBitOfEveryUsedByte) {
  const Sealed s = Seal(kAes256);
  const uint32_t usedIvEnd = kHeaderIvOffset + UsedIvSize(kAes256);
  for (uint32_t byte = 0; byte < kHeaderSize; ++byte) {
    if (byte >= usedIvEnd && byte < kHeaderIvOffset + kHeaderIvSize) continue;
    ExpectRefused(s.header, byte, byte % 8);
  }
}

TEST(Header, SixtyFourBytePasswordIsItsOwnMacKey) {
  std::vector<uint8_t> password(kMaxPasswordLength);
  for (uint32_t i = 0; i < password.size(); ++i) password[i] = (uint8_t)(0xC0 + i);
  Sealed s = Seal(kBlowfish448, password);
  Header plaintext;
  EXPECT_TRUE(OpensByDefinition(s.header, kBlowfish448, password, &plaintext));
  Header header = s.header;
  EXPECT_EQ(Open(header, password), kBlowfish448);
  Header other = s.header;
  password.back() ^= 1;
  EXPECT_EQ(Open(other, password), kAlgorithmNone);
}

TEST(Header, RandomFieldsAreDrawnInOrderFromTheSource) {
  // With the generator as the source, the four fields are successive runs
  // of 64 outputs: sectorIvSeed, sectorKey, salt, headerIv.
  ScopedRandomSource source(Mt19937Random);
  RandomSeed(5489);
  std::vector<uint8_t> stream(4 * kRandomFieldSize);
  ASSERT_TRUE(Mt19937Random(stream.data(), (uint32_t)stream.size()));
  RandomSeed(5489);
  Sealed s = Seal(kAes128);
  EXPECT_EQ(ToHex(s.sectorIvSeed), ToHex(stream.data(), 64));
  EXPECT_EQ(ToHex(s.sectorKey), ToHex(stream.data() + 64, 64));
  EXPECT_EQ(Field(s.header, kSaltOffset, kSaltSize), ToHex(stream.data() + 128, 64));
  EXPECT_EQ(Field(s.header, kHeaderIvOffset, kHeaderIvSize), ToHex(stream.data() + 192, 64));
  // Seeded once: the first field starts the published sequence.
  EXPECT_EQ(ToHex(s.sectorIvSeed.data(), 4), "5cf6ee79");
}

TEST(Header, FieldsDifferWithinAHeaderAndBetweenHeaders) {
  // Two headers sealed within the same second.
  Sealed a = Seal(kAes128), b = Seal(kAes128);
  for (const Sealed* s : {&a, &b}) {
    const std::string fields[] = {Field(s->header, kSaltOffset, kSaltSize),
                                  Field(s->header, kHeaderIvOffset, kHeaderIvSize),
                                  ToHex(s->sectorIvSeed), ToHex(s->sectorKey)};
    for (int i = 0; i < 4; ++i) {
      for (int j = i + 1; j < 4; ++j) EXPECT_NE(fields[i], fields[j]) << i << " vs " << j;
    }
  }
  EXPECT_NE(Field(a.header, kSaltOffset, kSaltSize), Field(b.header, kSaltOffset, kSaltSize));
  EXPECT_NE(Field(a.header, kHeaderIvOffset, kHeaderIvSize),
            Field(b.header, kHeaderIvOffset, kHeaderIvSize));
  EXPECT_NE(ToHex(a.sectorKey), ToHex(b.sectorKey));
  EXPECT_NE(ToHex(a.sectorIvSeed), ToHex(b.sectorIvSeed));
}

TEST(Header, UnknownAlgorithmIsRefused) {
  for (int algorithm : {0, 5, -1}) {
    Header header(kHeaderSize, 0x5A);
    std::vector<uint8_t> key(kBodyKeySize, 0x5A), seed(kBodyKeySize, 0x5A);
    EXPECT_FALSE(SealHeader(header.data(), kPassword.data(), (uint32_t)kPassword.size(), algorithm,
                            key.data(), seed.data()));
    EXPECT_EQ(ToHex(header), std::string(2 * kHeaderSize, '0'));
  }
}

bool FailingSource(uint8_t*, uint32_t) { return false; }

int drawsBeforeFailure;
bool SourceFailingLater(uint8_t* dest, uint32_t size) {
  if (drawsBeforeFailure-- <= 0) return false;
  memset(dest, 0x77, size);
  return true;
}

TEST(Header, SealFailsLoudlyWhenRandomSourceFails) {
  for (int goodDraws = 0; goodDraws < 4; ++goodDraws) {
    ScopedRandomSource source(SourceFailingLater);
    drawsBeforeFailure = goodDraws;
    Header header(kHeaderSize, 0x5A);
    std::vector<uint8_t> key(kBodyKeySize, 0x5A), seed(kBodyKeySize, 0x5A);
    EXPECT_FALSE(SealHeader(header.data(), kPassword.data(), (uint32_t)kPassword.size(), kAes128,
                            key.data(), seed.data()))
        << goodDraws << " good draws";
    EXPECT_EQ(ToHex(header), std::string(2 * kHeaderSize, '0'));
    EXPECT_EQ(ToHex(key), std::string(2 * kBodyKeySize, '0'));
    EXPECT_EQ(ToHex(seed), std::string(2 * kBodyKeySize, '0'));
  }
}

TEST(Header, ResealFailsAndRestoresBufferWhenRandomSourceFails) {
  Sealed s = Seal(kBlowfish128);
  for (int goodDraws = 0; goodDraws < 2; ++goodDraws) {
    ScopedRandomSource source(SourceFailingLater);
    drawsBeforeFailure = goodDraws;
    Header header = s.header;
    EXPECT_EQ(ResealHeader(header.data(), kPassword.data(), (uint32_t)kPassword.size(),
                           kOtherPassword.data(), (uint32_t)kOtherPassword.size()),
              0);
    // Still the sealed header that came in: no plaintext keys, still opens.
    EXPECT_EQ(ToHex(header), ToHex(s.header)) << goodDraws << " good draws";
  }
  ScopedRandomSource source(FailingSource);
  Header header = s.header;
  EXPECT_EQ(Open(header), kBlowfish128);
}

TEST(Header, ResealWithWrongPasswordLeavesBufferUnchanged) {
  Sealed s = Seal(kAes256);
  Header header = s.header;
  EXPECT_EQ(ResealHeader(header.data(), kOtherPassword.data(), (uint32_t)kOtherPassword.size(),
                         kPassword.data(), (uint32_t)kPassword.size()),
            0);
  EXPECT_EQ(ToHex(header), ToHex(s.header));
}

TEST(Header, ConcurrentSealsWithSharedGenerator) {
  ScopedRandomSource source(Mt19937Random);
  RandomSeed(1);
  auto sealSome = [](int algorithm, int* opened) {
    for (int i = 0; i < 3; ++i) {
      Sealed s = Seal(algorithm);
      if (Open(s.header) == algorithm) ++*opened;
    }
  };
  int openedA = 0, openedB = 0;
  std::thread other(sealSome, kBlowfish448, &openedB);
  sealSome(kAes128, &openedA);
  other.join();
  EXPECT_EQ(openedA, 3);
  EXPECT_EQ(openedB, 3);
}

TEST(Algorithm, NamesAndKeySizes) {
  EXPECT_STREQ(AlgorithmName(kAes128), "AES-128");
  EXPECT_STREQ(AlgorithmName(kAes256), "AES-256");
  EXPECT_STREQ(AlgorithmName(kBlowfish128), "Blowfish-128");
  EXPECT_STREQ(AlgorithmName(kBlowfish448), "Blowfish-448");
  EXPECT_EQ(AlgorithmName(0), nullptr);
  EXPECT_EQ(AlgorithmName(5), nullptr);
  EXPECT_EQ(AlgorithmKeySize(kAes128), 16u);
  EXPECT_EQ(AlgorithmKeySize(kAes256), 32u);
  EXPECT_EQ(AlgorithmKeySize(kBlowfish128), 16u);
  EXPECT_EQ(AlgorithmKeySize(kBlowfish448), 56u);
  EXPECT_EQ(AlgorithmKeySize(0), 0u);
  EXPECT_TRUE(AlgorithmIsAes(kAes128));
  EXPECT_TRUE(AlgorithmIsAes(kAes256));
  EXPECT_FALSE(AlgorithmIsAes(kBlowfish128));
  EXPECT_FALSE(AlgorithmIsAes(kBlowfish448));
}

}  // namespace
