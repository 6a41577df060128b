// Automatic dismount: the driver keeps one idle counter per volume, the
// program arms it with the idle timeout and a one-minute timer of the Mount
// page counts it down, dismounting a drive whose counter has run out.
#pragma once
#include <stdint.h>

#include "driver/driver_port.h"
#include "driver/protocol.h"

// The counter is one byte in which 255 means "rearm" and 0 counts down to
// 255: a longer timeout would never run out or act as 0, so timeouts above
// 254 minutes are taken as 254.
inline constexpr uint32_t kMaxIdleTimeout = 254;
inline constexpr uint32_t kIdleTimerPeriodMilliseconds = 60000;

uint32_t ClampIdleTimeout(uint32_t minutes);
// The counter value that arms a drive with a timeout.
IdleCounter IdleCounterFor(uint32_t minutes);

// The Mount page's one-minute timer (id 1, 60000 ms).
class MinuteTimer {
 public:
  virtual ~MinuteTimer() = default;
  // False when the timer could not be started.
  virtual bool Start() = 0;
  virtual void Stop() = 0;
};

// The Mount page's part of the automatic dismount.
struct AutoDismountState {
  uint32_t appliedTimeout = 0;  // minutes in force, 0 = off
  bool timerRunning = false;
};

// Starts the timer when a timeout is in force and no timer runs (a mount
// does this before its checks).
void StartIdleTimerIfArmed(AutoDismountState& state, MinuteTimer& timer);

// "Apply" with the typed timeout: stops the timer; with a timeout other than
// 0 arms every drive of the driver with it and starts the timer again. The
// timeout becomes the applied one. Returns the applied timeout, which the
// page shows in its edit and stores as the "AutoDismount" setting.
uint32_t ApplyIdleTimeout(DriverPort& port, AutoDismountState& state, MinuteTimer& timer,
                          uint32_t editedTimeout);

// One tick of the timer, for every drive of the driver from A to Z: a
// counter that has run out (1) dismounts the drive without force and without
// a message; an unreadable counter or one the driver asks to rearm (0xFF) is
// set to the applied timeout; any other counts down by one. A failed
// dismount leaves the counter at 1, so it is tried again at the next tick.
void IdleTimerTick(DriverPort& port, const AutoDismountState& state, uint32_t logonSessionId);
