// The fast paths (AES-NI, the SHA extensions, the streamlined PBKDF2 loop,
// interleaved Blowfish sectors, encrypted and decrypted)
// against the portable code on the same inputs: every result must be the
// same bytes. On a processor without the instructions both runs take the
// portable path and the tests say so.
#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <random>
#include <vector>

#include "crypto/cpu_features.h"
#include "crypto/hmac.h"
#include "crypto/sectors.h"
#include "crypto/sha1.h"
#include "tests/native/engine_test_support.h"
#include "tests/native/hex.h"
#include "volume/body_cipher.h"
#include "volume/create_volume.h"
#include "volume/header.h"

namespace {

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 generator(seed);
  std::vector<uint8_t> bytes(size);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(generator());
  return bytes;
}

class FastPathTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetFastPathsEnabled(true);
    SetVaesEnabled(true);
  }

  // Runs `compute` on the portable path and on the fast paths twice, with
  // VAES and without it (AES-NI), and expects the same bytes every time.
  template <typename Compute>
  static void ExpectSameBothWays(const Compute& compute) {
    SetFastPathsEnabled(false);
    const auto portable = compute();
    SetFastPathsEnabled(true);
    for (bool vaes : {true, false}) {
      SetVaesEnabled(vaes);
      EXPECT_EQ(ToHex(compute()), ToHex(portable)) << (vaes ? "with VAES" : "without VAES");
    }
    SetVaesEnabled(true);
  }
};

TEST_F(FastPathTest, DisablingTurnsEveryFastPathOff) {
  SetFastPathsEnabled(false);
  EXPECT_FALSE(UseAesNi());
  EXPECT_FALSE(UseShaNi());
  EXPECT_FALSE(UseVaes());
  EXPECT_FALSE(FastPathsEnabled());
  SetFastPathsEnabled(true);
  EXPECT_TRUE(FastPathsEnabled());
  SetVaesEnabled(false);
  EXPECT_FALSE(UseVaes());
  SetVaesEnabled(true);
  EXPECT_TRUE(!UseVaes() || UseAesNi());
  if (!UseVaes())
    std::printf("note: no VAES here; AES compares the AES-NI path with the portable one only\n");
  if (!UseAesNi())
    std::printf("note: no AES-NI here; AES compares the portable path with itself\n");
  if (!UseShaNi())
    std::printf("note: no SHA extensions here; SHA-1 compares the portable path with itself\n");
}

TEST_F(FastPathTest, Sha1CompressionOfManyBlocks) {
  for (uint32_t blocks : {1u, 2u, 3u, 17u}) {
    SCOPED_TRACE(blocks);
    const std::vector<uint8_t> data = RandomBytes(blocks * kSha1BlockSize, blocks);
    ExpectSameBothWays([&] {
      Sha1Context hash;
      Sha1Init(&hash);
      Sha1CompressBlocks(hash.state, data.data(), blocks);
      std::vector<uint8_t> state(sizeof hash.state);
      memcpy(state.data(), hash.state, sizeof hash.state);
      return state;
    });
  }
}

TEST_F(FastPathTest, Sha1DigestsOfEveryLengthUpTo200) {
  const std::vector<uint8_t> message = RandomBytes(200, 7);
  for (uint32_t length = 0; length <= message.size(); ++length) {
    SCOPED_TRACE(length);
    ExpectSameBothWays([&] {
      std::vector<uint8_t> digest(kSha1DigestSize);
      Sha1Context hash;
      Sha1Init(&hash);
      Sha1Update(&hash, message.data(), length);
      Sha1Final(&hash, digest.data());
      return digest;
    });
  }
}

// PBKDF2 by its definition: each U from the public HMAC, nothing shared.
std::vector<uint8_t> Pbkdf2ByDefinition(const std::vector<uint8_t>& password,
                                        const std::vector<uint8_t>& salt, int iterations,
                                        size_t length) {
  std::vector<uint8_t> output;
  for (uint32_t blockNumber = 1; output.size() < length; ++blockNumber) {
    std::vector<uint8_t> message = salt;
    for (int shift = 24; shift >= 0; shift -= 8) message.push_back((uint8_t)(blockNumber >> shift));
    uint8_t u[kSha1DigestSize], t[kSha1DigestSize];
    HmacSha1(message.data(), (int32_t)message.size(), password.data(), (int32_t)password.size(), u);
    memcpy(t, u, sizeof t);
    for (int j = 1; j < iterations; ++j) {
      HmacSha1(u, kSha1DigestSize, password.data(), (int32_t)password.size(), u);
      for (uint32_t k = 0; k < kSha1DigestSize; ++k) t[k] ^= u[k];
    }
    output.insert(output.end(), t, t + kSha1DigestSize);
  }
  output.resize(length);
  return output;
}

TEST_F(FastPathTest, Pbkdf2MatchesItsDefinitionOnBothPaths) {
  const std::vector<uint8_t> salt = RandomBytes(kMaxSaltSize, 11);
  for (size_t passwordLength : {1u, 20u, 63u, 64u, 65u}) {
    SCOPED_TRACE(passwordLength);
    const std::vector<uint8_t> password = RandomBytes(passwordLength, (uint32_t)passwordLength);
    for (bool fast : {true, false}) {
      SetFastPathsEnabled(fast);
      std::vector<uint8_t> derived(kDerivedKeySize);
      Pbkdf2HmacSha1(password.data(), (int32_t)password.size(), salt.data(), (int32_t)salt.size(),
                     100, derived.data(), kDerivedKeySize);
      EXPECT_EQ(ToHex(derived), ToHex(Pbkdf2ByDefinition(password, salt, 100, kDerivedKeySize)))
          << (fast ? "fast" : "portable");
    }
  }
}

TEST_F(FastPathTest, Pbkdf2WithTheHeaderParameters) {
  const std::vector<uint8_t> salt = RandomBytes(kMaxSaltSize, 3);
  const std::vector<uint8_t> password = RandomBytes(12, 4);
  ExpectSameBothWays([&] {
    std::vector<uint8_t> derived(kDerivedKeySize);
    Pbkdf2HmacSha1(password.data(), (int32_t)password.size(), salt.data(), (int32_t)salt.size(),
                   kPbkdf2Iterations, derived.data(), kDerivedKeySize);
    return derived;
  });
}

// A sector's IV digest by its definition, from the public SHA-1 interface:
// SHA-1(seed || sector number as 8 little-endian bytes).
std::vector<uint8_t> IvByDefinition(const uint8_t* seed, uint32_t seedSize, uint64_t sector) {
  uint8_t sectorNumber[8];
  for (int b = 0; b < 8; ++b) sectorNumber[b] = (uint8_t)(sector >> (8 * b));
  std::vector<uint8_t> digest(kSha1DigestSize);
  Sha1Context hash;
  Sha1Init(&hash);
  Sha1Update(&hash, seed, seedSize);
  Sha1Update(&hash, sectorNumber, sizeof sectorNumber);
  Sha1Final(&hash, digest.data());
  return digest;
}

// Every batch size of the IVs, computed side by side with the SHA
// extensions or one by one, and both seed sizes.
TEST_F(FastPathTest, SectorIvBatchesMatchTheirDefinition) {
  const std::vector<uint8_t> seed = RandomBytes(16, 31);
  const uint64_t first = 0xFFFFFFFFull - 5;
  for (bool fast : {true, false}) {
    SetFastPathsEnabled(fast);
    for (uint32_t seedSize : {8u, 16u}) {
      for (uint32_t count = 1; count <= kMaxSectorIvBatch; ++count) {
        SCOPED_TRACE(testing::Message() << (fast ? "fast" : "portable") << ", seed " << seedSize
                                        << ", count " << count);
        uint8_t digests[kMaxSectorIvBatch][kSha1DigestSize];
        SectorIvs(seed.data(), seedSize, first, count, digests);
        for (uint32_t i = 0; i < count; ++i) {
          EXPECT_EQ(ToHex(digests[i], kSha1DigestSize),
                    ToHex(IvByDefinition(seed.data(), seedSize, first + i)));
        }
      }
    }
  }
}

// The processor features that Linux reports (it hides those the kernel does
// not save, such as AVX without XSAVE) decide the fast paths.
TEST_F(FastPathTest, DetectionAgreesWithTheKernelsFlags) {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line) && line.rfind("flags", 0) != 0) {
  }
  if (line.empty()) GTEST_SKIP() << "no /proc/cpuinfo flags here";
  line += ' ';
  auto has = [&](const char* flag) {
    return line.find(' ' + std::string(flag) + ' ') != line.npos;
  };
  const bool sse = has("sse4_1") && has("ssse3");
  EXPECT_EQ(UseAesNi(), sse && has("aes"));
  EXPECT_EQ(UseShaNi(), sse && has("sha_ni"));
  EXPECT_EQ(UseVaes(), sse && has("aes") && has("avx2") && has("vaes"));
}

// Sector counts around the eight- and four-sector groups of the AES-NI path,
// the sixteen-sector groups of the VAES path and the sixteen IVs computed at
// a time, and first sectors that make the numbers cross 2^32 and wrap at 2^64.
class FastSectorTest : public FastPathTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    const std::vector<uint8_t> sectorKey = RandomBytes(kBodyKeySize, 21);
    const std::vector<uint8_t> sectorIvSeed = RandomBytes(kBodyKeySize, 22);
    ASSERT_TRUE(BodyCipherInit(&cipher, GetParam(), sectorKey.data(), sectorIvSeed.data()));
  }
  void TearDown() override {
    BodyCipherWipe(&cipher);
    FastPathTest::TearDown();
  }

  static constexpr uint32_t kCounts[] = {1,  2,  3,  4,  5,  7,  8,  9,  12, 13,
                                         15, 16, 17, 31, 32, 33, 47, 48, 61};
  static constexpr uint64_t kFirstSectors[] = {0, 0xFFFFFFFFull - 6, 0x123456789ull,
                                               0xFFFFFFFFFFFFFFFFull - 4};
  BodyCipher cipher;
};

TEST_P(FastSectorTest, EncryptionGivesTheSameBytes) {
  for (uint64_t first : kFirstSectors) {
    for (uint32_t count : kCounts) {
      SCOPED_TRACE(testing::Message() << "first " << first << ", count " << count);
      const std::vector<uint8_t> plaintext = RandomBytes(count * kSectorSize, count);
      ExpectSameBothWays([&] {
        std::vector<uint8_t> data = plaintext;
        BodyCipherEncrypt(&cipher, data.data(), first, count);
        return data;
      });
    }
  }
}

TEST_P(FastSectorTest, DecryptionGivesTheSameBytesAndRestoresThePlaintext) {
  for (uint64_t first : kFirstSectors) {
    for (uint32_t count : kCounts) {
      SCOPED_TRACE(testing::Message() << "first " << first << ", count " << count);
      const std::vector<uint8_t> plaintext = RandomBytes(count * kSectorSize, count + 100);
      SetFastPathsEnabled(false);
      std::vector<uint8_t> ciphertext = plaintext;
      BodyCipherEncrypt(&cipher, ciphertext.data(), first, count);
      ExpectSameBothWays([&] {
        std::vector<uint8_t> data = ciphertext;
        BodyCipherDecrypt(&cipher, data.data(), first, count);
        return data;
      });
      std::vector<uint8_t> data = ciphertext;
      BodyCipherDecrypt(&cipher, data.data(), first, count);
      EXPECT_EQ(ToHex(data), ToHex(plaintext));
    }
  }
}

// Each sector of a run equals that sector encrypted alone by its
// definition: IV from the public SHA-1 interface, then CBC of one sector.
TEST_P(FastSectorTest, FastRunEqualsSectorsByDefinition) {
  const uint64_t first = 0xFFFFFFFFull - 3;
  const uint32_t count = 27;
  const std::vector<uint8_t> plaintext = RandomBytes(count * kSectorSize, 5);
  std::vector<uint8_t> run = plaintext;
  BodyCipherEncrypt(&cipher, run.data(), first, count);
  SetFastPathsEnabled(false);
  const bool aes = AlgorithmIsAes(GetParam());
  for (uint32_t i = 0; i < count; ++i) {
    SCOPED_TRACE(i);
    std::vector<uint8_t> iv = IvByDefinition(cipher.ivSeed, aes ? 16 : 8, first + i);
    std::vector<uint8_t> sector(plaintext.begin() + i * kSectorSize,
                                plaintext.begin() + (i + 1) * kSectorSize);
    if (aes) {
      AesCbcEncrypt(&cipher.aes, iv.data(), sector.data(), kSectorSize / kAesBlockSize);
    } else {
      BlowfishCbcEncrypt(&cipher.blowfish, iv.data(), sector.data(),
                         kSectorSize / kBlowfishBlockSize);
    }
    EXPECT_EQ(ToHex(sector), ToHex(run.data() + i * kSectorSize, kSectorSize));
  }
}

INSTANTIATE_TEST_SUITE_P(AllAlgorithms, FastSectorTest,
                         ::testing::Values(kAes128, kAes256, kBlowfish128, kBlowfish448),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param <= kAes256 ? "Aes" : "Blowfish") +
                                  std::to_string(AlgorithmKeySize(info.param) * 8);
                         });

TEST_F(FastPathTest, HeadersSealedOnOnePathOpenOnTheOther) {
  const uint8_t password[] = "correct horse";
  const uint32_t length = sizeof password - 1;
  for (int algorithm : {kAes128, kAes256, kBlowfish128, kBlowfish448}) {
    for (bool sealFast : {true, false}) {
      SCOPED_TRACE(testing::Message() << "algorithm " << algorithm
                                      << (sealFast ? ", sealed fast" : ", sealed portable"));
      SetFastPathsEnabled(sealFast);
      uint8_t header[kHeaderSize], sectorKey[kBodyKeySize], sectorIvSeed[kBodyKeySize];
      ASSERT_TRUE(SealHeader(header, password, length, algorithm, sectorKey, sectorIvSeed));
      SetFastPathsEnabled(!sealFast);
      uint8_t wrong[kHeaderSize];
      memcpy(wrong, header, sizeof header);
      EXPECT_EQ(OpenHeader(wrong, password, length - 1), 0);
      EXPECT_EQ(OpenHeader(header, password, length), algorithm);
      EXPECT_EQ(ToHex(header + kSectorKeyOffset, kBodyKeySize), ToHex(sectorKey, kBodyKeySize));
    }
  }
}

// Volume creation encrypts on other threads into a ring of 4-megabyte
// chunks and writes in order on the calling thread. Nine megabytes take
// three chunks, the last one partial.
class CreationPipelineTest : public FastPathTest {
 protected:
  static constexpr uint32_t kSizeMb = 9;
  static constexpr char kPassword[] = "pipeline";

  CreateVolumeInput Input(int algorithm) {
    CreateVolumeInput input;
    input.volumePath = folder.File("new.vmv");
    input.sizeMb = kSizeMb;
    input.password = kPassword;
    input.confirmation = kPassword;
    input.algorithm = algorithm;
    return input;
  }

  TempFolder folder;
  FaultyFileSystem fileSystem;
};

TEST_F(CreationPipelineTest, EverySectorDecryptsToZerosOnThePortablePath) {
  for (int algorithm : {kAes128, kAes256, kBlowfish128, kBlowfish448}) {
    SCOPED_TRACE(algorithm);
    std::vector<std::pair<uint32_t, uint32_t>> calls;
    fileSystem.log.clear();
    const CreateVolumeOutcome result =
        CreateVolume(fileSystem, Input(algorithm),
                     [&](uint32_t done, uint32_t total) { calls.emplace_back(done, total); });
    ASSERT_TRUE(result.outcome.success);
    EXPECT_EQ(fileSystem.Count("write"), static_cast<int>(kSizeMb) + 1);
    ASSERT_EQ(calls.size(), kSizeMb + 1);
    for (uint32_t i = 0; i <= kSizeMb; ++i) EXPECT_EQ(calls[i], std::make_pair(i, kSizeMb));

    std::vector<uint8_t> file(uint64_t{kSizeMb} * kMegabyte + kHeaderSize + 1);
    std::ifstream in(folder.File("new.vmv"), std::ios::binary);
    file.resize(static_cast<size_t>(
        in.read(reinterpret_cast<char*>(file.data()), static_cast<std::streamsize>(file.size()))
            .gcount()));
    ASSERT_EQ(file.size(), uint64_t{kSizeMb} * kMegabyte + kHeaderSize);
    SetFastPathsEnabled(false);
    uint8_t* header = file.data() + uint64_t{kSizeMb} * kMegabyte;
    ASSERT_EQ(OpenHeader(header, reinterpret_cast<const uint8_t*>(kPassword), sizeof kPassword - 1),
              algorithm);
    BodyCipher cipher;
    ASSERT_TRUE(BodyCipherInit(&cipher, algorithm, header + kSectorKeyOffset,
                               header + kSectorIvSeedOffset));
    BodyCipherDecrypt(&cipher, file.data(), 0, kSizeMb * (kMegabyte / kSectorSize));
    BodyCipherWipe(&cipher);
    const std::vector<uint8_t> zeros(uint64_t{kSizeMb} * kMegabyte, 0);
    EXPECT_EQ(memcmp(file.data(), zeros.data(), zeros.size()), 0);
    SetFastPathsEnabled(true);
  }
}

TEST_F(CreationPipelineTest, CancelInTheSecondChunkStopsBeforeTheNextWrite) {
  std::atomic<bool> cancel = false;
  const CreateVolumeOutcome result = CreateVolume(
      fileSystem, Input(kBlowfish448), [&](uint32_t done, uint32_t) { cancel = done == 6; },
      &cancel);
  EXPECT_TRUE(result.cancelled);
  EXPECT_EQ(fileSystem.Count("write"), 6);
  EXPECT_TRUE(folder.Names().empty());
}

TEST_F(CreationPipelineTest, WriteFailureInALaterChunkRemovesTheFile) {
  for (int failAt : {4, 5, 8}) {
    SCOPED_TRACE(failAt);
    fileSystem.log.clear();
    fileSystem.failAt = failAt;
    const CreateVolumeOutcome result = CreateVolume(fileSystem, Input(kAes256));
    EXPECT_FALSE(result.outcome.success);
    EXPECT_EQ(result.outcome.message, "Error writing Velmorcrypt volume.");
    EXPECT_EQ(fileSystem.Count("write"), failAt + 1);
    EXPECT_TRUE(folder.Names().empty());
  }
}

}  // namespace
