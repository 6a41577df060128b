#include "driver/dismount.h"

#include <stdio.h>

#include "driver/operations.h"

namespace {

// The list item's text is read into a 3-byte buffer: a letter and a colon.
constexpr size_t kDriveTextLength = 2;

// Up to kLockAttempts tries, with a pause after every failed one.
bool LockWithRetries(DriverPort& port, Device& drive) {
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    if (port.LockVolume(drive)) return true;
    port.Wait(kLockRetryMilliseconds);
  }
  return false;
}

// The dismount sequence; `waitForLock` false tries the lock once, without a
// pause.
bool Dismount(DriverPort& port, char driveLetter, uint32_t logonSessionId, bool forced,
              bool waitForLock) {
  std::unique_ptr<Device> control =
      port.OpenDevice(VD_CONTROL_DEVICE_PATH, DeviceAccess::kReadWrite);
  if (!control) return false;
  std::unique_ptr<Device> drive =
      port.OpenDevice(DriveDevicePath(driveLetter), DeviceAccess::kReadWrite);
  if (!drive) return false;

  const bool locked = waitForLock ? LockWithRetries(port, *drive) : port.LockVolume(*drive);
  if (!locked && !forced) return false;
  if (!port.DismountFileSystem(*drive) && !forced) return false;

  VolumeControlRecord request;
  FillDismountRequest(&request, driveLetter, logonSessionId, forced);
  const bool released =
      control->Control(IOCTL_VD_DISMOUNT, &request, sizeof request, nullptr, 0) == kNoError;
  port.UnlockVolume(*drive);
  // A driver that refused the request and still serves the volume keeps it
  // mounted: removing the letter would hide a volume whose keys the driver
  // holds and whose file it keeps open. A letter whose volume the driver no
  // longer serves (its query fails) is removed as usual.
  VolumeControlRecord reply = {};
  if (!released && QueryVolume(port, driveLetter, &reply)) return false;

  return port.RemoveDosDevice(DriveName(driveLetter)) ||
         port.RemoveMountPoint(DriveRoot(driveLetter));
}

}  // namespace

bool DismountVolume(DriverPort& port, char driveLetter, uint32_t logonSessionId, int force) {
  return Dismount(port, driveLetter, logonSessionId, force == 1, true);
}

int DismountSessionVolumes(DriverPort& port, uint32_t logonSessionId) {
  int left = 0;
  for (const ScannedDrive& drive : ScanDrives(port)) {
    if (!Dismount(port, drive.letter, logonSessionId, true, false)) ++left;
  }
  return left;
}

std::vector<ScannedDrive> ScanDrives(DriverPort& port) {
  std::vector<ScannedDrive> drives;
  for (char letter = kFirstDriveLetter; letter <= kLastDriveLetter; ++letter) {
    if (!IsOwnDrive(port, letter)) continue;
    ScannedDrive drive;
    drive.letter = letter;
    VolumeControlRecord reply = {};
    drive.queried = QueryVolume(port, letter, &reply);
    if (drive.queried) drive.volume = ReadQueryReply(reply);
    drives.push_back(std::move(drive));
  }
  return drives;
}

DismountReply DismountSelected(DriverPort& port, const std::string& driveText,
                               uint32_t logonSessionId) {
  if (driveText.empty()) return {};
  const std::string drive = driveText.substr(0, kDriveTextLength);
  if (DismountVolume(port, drive[0], logonSessionId, 0)) {
    char message[64];
    snprintf(message, sizeof message, "Drive %s successfully dismounted.", drive.c_str());
    return {DismountStep::kDismounted, message, "Dismount"};
  }
  return {DismountStep::kAskForce, "Dismount failed.  Would you like to force the dismount?",
          "Dismount Error"};
}

void ForceDismount(DriverPort& port, const std::string& driveText, uint32_t logonSessionId) {
  if (!driveText.empty()) DismountVolume(port, driveText[0], logonSessionId, 1);
}

std::optional<Outcome> DismountAll(DriverPort& port, const std::vector<std::string>& driveTexts,
                                   uint32_t logonSessionId) {
  if (driveTexts.empty()) return std::nullopt;
  bool anyFailed = false;
  for (const std::string& driveText : driveTexts) {
    if (driveText.empty() || !DismountVolume(port, driveText[0], logonSessionId, 0)) {
      anyFailed = true;
    }
  }
  if (anyFailed) {
    return Outcome::Failure("One or more drives could not be dismounted.", "Dismount All");
  }
  char message[64];
  snprintf(message, sizeof message, "All %d drive(s) successfully dismounted.",
           static_cast<int>(driveTexts.size()));
  return Outcome::Success(message, "Dismount All");
}
