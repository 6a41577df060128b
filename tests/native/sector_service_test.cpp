// The rules of a mounted disk: which requests are served, how they split at
// sector boundaries, and that reads and writes at any offset and length
// match a plain model of the disk, with every sector encrypted as creation
// encrypts it.
#include "volume/sector_service.h"

#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "crypto/sectors.h"
#include "volume/header.h"

namespace {

constexpr uint64_t kBody = 16 * kSectorSize;

struct PlanCase {
  const char* what;
  uint64_t offset;
  uint32_t length;
  bool write;
  SectorAlignment alignment;
  bool readOnly;
  SectorVerdict verdict;
  SectorPlan plan;  // offset, length, firstSector, headOffset, headLength, wholeCount, tailLength
};

constexpr SectorAlignment kAny = SectorAlignment::kAnyBytes;
constexpr SectorAlignment kWhole = SectorAlignment::kWholeSectors;

const PlanCase kPlanCases[] = {
    {"whole sectors",
     1024,
     2048,
     false,
     kWhole,
     false,
     SectorVerdict::kServe,
     {1024, 2048, 2, 0, 0, 4, 0}},
    {"inside one sector",
     700,
     100,
     true,
     kAny,
     false,
     SectorVerdict::kServe,
     {700, 100, 1, 188, 100, 0, 0}},
    {"a sector's start, less than a sector",
     512,
     100,
     true,
     kAny,
     false,
     SectorVerdict::kServe,
     {512, 100, 1, 0, 100, 0, 0}},
    {"head, whole, tail",
     500,
     1100,
     true,
     kAny,
     false,
     SectorVerdict::kServe,
     {500, 1100, 0, 500, 12, 2, 64}},
    {"whole then tail",
     0,
     600,
     false,
     kAny,
     false,
     SectorVerdict::kServe,
     {0, 600, 0, 0, 0, 1, 88}},
    {"a read cut at the body's end",
     kBody - 512,
     4096,
     false,
     kWhole,
     false,
     SectorVerdict::kServe,
     {kBody - 512, 512, 15, 0, 0, 1, 0}},
    {"a partial read cut at the end",
     kBody - 10,
     100,
     false,
     kAny,
     false,
     SectorVerdict::kServe,
     {kBody - 10, 10, 15, 502, 10, 0, 0}},
    {"the last byte written",
     kBody - 1,
     1,
     true,
     kAny,
     false,
     SectorVerdict::kServe,
     {kBody - 1, 1, 15, 511, 1, 0, 0}},
    {"empty", 3, 0, true, kAny, false, SectorVerdict::kServe, {}},
    {"empty beyond the end", kBody + 5, 0, false, kAny, false, SectorVerdict::kServe, {}},
    {"a read at the end", kBody, 512, false, kWhole, false, SectorVerdict::kEndOfBody, {}},
    {"a read far beyond",
     UINT64_MAX - 511,
     512,
     false,
     kWhole,
     false,
     SectorVerdict::kEndOfBody,
     {}},
    {"a write one byte too long", kBody - 512, 513, true, kAny, false, SectorVerdict::kNoRoom, {}},
    {"a write at the end", kBody, 512, true, kWhole, false, SectorVerdict::kNoRoom, {}},
    {"a write whose end wraps",
     UINT64_MAX - 511,
     1024,
     true,
     kAny,
     false,
     SectorVerdict::kNoRoom,
     {}},
    {"unaligned offset on a device", 100, 512, false, kWhole, false, SectorVerdict::kUnaligned, {}},
    {"unaligned length on a device", 512, 100, false, kWhole, true, SectorVerdict::kUnaligned, {}},
    {"a write to a read-only disk", 0, 512, true, kAny, true, SectorVerdict::kReadOnly, {}},
    {"an empty write to a read-only disk", 0, 0, true, kAny, true, SectorVerdict::kReadOnly, {}},
    {"a read of a read-only disk",
     0,
     512,
     false,
     kAny,
     true,
     SectorVerdict::kServe,
     {0, 512, 0, 0, 0, 1, 0}},
};

TEST(SectorServiceTest, PlansFollowTheDiskRules) {
  for (const PlanCase& c : kPlanCases) {
    SCOPED_TRACE(c.what);
    SectorPlan plan;
    memset(&plan, 0xA5, sizeof plan);
    EXPECT_EQ(
        PlanSectorRequest({kBody, c.readOnly}, c.offset, c.length, c.write, c.alignment, &plan),
        c.verdict);
    EXPECT_EQ(plan.offset, c.plan.offset);
    EXPECT_EQ(plan.length, c.plan.length);
    EXPECT_EQ(plan.firstSector, c.plan.firstSector);
    EXPECT_EQ(plan.headOffset, c.plan.headOffset);
    EXPECT_EQ(plan.headLength, c.plan.headLength);
    EXPECT_EQ(plan.wholeCount, c.plan.wholeCount);
    EXPECT_EQ(plan.tailLength, c.plan.tailLength);
    EXPECT_EQ(plan.headLength + plan.wholeCount * kSectorSize + plan.tailLength, plan.length);
    EXPECT_EQ(PlanPatchesSectors(plan), plan.headLength != 0 || plan.tailLength != 0);
  }
  EXPECT_TRUE(SectorBodySizeValid(512));
  EXPECT_FALSE(SectorBodySizeValid(0));
  EXPECT_FALSE(SectorBodySizeValid(1048576 + 1044));
}

// An encrypted body in memory that fails when asked to reach past its end,
// or at the call a test chooses.
struct MemoryStore {
  std::vector<uint8_t> body;
  int calls = 0;
  int failAt = -1;

  static int32_t Move(void* context, uint64_t offset, uint8_t* to, const uint8_t* from,
                      uint32_t length) {
    auto* self = static_cast<MemoryStore*>(context);
    EXPECT_LE(offset + length, self->body.size()) << "reached past the body";
    if (offset + length > self->body.size() || self->calls++ == self->failAt) return 5;
    memcpy(to != nullptr ? to : self->body.data() + offset,
           from != nullptr ? from : self->body.data() + offset, length);
    return 0;
  }
  SectorStore Store() {
    return {this,
            [](void* c, uint64_t o, uint8_t* d, uint32_t n) { return Move(c, o, d, nullptr, n); },
            [](void* c, uint64_t o, const uint8_t* d, uint32_t n) {
              return Move(c, o, nullptr, d, n);
            }};
  }
};

class SectorServiceAlgorithmTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    uint8_t key[kBodyKeySize];
    uint8_t seed[kBodyKeySize];
    for (uint32_t i = 0; i < kBodyKeySize; ++i) {
      key[i] = static_cast<uint8_t>(i * 7 + 1);
      seed[i] = static_cast<uint8_t>(i * 13 + 5);
    }
    ASSERT_TRUE(BodyCipherInit(&cipher_, GetParam(), key, seed));
    // A freshly created body: encrypted zeros.
    memory_.body.assign(kBody, 0);
    BodyCipherEncrypt(&cipher_, memory_.body.data(), 0, kBody / kSectorSize);
  }
  void TearDown() override { BodyCipherWipe(&cipher_); }

  // The body decrypted independently of the service.
  std::vector<uint8_t> Decrypted() const {
    std::vector<uint8_t> plain = memory_.body;
    BodyCipherDecrypt(&cipher_, plain.data(), 0, kBody / kSectorSize);
    return plain;
  }

  BodyCipher cipher_;
  MemoryStore memory_;
};

TEST_P(SectorServiceAlgorithmTest, ReadsAndWritesAtAnyOffsetMatchAPlainModel) {
  std::vector<uint8_t> model(kBody, 0);
  std::mt19937 random(GetParam());
  uint8_t scratch[2 * kSectorSize];
  for (int round = 0; round < 300; ++round) {
    const uint64_t offset = random() % kBody;
    const uint32_t length = static_cast<uint32_t>(random() % (kBody - offset + 1));
    SectorPlan plan;
    ASSERT_EQ(PlanSectorRequest({kBody, false}, offset, length, true, kAny, &plan),
              SectorVerdict::kServe);
    std::vector<uint8_t> data(length);
    for (uint8_t& b : data) b = static_cast<uint8_t>(random());
    std::copy(data.begin(), data.end(), model.begin() + static_cast<ptrdiff_t>(offset));
    const std::vector<uint8_t> sent = data;
    const bool inPlace = round % 2 == 0;
    ASSERT_EQ(ServeSectorWrite(plan, &cipher_, memory_.Store(), data.data(),
                               inPlace ? nullptr : scratch, sizeof scratch),
              0);
    if (!inPlace) {
      EXPECT_EQ(data, sent) << "the caller's data changed";
    }

    const uint64_t readOffset = random() % kBody;
    const uint32_t readLength = static_cast<uint32_t>(random() % (kBody + 600));
    ASSERT_EQ(PlanSectorRequest({kBody, false}, readOffset, readLength, false, kAny, &plan),
              SectorVerdict::kServe);
    std::vector<uint8_t> got(plan.length);
    ASSERT_EQ(ServeSectorRead(plan, &cipher_, memory_.Store(), got.data()), 0);
    ASSERT_TRUE(
        std::equal(got.begin(), got.end(), model.begin() + static_cast<ptrdiff_t>(readOffset)))
        << "read " << readLength << " at " << readOffset << " after round " << round;
  }
  EXPECT_EQ(Decrypted(), model);
}

TEST_P(SectorServiceAlgorithmTest, AFailingStoreStopsTheRequestWithItsError) {
  // A write with a partial first sector, whole sectors and a partial last
  // one makes five store calls; failing each leaves the sectors before it
  // written and the rest as they were.
  for (int failAt = 0; failAt < 5; ++failAt) {
    SCOPED_TRACE(failAt);
    SetUp();
    SectorPlan plan;
    ASSERT_EQ(PlanSectorRequest({kBody, false}, 100, 2000, true, kAny, &plan),
              SectorVerdict::kServe);
    std::vector<uint8_t> data(2000, 0x5A);
    memory_.calls = 0;
    memory_.failAt = failAt;
    EXPECT_EQ(ServeSectorWrite(plan, &cipher_, memory_.Store(), data.data(), nullptr, 0), 5);
    const std::vector<uint8_t> plain = Decrypted();
    EXPECT_EQ(plain[100], failAt >= 2 ? 0x5A : 0);  // the first sector, patched by call 1
    EXPECT_EQ(plain[600], failAt >= 3 ? 0x5A : 0);  // whole sectors, call 2
    EXPECT_EQ(plain[2099], 0);                      // the last sector, call 4, never reached
    EXPECT_EQ(plain[2100], 0);
    memory_.failAt = failAt % 3;
    memory_.calls = 0;
    std::vector<uint8_t> got(plan.length);
    EXPECT_EQ(ServeSectorRead(plan, &cipher_, memory_.Store(), got.data()), 5);
  }
}

INSTANTIATE_TEST_SUITE_P(Algorithms, SectorServiceAlgorithmTest,
                         ::testing::Values(kAes128, kAes256, kBlowfish128, kBlowfish448),
                         [](const ::testing::TestParamInfo<int>& info) {
                           std::string name = AlgorithmName(info.param);
                           name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                           return name;
                         });

}  // namespace
