// What the tray menu holds besides its fixed items, decided without the
// platform: the recently mounted volumes before "Dismount All Volumes", the
// mounted drives before "Exit", whether "Exit" can be chosen, and which drive
// each drive item names. The main window inserts the items into the menu
// loaded from the resources each time it opens, and keeps the plan's drive
// letters until the next opening to act on the chosen item.
#pragma once
#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "driver/dismount.h"
#include "settings/settings.h"

// One item to insert; id 0 is a separator.
struct TrayMenuItem {
  uint32_t id = 0;
  std::string text;
  friend bool operator==(const TrayMenuItem&, const TrayMenuItem&) = default;
};

struct TrayMenuPlan {
  // Inserted, in this order, before the item "Dismount All Volumes".
  std::vector<TrayMenuItem> beforeDismountAll;
  // Inserted, in this order, before the item "Exit".
  std::vector<TrayMenuItem> beforeExit;
  // "Exit" is disabled while any drive of the driver is mounted.
  bool exitEnabled = true;
  // The drive named by each drive item: item ID_TRAY_DRIVE_FIRST + k names
  // driveLetters[k].
  std::vector<char> driveLetters;
};

// "Mount [E:] D:\vault\a.vmv".
std::string RecentMenuText(const RecentEntry& entry);
// "Dismount [E:] D:\vault\a.vmv" from the volume path in its display form
// (a share reads \\server\share\...).
std::string DriveMenuText(char driveLetter, const std::string& displayPath);

// The plan for the current state: the recently mounted volumes (slot order,
// only while RememberMountedDrives is on), a separator, the drives whose
// record could be read (letter order), a separator. `drives` is the scan of
// the driver's drives, those whose query failed included: they get no item
// but still disable "Exit".
TrayMenuPlan PlanTrayMenu(const OptionFlags& flags, const RecentlyMountedList& recent,
                          const std::vector<ScannedDrive>& drives);

// The drive that a drive item's command names, from the letters kept since
// the menu last opened; nothing for any other command.
std::optional<char> DriveOfCommand(const std::vector<char>& driveLetters, uint32_t commandId);
