// The tray icon and its menu on a main window made in this process, against
// the stand-in driver: the menu's items and their order, "Exit" disabled
// while a drive is mounted, the commands that bring up pages and press the
// Status page's buttons, and the icon's callback message.
#include <gtest/gtest.h>
#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <string>
#include <vector>

#include "app/main_window.h"
#include "driver/operations.h"
#include "driver/win32_port.h"
#include "resources/resource.h"
#include "tests/windows/app_frame_support.h"
#include "tests/windows/driver_support.h"
#include "tests/windows/test_support.h"

namespace {

using frame_test::kRecentKey;
using frame_test::kSettingsKey;
using test_support::BoxAnswerer;
using test_support::PumpUntil;

testing::Environment* const kEnvironment =
    testing::AddGlobalTestEnvironment(new driver_support::InstalledDriver("vm-frame-program"));

// One menu item as the user sees it; a separator reads "-".
struct Item {
  UINT id;
  std::string text;
  bool grayed;
  friend bool operator==(const Item&, const Item&) = default;
};

std::ostream& operator<<(std::ostream& out, const Item& item) {
  return out << item.id << " \"" << item.text << "\"" << (item.grayed ? " grayed" : "");
}

std::vector<Item> ItemsOf(HMENU menu) {
  std::vector<Item> items;
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    const UINT state = GetMenuState(menu, i, MF_BYPOSITION);
    if (state & MF_SEPARATOR) {
      items.push_back({0, "-", false});
      continue;
    }
    char text[300] = {};
    GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
    items.push_back({GetMenuItemID(menu, i), text, (state & MF_GRAYED) != 0});
  }
  return items;
}

const std::string kOldVolume = "C:\\vaults\\old.vmv";
const std::string kWorkVolume = "C:\\vaults\\work.vmv";

class TrayTest : public testing::Test {
 protected:
  void SetUp() override {
    test_support::InitControls();
    frame_test::ResetSettings();
    frame_test::WriteString(kRecentKey, "Entry0", "E:," + kWorkVolume);
    frame_test::WriteString(kRecentKey, "Entry1", "F:," + kOldVolume);
  }
  void TearDown() override {
    for (char letter : mounted_) frame_test::Dismount(letter);
    frame_test::ResetSettings();
  }

  void Open() {
    ASSERT_NE(window_.Create(), nullptr);
    ShowWindow(window_.Handle(), SW_SHOW);
    test_support::PumpPending();
  }

  char Mount(const std::string& name) {
    const char letter = frame_test::FreeDriveLetter();
    EXPECT_NE(letter, 0);
    EXPECT_TRUE(frame_test::CreateAndMount(frame_test::TempFile(name), 1, letter));
    mounted_.push_back(letter);
    return letter;
  }

  // The tray menu as it would open now.
  std::vector<Item> PreparedMenu() {
    const HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_TRAY_MENU));
    window_.PrepareTrayMenu(GetSubMenu(menu, 0));
    std::vector<Item> items = ItemsOf(GetSubMenu(menu, 0));
    DestroyMenu(menu);
    return items;
  }

  void Command(UINT id) { SendMessageA(window_.Handle(), WM_COMMAND, id, 0); }

  void TrayMessage(UINT mouse) {
    SendMessageA(window_.Handle(), window_.Tray().CallbackMessage(), IDR_TRAY_MENU, mouse);
  }

  HWND StatusList() const { return GetDlgItem(window_.PageWindow(kStatusPage), IDC_STATUS_LIST); }

  MessageLoop loop_;
  MainWindow window_{SystemDriverPort(), SystemServicePort()};
  std::vector<char> mounted_;
};

TEST_F(TrayTest, TwoRememberedVolumesAndOneMountedDrive) {
  const char letter = Mount("vm-tray-menu.vmv");
  Open();
  const std::string drive = std::string(1, letter) + ":";
  const std::vector<Item> expected = {
      {ID_TRAY_SHOW, "Velmorcrypt Vozeri", false},
      {0, "-", false},
      {ID_TRAY_MOUNT_VOLUME, "Mount Volume...", false},
      {ID_TRAY_RECENT_FIRST, "Mount [E:] " + kWorkVolume, false},
      {ID_TRAY_RECENT_FIRST + 1, "Mount [F:] " + kOldVolume, false},
      {0, "-", false},
      {ID_TRAY_DISMOUNT_ALL, "Dismount All Volumes", false},
      {ID_TRAY_DRIVE_FIRST, "Dismount [" + drive + "] " + frame_test::TempFile("vm-tray-menu.vmv"),
       false},
      {0, "-", false},
      {ID_TRAY_EXIT, "Exit", true},
  };
  EXPECT_EQ(PreparedMenu(), expected);
}

TEST_F(TrayTest, RememberMountedDrivesOffShowsNoRecentVolumes) {
  frame_test::WriteDword(kSettingsKey, "RememberMountedDrives", 0);
  Open();
  const std::vector<Item> expected = {
      {ID_TRAY_SHOW, "Velmorcrypt Vozeri", false},
      {0, "-", false},
      {ID_TRAY_MOUNT_VOLUME, "Mount Volume...", false},
      {0, "-", false},
      {ID_TRAY_DISMOUNT_ALL, "Dismount All Volumes", false},
      {0, "-", false},
      {ID_TRAY_EXIT, "Exit", false},
  };
  EXPECT_EQ(PreparedMenu(), expected);
}

TEST_F(TrayTest, RightButtonOpensThePreparedMenuAtTheCursor) {
  Open();
  std::vector<Item> seen;
  test_support::Helper helper([&] {
    HWND menu = nullptr;
    frame_test::WaitFor([&] {
      menu = FindWindowA("#32768", nullptr);
      return menu != nullptr && IsWindowVisible(menu);
    });
    if (menu == nullptr) return;
    const auto handle = reinterpret_cast<HMENU>(SendMessageA(menu, MN_GETHMENU, 0, 0));
    if (handle != nullptr) seen = ItemsOf(handle);
    PostMessageA(window_.Handle(), WM_CANCELMODE, 0, 0);
  });
  TrayMessage(WM_RBUTTONUP);  // returns when the menu has closed
  helper.Join();
  ASSERT_EQ(seen.size(), 9u);
  EXPECT_EQ(seen[3].text, "Mount [E:] " + kWorkVolume);
  EXPECT_EQ(seen[8].text, "Exit");
  EXPECT_FALSE(seen[8].grayed);
}

TEST_F(TrayTest, DoubleClickBringsTheHiddenWindowBackOnTheStatusPage) {
  Open();
  Command(ID_TRAY_MOUNT_VOLUME);
  ASSERT_EQ(window_.ActivePage(), kMountPage);
  SendMessageA(window_.Handle(), WM_COMMAND, IDCANCEL, 0);
  ASSERT_FALSE(IsWindowVisible(window_.Handle()));

  TrayMessage(WM_LBUTTONDOWN);
  TrayMessage(WM_LBUTTONUP);
  TrayMessage(WM_RBUTTONDOWN);
  EXPECT_FALSE(IsWindowVisible(window_.Handle()));
  SendMessageA(window_.Handle(), window_.Tray().CallbackMessage(), IDR_TRAY_MENU + 1,
               WM_LBUTTONDBLCLK);
  EXPECT_FALSE(IsWindowVisible(window_.Handle()));

  TrayMessage(WM_LBUTTONDBLCLK);
  EXPECT_TRUE(IsWindowVisible(window_.Handle()));
  EXPECT_EQ(window_.ActivePage(), kStatusPage);
  EXPECT_EQ(SendMessageA(GetDlgItem(window_.Handle(), IDC_PAGE_LIST), LB_GETCURSEL, 0, 0),
            kStatusPage);
}

TEST_F(TrayTest, MinimizedWindowIsRestored) {
  Open();
  ShowWindow(window_.Handle(), SW_MINIMIZE);
  ASSERT_TRUE(IsIconic(window_.Handle()));
  TrayMessage(WM_LBUTTONDBLCLK);
  EXPECT_FALSE(IsIconic(window_.Handle()));
}

TEST_F(TrayTest, RecentVolumeFillsTheMountPage) {
  Open();
  Command(ID_TRAY_RECENT_FIRST + 1);
  EXPECT_EQ(window_.ActivePage(), kMountPage);
  EXPECT_TRUE(IsWindowVisible(window_.Handle()));
  EXPECT_EQ(test_support::ItemText(window_.PageWindow(kMountPage), IDC_MOUNT_VOLUME_PATH),
            kOldVolume);
}

TEST_F(TrayTest, DriveItemDismountsTheDriveItNames) {
  const char letter = Mount("vm-tray-drive.vmv");
  Open();
  PreparedMenu();
  BoxAnswerer answerer;
  Command(ID_TRAY_DRIVE_FIRST);
  const auto box = answerer.Take();
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->text, "Drive " + std::string(1, letter) + ": successfully dismounted.");
  EXPECT_EQ(window_.ActivePage(), kStatusPage);
  EXPECT_FALSE(IsOwnDrive(SystemDriverPort(), letter));
  EXPECT_EQ(SendMessageA(StatusList(), LVM_GETITEMCOUNT, 0, 0), 0);
}

TEST_F(TrayTest, DriveItemOfADriveGoneSinceDoesNothing) {
  const char letter = Mount("vm-tray-gone.vmv");
  Open();
  PreparedMenu();
  ASSERT_TRUE(frame_test::Dismount(letter));
  Command(ID_TRAY_DRIVE_FIRST);  // a message box would hold the command
  EXPECT_EQ(test_support::FindMessageBox(), nullptr);
  EXPECT_EQ(window_.ActivePage(), kStatusPage);
}

TEST_F(TrayTest, DismountAllVolumesPressesTheStatusPageButton) {
  const char letter = Mount("vm-tray-all.vmv");
  Open();
  BoxAnswerer answerer;
  Command(ID_TRAY_DISMOUNT_ALL);
  const auto box = answerer.Take();
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->text, "All 1 drive(s) successfully dismounted.");
  EXPECT_EQ(box->caption, "Dismount All");
  EXPECT_FALSE(IsOwnDrive(SystemDriverPort(), letter));

  Command(ID_TRAY_DISMOUNT_ALL);  // nothing mounted: nothing shown
  EXPECT_EQ(test_support::FindMessageBox(), nullptr);
  EXPECT_EQ(window_.ActivePage(), kStatusPage);
}

TEST_F(TrayTest, MenuOffEveryMonitorOpensInsideTheNearestWorkArea) {
  RECT work{};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_EQ(TrayIcon::AdjustMenuX({work.left - 500, work.top + 10}), work.left);
  EXPECT_EQ(TrayIcon::AdjustMenuX({work.right + 500, work.top + 10}), work.right);
  EXPECT_EQ(TrayIcon::AdjustMenuX({work.left + 7, work.top + 10}), work.left + 7);
}

}  // namespace
