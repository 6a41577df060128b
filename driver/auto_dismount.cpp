#include "driver/auto_dismount.h"

#include "driver/dismount.h"
#include "driver/operations.h"
#include "driver/records.h"

uint32_t ClampIdleTimeout(uint32_t minutes) {
  return minutes > kMaxIdleTimeout ? kMaxIdleTimeout : minutes;
}

IdleCounter IdleCounterFor(uint32_t minutes) {
  return static_cast<IdleCounter>(ClampIdleTimeout(minutes));
}

void StartIdleTimerIfArmed(AutoDismountState& state, MinuteTimer& timer) {
  if (state.appliedTimeout != 0 && !state.timerRunning) state.timerRunning = timer.Start();
}

uint32_t ApplyIdleTimeout(DriverPort& port, AutoDismountState& state, MinuteTimer& timer,
                          uint32_t editedTimeout) {
  const uint32_t timeout = ClampIdleTimeout(editedTimeout);
  if (state.timerRunning) {
    timer.Stop();
    state.timerRunning = false;
  }
  if (timeout != 0) {
    for (char letter = kFirstDriveLetter; letter <= kLastDriveLetter; ++letter) {
      if (IsOwnDrive(port, letter)) SetIdleCounter(port, letter, IdleCounterFor(timeout));
    }
    state.timerRunning = timer.Start();
  }
  state.appliedTimeout = timeout;
  return timeout;
}

void IdleTimerTick(DriverPort& port, const AutoDismountState& state, uint32_t logonSessionId) {
  for (char letter = kFirstDriveLetter; letter <= kLastDriveLetter; ++letter) {
    if (!IsOwnDrive(port, letter)) continue;
    IdleCounter counter = VD_IDLE_REARM;
    GetIdleCounter(port, letter, &counter);
    if (counter == VD_IDLE_TIMED_OUT) {
      DismountVolume(port, letter, logonSessionId, 0);
    } else if (counter == VD_IDLE_REARM) {
      SetIdleCounter(port, letter, IdleCounterFor(state.appliedTimeout));
    } else {
      SetIdleCounter(port, letter, static_cast<IdleCounter>(counter - 1));
    }
  }
}
