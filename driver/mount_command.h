// The "Mount" command of the Mount page, without the page: it checks the
// page's state in a fixed order, reads and opens the header, asks the driver
// to mount and records the mount. The page shows the outcome, refills its
// drive-letter list, writes the state back to its controls and, on success,
// opens the new drive in the shell when the option says so.
#pragma once
#include <stdint.h>

#include <string>

#include "driver/auto_dismount.h"
#include "driver/driver_port.h"
#include "platform/file.h"
#include "settings/settings.h"
#include "volume/outcome.h"

struct MountPageState {
  std::string volumePath;
  std::string externalHeaderPath;  // empty: the header ends the volume file
  std::string password;            // ANSI bytes, no terminator
  int readOnly = 0;                // 1: mount read-only
  uint32_t editedTimeout = 0;      // as typed (0 when the edit held no number)
  AutoDismountState autoDismount;  // applied timeout and the minute timer
  std::string driveText;           // the selected free drive ("E:"); empty when none is free
  uint32_t logonSessionId = 0;
  RecentlyMountedList recentList;
  std::string lastDirectory;
};

// The driver's refusal of a volume file that is not an ordinary file on a
// disk.
inline constexpr char kRefusedFileMessage[] =
    "The volume file must be an ordinary file on a disk: it cannot be compressed, encrypted, "
    "sparse or offline.";

struct MountResult {
  // Failure: the first failing check's message, caption "Mount Error", and
  // the state as the user filled it. Success: "Velmorcrypt volume
  // successfully mounted." (caption "Mount"); the volume is in the recent
  // list, the last directory is the volume's folder, and the paths, the
  // password (wiped first) and the read-only flag are cleared.
  Outcome outcome;
  char driveLetter = 0;  // the new drive on success
};

// The checks, in order: the timer is started when a timeout is in force
// (whatever follows); the typed timeout is taken as at most 254; a volume
// path, a free drive letter, a password of 1 to 64 bytes and a volume path
// whose NT form fits the driver's record are required before any file is
// opened; then the header is read from the external header block (exactly
// 1044 bytes) or from the end of the volume file (more than 1044 bytes),
// opened with the password, the volume file is opened in the requested
// mode, and the driver mounts it (a volume file the driver refuses as not
// an ordinary file on a disk gets kRefusedFileMessage, any other refusal
// "Error trying to mount disk."). The header is wiped before returning.
MountResult RunMountCommand(MountPageState& state, FileSystem& files, DriverPort& port,
                            MinuteTimer& timer);
