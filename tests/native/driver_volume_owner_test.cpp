// Who may use a mounted volume, with chosen logon sessions: the rule that
// the disk driver applies to mounts, dismounts and queries.
#include <gtest/gtest.h>
#include <stdint.h>

#include <vector>

#include "driver/volume_owner.h"

namespace {

// All 64 bits of a session count: Alice's and Bob's low halves are equal.
constexpr uint64_t kAlice = 0x0000000100003E7Aull, kBob = 0x0000000200003E7Aull, kCarol = 0x51;
constexpr VolumeCaller kAliceUser = {kAlice, false}, kAliceAdmin = {kAlice, true};

TEST(VolumeOwner, OnlyTheOwnerOrAnAdministratorUsesAVolume) {
  EXPECT_TRUE(MayUseVolume(kAliceUser, kAlice));
  EXPECT_FALSE(MayUseVolume(kAliceUser, kBob));
  EXPECT_FALSE(MayUseVolume(kAliceUser, kCarol));
  EXPECT_TRUE(MayUseVolume(kAliceAdmin, kCarol));
}

TEST(VolumeOwner, ADismountTakesTheCallersOwnVolumesFirst) {
  using Owners = std::vector<uint64_t>;
  const struct {
    VolumeCaller caller;
    Owners owners;  // of the volumes on the letter
    DismountChoice choice;
  } cases[] = {
      {kAliceUser, {}, DismountChoice::kNothing},
      {kAliceAdmin, {}, DismountChoice::kNothing},
      {kAliceUser, {kAlice}, DismountChoice::kOwn},
      {kAliceUser, {kBob, kAlice}, DismountChoice::kOwn},
      {kAliceUser, {kBob}, DismountChoice::kRefused},
      {kAliceUser, {kBob, kCarol}, DismountChoice::kRefused},
      // An administrator's own volume on the letter is the one it means.
      {kAliceAdmin, {kBob, kAlice}, DismountChoice::kOwn},
      {kAliceAdmin, {kBob, kCarol}, DismountChoice::kOthers},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ChooseDismount(c.caller, c.owners.data(), static_cast<int>(c.owners.size())),
              c.choice)
        << "admin " << c.caller.administrator << ", " << c.owners.size() << " volumes";
  }
}

}  // namespace
