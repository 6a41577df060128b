// Taking volumes off their drive letters, and finding the drives the driver
// serves. The Status page shows what these return; the tray menu and the
// automatic dismount use the same functions.
#pragma once
#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "driver/driver_port.h"
#include "driver/records.h"
#include "volume/outcome.h"

// A volume in use is tried this many times, with a pause after every failed
// attempt (the last one included): at most 10 seconds.
inline constexpr int kLockAttempts = 20;
inline constexpr uint32_t kLockRetryMilliseconds = 500;

// The dismount sequence: lock the volume, dismount its file system, send the
// driver's dismount request, unlock, remove the drive letter. Without force a
// volume that cannot be locked or whose file system cannot be dismounted
// stays mounted; `force` counts only when it is exactly 1, and a forced
// dismount still waits through every lock attempt first. The driver's
// request says whether the dismount is forced: without force the driver
// refuses a volume still in use (a file system mounted on it again, or
// another process holding it open). A driver that refuses the dismount
// request while it still serves the volume keeps it mounted, with its
// letter; a refusal for a volume it no longer serves does not count. True
// means that the drive letter was removed.
bool DismountVolume(DriverPort& port, char driveLetter, uint32_t logonSessionId, int force);

// The end of the user's session (log-off or shutdown): every drive of the
// driver that the scan finds is dismounted, forced, after a single lock
// attempt without a pause, since the session does not wait. Answers how
// many stayed mounted.
int DismountSessionVolumes(DriverPort& port, uint32_t logonSessionId);

// One drive of the driver, as the scan found it.
struct ScannedDrive {
  char letter = 0;
  bool queried = false;  // false when QueryVolume failed: `volume` is empty
  VolumeInfo volume;
};

// The driver's drives in letter order, A to Z, each with its query reply.
std::vector<ScannedDrive> ScanDrives(DriverPort& port);

// What the "Dismount" button shows next.
enum class DismountStep {
  kNothing,     // no drive selected: no message, no refresh
  kDismounted,  // show `message` (caption "Dismount"), then refresh
  kAskForce,    // ask `message` (caption "Dismount Error", Yes/No, No default);
                // on Yes ForceDismount; then refresh
};
struct DismountReply {
  DismountStep step = DismountStep::kNothing;
  std::string message;
  std::string caption;
};

// "Dismount" on the selected list item, whose drive text ("E:") is given;
// an empty text means that no item is selected.
DismountReply DismountSelected(DriverPort& port, const std::string& driveText,
                               uint32_t logonSessionId);

// The forced dismount offered after a failed one; its result is not shown.
void ForceDismount(DriverPort& port, const std::string& driveText, uint32_t logonSessionId);

// "Dismount All" over the drive texts of the list, first to last, without
// force. Nothing (no message, no refresh) for an empty list; otherwise the
// list is refreshed and the outcome shown (caption "Dismount All"), failed
// when any drive stayed mounted.
std::optional<Outcome> DismountAll(DriverPort& port, const std::vector<std::string>& driveTexts,
                                   uint32_t logonSessionId);
