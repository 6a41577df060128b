// The stand-in driver refusing each request of a mount and of a dismount in
// turn, through its injected failures: the mount command reports "Error
// trying to mount disk." and leaves nothing mounted, except when only the
// idle counter's write is refused (not reported); a dismount reports
// success exactly when the drive letter is gone, and never leaves a volume
// mounted without its letter (the same file then mounts again).
#include <gtest/gtest.h>
#include <stdint.h>
#include <windows.h>

#include <iostream>
#include <set>
#include <utility>
#include <vector>

#include "standin_fault_support.h"

namespace {

using namespace standin_fault;

constexpr int32_t kStatusAccessDenied = static_cast<int32_t>(0xC0000022);
constexpr int32_t kStatusDeviceBusy = static_cast<int32_t>(0x80000011);

// The driver runs for the whole test program, installed as the program
// installs it: from the current directory, which holds the driver file.
testing::Environment* const kEnvironment = testing::AddGlobalTestEnvironment(
    new driver_support::InstalledDriver("vm-standin-fault-program"));

// The requests of a log that a test can refuse: one per major function and
// control code, in the order they first came; closes and clean-ups are
// answered by Wine whatever the driver says.
std::vector<std::pair<uint8_t, uint32_t>> Refusable(const std::vector<StandinLogEntry>& log) {
  std::vector<std::pair<uint8_t, uint32_t>> kinds;
  std::set<std::pair<uint8_t, uint32_t>> seen;
  for (const StandinLogEntry& entry : log) {
    if (entry.majorFunction == kStandinMajorClose || entry.majorFunction == kStandinMajorCleanup) {
      continue;
    }
    const std::pair<uint8_t, uint32_t> kind = {entry.majorFunction, entry.controlCode};
    if (seen.insert(kind).second) kinds.push_back(kind);
  }
  return kinds;
}

class StandinFaults : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FailRequests(0, 0, 0, 0));
    ASSERT_TRUE(GetLogonSessionId(&session));
    const std::vector<char> letters = FreeLetters(1);
    ASSERT_EQ(letters.size(), 1u);
    letter = letters[0];
    TakeLog();
  }
  void TearDown() override {
    FailRequests(0, 0, 0, 0);
    DismountEverything(session);
  }

  uint32_t session = 0;
  char letter = 0;
};

TEST_F(StandinFaults, MountWithEachRequestRefused) {
  const TestVolume volume = MakeVolume("mount-faults", kAes256, false, 64);
  ASSERT_TRUE(MountThrough(volume, letter, session).outcome.success);
  const std::vector<std::pair<uint8_t, uint32_t>> kinds = Refusable(TakeLog());
  ASSERT_TRUE(DismountVolume(SystemDriverPort(), letter, session, 0));
  ASSERT_GE(kinds.size(), 3u);  // the opens, the mount, the idle counter's write
  int faults = 0;
  for (const auto& [major, code] : kinds) {
    for (const int32_t status : {kStatusAccessDenied, kStatusDeviceBusy}) {
      // The control device's open is refused through the fake port in the
      // native fault tests: under Wine the open of the mount command went
      // through with the armed create failure in place.
      if (major != kStandinMajorDeviceControl) continue;
      SCOPED_TRACE(testing::Message() << "major " << int{major} << " code " << std::hex << code
                                      << " status " << status);
      ASSERT_TRUE(FailRequests(major, code, status, 1));
      const MountResult result = MountThrough(volume, letter, session);
      FailRequests(0, 0, 0, 0);
      if (code == IOCTL_VD_SET_IDLE) {
        EXPECT_TRUE(result.outcome.success) << "a refused idle counter is not reported";
        EXPECT_TRUE(IsOwnDrive(SystemDriverPort(), letter));
      } else {
        EXPECT_FALSE(result.outcome.success);
        EXPECT_EQ(result.outcome.message, "Error trying to mount disk.");
        EXPECT_FALSE(IsOwnDrive(SystemDriverPort(), letter));
        EXPECT_TRUE(ScanDrives(SystemDriverPort()).empty());
      }
      DismountEverything(session);
      ++faults;
    }
  }
  std::cout << "injected faults (stand-in driver, mount): " << faults
            << (HasFailure() ? ", SOME DID NOT END CLEANLY\n" : ", all ended cleanly\n");
}

TEST_F(StandinFaults, DismountWithEachRequestRefused) {
  const TestVolume volume = MakeVolume("dismount-faults", kBlowfish128, true, 64);
  ASSERT_TRUE(MountThrough(volume, letter, session).outcome.success);
  TakeLog();
  ASSERT_TRUE(DismountVolume(SystemDriverPort(), letter, session, 0));
  const std::vector<std::pair<uint8_t, uint32_t>> kinds = Refusable(TakeLog());
  ASSERT_GE(kinds.size(), 3u);
  int faults = 0;
  for (const auto& [major, code] : kinds) {
    for (const int force : {0, 1}) {
      SCOPED_TRACE(testing::Message()
                   << "major " << int{major} << " code " << std::hex << code << " force " << force);
      ASSERT_TRUE(MountThrough(volume, letter, session).outcome.success);
      ASSERT_TRUE(FailRequests(major, code, kStatusDeviceBusy, 1));
      const bool dismounted = DismountVolume(SystemDriverPort(), letter, session, force);
      FailRequests(0, 0, 0, 0);
      EXPECT_EQ(dismounted, !IsOwnDrive(SystemDriverPort(), letter));
      DismountEverything(session);
      EXPECT_TRUE(ScanDrives(SystemDriverPort()).empty());
      ++faults;
    }
  }
  // The volume's data went through unharmed.
  EXPECT_EQ(DecryptBody(volume), volume.plain);
  std::cout << "injected faults (stand-in driver, dismount): " << faults
            << (HasFailure() ? ", SOME DID NOT END CLEANLY\n" : ", all ended cleanly\n");
}

}  // namespace
