#include "app/tray_menu.h"

#include "resources/resource.h"

std::string RecentMenuText(const RecentEntry& entry) {
  return "Mount [" + entry.drive + "] " + entry.volumePath;
}

std::string DriveMenuText(char driveLetter, const std::string& displayPath) {
  return std::string("Dismount [") + driveLetter + ":] " + displayPath;
}

TrayMenuPlan PlanTrayMenu(const OptionFlags& flags, const RecentlyMountedList& recent,
                          const std::vector<ScannedDrive>& drives) {
  TrayMenuPlan plan;
  if (flags.RememberMountedDrives != 0) {
    const int used = UsedSlotCount(recent);
    for (int slot = 0; slot < used; ++slot) {
      plan.beforeDismountAll.push_back(
          {static_cast<uint32_t>(ID_TRAY_RECENT_FIRST + slot), RecentMenuText(recent.slots[slot])});
    }
  }
  plan.beforeDismountAll.push_back({});

  for (const ScannedDrive& drive : drives) {
    if (!drive.queried) continue;
    const auto id = static_cast<uint32_t>(ID_TRAY_DRIVE_FIRST + plan.driveLetters.size());
    if (id > ID_TRAY_DRIVE_LAST) break;
    plan.beforeExit.push_back({id, DriveMenuText(drive.letter, drive.volume.volumePath)});
    plan.driveLetters.push_back(drive.letter);
  }
  plan.beforeExit.push_back({});
  plan.exitEnabled = drives.empty();
  return plan;
}

std::optional<char> DriveOfCommand(const std::vector<char>& driveLetters, uint32_t commandId) {
  if (commandId < ID_TRAY_DRIVE_FIRST || commandId > ID_TRAY_DRIVE_LAST) return std::nullopt;
  const size_t index = commandId - ID_TRAY_DRIVE_FIRST;
  if (index >= driveLetters.size()) return std::nullopt;
  return driveLetters[index];
}
