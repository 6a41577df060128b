// Who may use a mounted volume, with chosen logon sessions: the rule that
// the disk driver applies to mounts, dismounts and queries.
#include <gtest/gtest.h>
#include <stdint.h>

#include <vector>

#include "driver/volume_owner.h"

namespace {

constexpr uint64_t kAlice = 0x0000000100003E7Aull;
constexpr uint64_t kBob = 0x0000000200003E7Aull;  // the same low 32 bits as kAlice
constexpr uint64_t kCarol = 0x51;

TEST(VolumeOwner, OnlyTheOwnerOrAnAdministratorUsesAVolume) {
  struct Case {
    VolumeCaller caller;
    uint64_t owner;
    bool allowed;
  };
  const Case cases[] = {
      {{kAlice, false}, kAlice, true},
      {{kBob, false}, kAlice, false},  // all 64 bits count, not only the low half
      {{kCarol, false}, kAlice, false},
      {{kCarol, true}, kAlice, true},
      {{kAlice, true}, kAlice, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MayUseVolume(c.caller, c.owner), c.allowed)
        << std::hex << c.caller.logonSession << " admin " << c.caller.administrator << " owner "
        << c.owner;
  }
}

TEST(VolumeOwner, ADismountTakesTheCallersOwnVolumesFirst) {
  struct Case {
    VolumeCaller caller;
    std::vector<uint64_t> owners;  // of the volumes on the letter
    DismountChoice choice;
  };
  const Case cases[] = {
      {{kAlice, false}, {}, DismountChoice::kNothing},
      {{kAlice, true}, {}, DismountChoice::kNothing},
      {{kAlice, false}, {kAlice}, DismountChoice::kOwn},
      {{kAlice, false}, {kBob, kAlice}, DismountChoice::kOwn},
      {{kAlice, false}, {kBob}, DismountChoice::kRefused},
      {{kAlice, false}, {kBob, kCarol}, DismountChoice::kRefused},
      // An administrator's own volume on the letter is the one it means.
      {{kAlice, true}, {kBob, kAlice}, DismountChoice::kOwn},
      {{kAlice, true}, {kBob, kCarol}, DismountChoice::kOthers},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseDismount(c.caller, c.owners.data(), static_cast<int>(c.owners.size())),
              c.choice)
        << std::hex << c.caller.logonSession << " admin " << c.caller.administrator << " with "
        << c.owners.size() << " volumes";
  }
}

}  // namespace
