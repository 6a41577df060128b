// The tray menu's plan: which items go where, in which order, with which
// texts, when "Exit" can be chosen, and which drive each drive item names.
#include <gtest/gtest.h>

#include "app/tray_menu.h"
#include "resources/resource.h"

namespace {

ScannedDrive Drive(char letter, const std::string& path, bool queried = true) {
  ScannedDrive drive;
  drive.letter = letter;
  drive.queried = queried;
  if (queried) drive.volume.volumePath = path;
  return drive;
}

RecentlyMountedList TwoRemembered() {
  RecentlyMountedList list;
  AddRecentEntry(list, "D:\\vault\\old.vmv", "F:");
  AddRecentEntry(list, "D:\\vault\\work.vmv", "E:");  // the newest goes first
  return list;
}

const TrayMenuItem kSeparator{};

TEST(TrayMenuPlan, TwoRememberedVolumesAndOneDrive) {
  const TrayMenuPlan plan =
      PlanTrayMenu(OptionFlags{}, TwoRemembered(), {Drive('G', "C:\\data\\a.vmv")});
  const std::vector<TrayMenuItem> recent = {
      {ID_TRAY_RECENT_FIRST, "Mount [E:] D:\\vault\\work.vmv"},
      {ID_TRAY_RECENT_FIRST + 1, "Mount [F:] D:\\vault\\old.vmv"},
      kSeparator};
  const std::vector<TrayMenuItem> drives = {{ID_TRAY_DRIVE_FIRST, "Dismount [G:] C:\\data\\a.vmv"},
                                            kSeparator};
  EXPECT_EQ(plan.beforeDismountAll, recent);
  EXPECT_EQ(plan.beforeExit, drives);
  EXPECT_FALSE(plan.exitEnabled);
  EXPECT_EQ(plan.driveLetters, std::vector<char>{'G'});
}

TEST(TrayMenuPlan, RememberMountedDrivesOffKeepsTheSeparatorOnly) {
  OptionFlags flags;
  flags.RememberMountedDrives = 0;
  const TrayMenuPlan plan = PlanTrayMenu(flags, TwoRemembered(), {});
  EXPECT_EQ(plan.beforeDismountAll, std::vector<TrayMenuItem>{kSeparator});
  EXPECT_EQ(plan.beforeExit, std::vector<TrayMenuItem>{kSeparator});
  EXPECT_TRUE(plan.exitEnabled);
  EXPECT_TRUE(plan.driveLetters.empty());
}

TEST(TrayMenuPlan, FullRecentListGivesTenItemsInSlotOrder) {
  RecentlyMountedList list;
  for (int i = 9; i >= 0; --i) {
    AddRecentEntry(list, "C:\\v" + std::to_string(i) + ".vmv", "E:");
  }
  const TrayMenuPlan plan = PlanTrayMenu(OptionFlags{}, list, {});
  ASSERT_EQ(plan.beforeDismountAll.size(), 11u);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(plan.beforeDismountAll[i].id, static_cast<uint32_t>(ID_TRAY_RECENT_FIRST + i));
    EXPECT_EQ(plan.beforeDismountAll[i].text, "Mount [E:] C:\\v" + std::to_string(i) + ".vmv");
  }
}

TEST(TrayMenuPlan, UnreadableDriveHasNoItemButDisablesExit) {
  const TrayMenuPlan plan = PlanTrayMenu(
      OptionFlags{}, {},
      {Drive('E', "", false), Drive('H', "\\\\server\\share\\b.vmv"), Drive('K', "C:\\k.vmv")});
  const std::vector<TrayMenuItem> drives = {
      {ID_TRAY_DRIVE_FIRST, "Dismount [H:] \\\\server\\share\\b.vmv"},
      {ID_TRAY_DRIVE_FIRST + 1, "Dismount [K:] C:\\k.vmv"},
      kSeparator};
  EXPECT_EQ(plan.beforeExit, drives);
  EXPECT_FALSE(plan.exitEnabled);
  EXPECT_EQ(plan.driveLetters, (std::vector<char>{'H', 'K'}));

  const TrayMenuPlan onlyUnreadable = PlanTrayMenu(OptionFlags{}, {}, {Drive('E', "", false)});
  EXPECT_EQ(onlyUnreadable.beforeExit, std::vector<TrayMenuItem>{kSeparator});
  EXPECT_FALSE(onlyUnreadable.exitEnabled);
}

TEST(TrayMenuPlan, DriveCommandsNameTheListedLetters) {
  const std::vector<char> letters = {'H', 'K'};
  EXPECT_EQ(DriveOfCommand(letters, ID_TRAY_DRIVE_FIRST), 'H');
  EXPECT_EQ(DriveOfCommand(letters, ID_TRAY_DRIVE_FIRST + 1), 'K');
  EXPECT_EQ(DriveOfCommand(letters, ID_TRAY_DRIVE_FIRST + 2), std::nullopt);
  EXPECT_EQ(DriveOfCommand(letters, ID_TRAY_EXIT), std::nullopt);
  EXPECT_EQ(DriveOfCommand(letters, ID_TRAY_RECENT_FIRST), std::nullopt);
  EXPECT_EQ(DriveOfCommand({}, ID_TRAY_DRIVE_FIRST), std::nullopt);
}

}  // namespace
