// Automatic dismount: "Apply" and the one-minute timer's tick.
#include <gtest/gtest.h>
#include <limits.h>

#include <string>
#include <vector>

#include "driver/auto_dismount.h"
#include "tests/native/driver_test_fakes.h"

namespace {

class AutoDismountTest : public ::testing::Test {
 protected:
  IdleCounter IdleOf(char letter) {
    FakeDriverPort::Volume* volume = port.VolumeOn(letter);
    return volume ? volume->idle : 0;
  }

  bool Mounted(char letter) { return port.dosDevices.count(DriveName(letter)) != 0; }

  FakeDriverPort port;
  FakeMinuteTimer timer;
  AutoDismountState state;
};

TEST(IdleTimeout, TimeoutsAbove254AreTakenAs254) {
  EXPECT_EQ(ClampIdleTimeout(0), 0u);
  EXPECT_EQ(ClampIdleTimeout(60), 60u);
  EXPECT_EQ(ClampIdleTimeout(254), 254u);
  EXPECT_EQ(ClampIdleTimeout(255), 254u);
  EXPECT_EQ(ClampIdleTimeout(256), 254u);
  EXPECT_EQ(ClampIdleTimeout(UINT_MAX), 254u);
  EXPECT_EQ(IdleCounterFor(256), 254);
  EXPECT_EQ(IdleCounterFor(5), 5);
}

TEST_F(AutoDismountTest, ApplyArmsEveryDriveOfTheDriverAndStartsTheTimer) {
  port.AddMountedVolume('E', "\\??\\C:\\a.vmv", kAes128, 1048576);
  port.AddMountedVolume('F', "\\??\\C:\\b.vmv", kAes128, 1048576);
  port.AddMountedVolume('H', "\\??\\C:\\c.vmv", kAes128, 1048576);
  port.dosDevices["S:"] = "\\??\\C:\\folder";
  EXPECT_EQ(ApplyIdleTimeout(port, state, timer, 5), 5u);
  EXPECT_EQ(IdleOf('E'), 5);
  EXPECT_EQ(IdleOf('F'), 5);
  EXPECT_EQ(IdleOf('H'), 5);
  EXPECT_EQ(port.Lines("set-idle").size(), 3u);
  EXPECT_EQ(state.appliedTimeout, 5u);
  EXPECT_TRUE(state.timerRunning);
  EXPECT_EQ(timer.starts, 1);
  EXPECT_EQ(timer.stops, 0);
}

TEST_F(AutoDismountTest, ApplyRestartsARunningTimer) {
  state = {3, true};
  ApplyIdleTimeout(port, state, timer, 7);
  EXPECT_EQ(timer.stops, 1);
  EXPECT_EQ(timer.starts, 1);
  EXPECT_TRUE(state.timerRunning);
}

TEST_F(AutoDismountTest, ApplyingZeroStopsTheCountdownAndLeavesTheCounters) {
  port.AddMountedVolume('E', "\\??\\C:\\a.vmv", kAes128, 1048576);
  port.VolumeOn('E')->idle = 4;
  state = {5, true};
  EXPECT_EQ(ApplyIdleTimeout(port, state, timer, 0), 0u);
  EXPECT_FALSE(state.timerRunning);
  EXPECT_EQ(state.appliedTimeout, 0u);
  EXPECT_EQ(timer.stops, 1);
  EXPECT_EQ(timer.starts, 0);
  EXPECT_EQ(IdleOf('E'), 4);
  EXPECT_TRUE(port.Lines("set-idle").empty());
}

TEST_F(AutoDismountTest, TypedTimeoutAbove254IsAppliedAndShownAs254) {
  port.AddMountedVolume('E', "\\??\\C:\\a.vmv", kAes128, 1048576);
  EXPECT_EQ(ApplyIdleTimeout(port, state, timer, 256), 254u);
  EXPECT_EQ(state.appliedTimeout, 254u);
  EXPECT_EQ(IdleOf('E'), 254);
}

TEST_F(AutoDismountTest, TimerThatCannotStartIsNotMarkedRunning) {
  timer.startFails = true;
  ApplyIdleTimeout(port, state, timer, 5);
  EXPECT_FALSE(state.timerRunning);
  StartIdleTimerIfArmed(state, timer);
  EXPECT_EQ(timer.starts, 2);
}

TEST_F(AutoDismountTest, MountStartsTheTimerOnlyWhenArmedAndStopped) {
  StartIdleTimerIfArmed(state, timer);
  EXPECT_EQ(timer.starts, 0);
  state.appliedTimeout = 5;
  StartIdleTimerIfArmed(state, timer);
  StartIdleTimerIfArmed(state, timer);
  EXPECT_EQ(timer.starts, 1);
  EXPECT_TRUE(state.timerRunning);
}

TEST_F(AutoDismountTest, DriveIsDismountedAtTheTthTickAfterApply) {
  for (uint32_t timeout : {1u, 2u, 5u, 254u}) {
    SCOPED_TRACE(timeout);
    port = FakeDriverPort();
    state = {};
    port.AddMountedVolume('E', "\\??\\C:\\a.vmv", kAes128, 1048576);
    ApplyIdleTimeout(port, state, timer, timeout);
    for (uint32_t tick = 1; tick < timeout; ++tick) {
      IdleTimerTick(port, state, 9);
      ASSERT_TRUE(Mounted('E')) << "tick " << tick;
    }
    IdleTimerTick(port, state, 9);
    EXPECT_FALSE(Mounted('E'));
    ASSERT_EQ(port.requests.size(), 1u);
    EXPECT_EQ(port.requests[0].logonSessionId, 9u);
  }
}

TEST_F(AutoDismountTest, RearmRequestAndUnreadableCounterSetTheFullTimeout) {
  port.AddMountedVolume('E', "\\??\\C:\\a.vmv", kAes128, 1048576);
  state.appliedTimeout = 6;
  port.VolumeOn('E')->idle = VD_IDLE_REARM;
  IdleTimerTick(port, state, 0);
  EXPECT_EQ(IdleOf('E'), 6);

  port.VolumeOn('E')->idle = 3;
  port.failCodes["get-idle"] = kFakeErrorInvalidFunction;
  IdleTimerTick(port, state, 0);
  EXPECT_EQ(IdleOf('E'), 6);
  EXPECT_TRUE(Mounted('E'));
}

TEST_F(AutoDismountTest, CountsDownInEightBits) {
  port.AddMountedVolume('E', "\\??\\C:\\a.vmv", kAes128, 1048576);
  state.appliedTimeout = 6;
  port.VolumeOn('E')->idle = 0;
  IdleTimerTick(port, state, 0);
  EXPECT_EQ(IdleOf('E'), 0xFF);
  IdleTimerTick(port, state, 0);
  EXPECT_EQ(IdleOf('E'), 6);
}

TEST_F(AutoDismountTest, FailedTimedDismountIsRetriedAtTheNextTick) {
  port.AddMountedVolume('E', "\\??\\C:\\a.vmv", kAes128, 1048576);
  state.appliedTimeout = 1;
  port.VolumeOn('E')->idle = VD_IDLE_TIMED_OUT;
  port.drivesInUse.insert('E');
  IdleTimerTick(port, state, 0);
  EXPECT_TRUE(Mounted('E'));
  EXPECT_EQ(IdleOf('E'), VD_IDLE_TIMED_OUT);
  EXPECT_TRUE(port.Lines("set-idle").empty());
  port.drivesInUse.clear();
  IdleTimerTick(port, state, 0);
  EXPECT_FALSE(Mounted('E'));
}

TEST_F(AutoDismountTest, TickLeavesDrivesOfOthersAlone) {
  port.dosDevices["S:"] = "\\??\\C:\\folder";
  state.appliedTimeout = 1;
  IdleTimerTick(port, state, 0);
  for (const std::string& line : port.log) EXPECT_EQ(line.rfind("query-dos", 0), 0u) << line;
}

}  // namespace
