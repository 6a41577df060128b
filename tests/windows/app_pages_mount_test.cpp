// The Mount page driven through its controls against the stand-in driver,
// installed through the service manager: setup from the stored timeout, the
// refusals in their order, a mount, "&Apply" with the minute timer and the
// timer's tick.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h:
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/pages/mount_page.h"
#include "driver/dismount.h"
#include "driver/operations.h"
#include "driver/records.h"
#include "driver/service.h"
#include "driver/win32_port.h"
#include "platform/file.h"
#include "resources/resource.h"
#include "settings/auto_dismount_setting.h"
#include "tests/windows/driver_support.h"
#include "tests/windows/test_support.h"
#include "volume/create_volume.h"

namespace {

using namespace test_support;

const std::string kPassword = "mount page password";

std::string TempFolder(const char* name) {
  char buffer[MAX_PATH];
  const DWORD length = GetTempPathA(sizeof buffer, buffer);
  std::string folder = std::string(buffer, length) + name;
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder + "\\";
}

// The driver runs for the whole program, installed from a folder that holds
// it as the program's folder would.
testing::Environment* const kEnvironment =
    testing::AddGlobalTestEnvironment(new driver_support::InstalledDriver("vm-pages-program"));

// A 1 MB volume with its header at the end, made by the creation engine.
std::string MakeVolume(const std::string& name, const std::string& password = kPassword) {
  const std::string path = TempFolder("vm-pages-mount") + name + ".vmv";
  CreateVolumeInput input;
  input.volumePath = path;
  input.sizeMb = 1;
  input.password = password;
  input.confirmation = password;
  input.algorithm = 1;
  EXPECT_TRUE(CreateVolume(SystemFileSystem(), input).outcome.success);
  return path;
}

class MountPageTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { InitControls(); }

  void SetUp() override {
    ASSERT_TRUE(GetLogonSessionId(&session));
    host = CreateHostWindow();
    ASSERT_NE(host, nullptr);
  }
  void TearDown() override {
    if (page.Handle() != nullptr) page.StopTimer();
    DestroyWindow(host);
    PumpPending();
    for (const ScannedDrive& drive : ScanDrives(SystemDriverPort())) {
      DismountVolume(SystemDriverPort(), drive.letter, session, 1);
    }
    SaveAutoDismount(0);
  }

  // Creates the page with `stored` as the stored timeout.
  void Open(uint32_t stored) {
    ASSERT_TRUE(SaveAutoDismount(stored));
    ASSERT_NE(page.Create(host), nullptr);
    page.SetLogonSessionId(session);
    page.SetExploreOption(false);
    ShowWindow(page.Handle(), SW_SHOW);
    PumpPending();
  }

  HWND Item(int id) const { return GetDlgItem(page.Handle(), id); }
  std::string Text(int id) const { return ItemText(page.Handle(), id); }
  void Set(int id, const std::string& text) { SetItemText(page.Handle(), id, text); }

  std::vector<std::string> OfferedDrives() const {
    std::vector<std::string> drives;
    const HWND list = Item(IDC_MOUNT_DRIVE_LETTER);
    const LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      char text[8] = {};
      SendMessageA(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
      drives.push_back(text);
    }
    return drives;
  }
  std::string SelectedDrive() const {
    const HWND list = Item(IDC_MOUNT_DRIVE_LETTER);
    char text[8] = {};
    SendMessageA(list, CB_GETLBTEXT, SendMessageA(list, CB_GETCURSEL, 0, 0),
                 reinterpret_cast<LPARAM>(text));
    return text;
  }

  // Presses a button and answers the message box it shows.
  SeenBox PressAndAnswer(int id) {
    BoxAnswerer answer;
    Click(page.Handle(), id);
    std::optional<SeenBox> seen = answer.Take();
    EXPECT_TRUE(seen.has_value()) << "no message box";
    PumpPending();
    return seen.value_or(SeenBox{});
  }

  // Mounts `volume` on the last free letter; returns the letter.
  char MountOnLastLetter(const std::string& volume) {
    const std::string drive = OfferedDrives().back();
    page.SetVolumePath(volume);
    page.SelectDriveText(drive);
    Set(IDC_MOUNT_PASSWORD, kPassword);
    const SeenBox box = PressAndAnswer(IDC_MOUNT_BUTTON);
    EXPECT_EQ(box.text, "Velmorcrypt volume successfully mounted.");
    return drive[0];
  }

  IdleCounter Counter(char letter) const {
    IdleCounter counter = 0;
    EXPECT_TRUE(GetIdleCounter(SystemDriverPort(), letter, &counter));
    return counter;
  }

  uint32_t session = 0;
  HWND host = nullptr;
  MountPage page;
};

TEST_F(MountPageTest, OpensWithTheStoredTimeoutAndTheFreeLettersWithoutATimer) {
  Open(15);
  EXPECT_EQ(Text(IDC_MOUNT_IDLE_TIMEOUT), "15");
  int low = -1, high = -1;
  SendMessageA(Item(IDC_MOUNT_IDLE_SPIN), UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low),
               reinterpret_cast<LPARAM>(&high));
  EXPECT_EQ(low, 0);
  EXPECT_EQ(high, 60);
  EXPECT_FALSE(page.AutoDismount().timerRunning);
  EXPECT_EQ(page.AutoDismount().appliedTimeout, 15u);
  EXPECT_FALSE(KillTimer(page.Handle(), 1));

  const std::vector<std::string> drives = OfferedDrives();
  ASSERT_FALSE(drives.empty());
  EXPECT_EQ(SendMessageA(Item(IDC_MOUNT_DRIVE_LETTER), CB_GETCURSEL, 0, 0), 0);
  for (const std::string& drive : drives) {
    ASSERT_EQ(drive.size(), 2u);
    EXPECT_EQ(GetDriveTypeA((drive + "\\").c_str()), static_cast<UINT>(DRIVE_NO_ROOT_DIR)) << drive;
  }
  for (const char* used : {"C:", "Z:"}) {
    EXPECT_EQ(std::find(drives.begin(), drives.end(), used), drives.end()) << used;
  }
}

TEST_F(MountPageTest, AStoredTimeoutAboveTheCountersRangeShowsAs254) {
  Open(300);
  EXPECT_EQ(Text(IDC_MOUNT_IDLE_TIMEOUT), "254");
  EXPECT_EQ(page.AutoDismount().appliedTimeout, 254u);
}

TEST_F(MountPageTest, RefusesInputInItsCheckOrderAndKeepsTheFields) {
  Open(0);
  const std::string volume = MakeVolume("refused");
  const std::string long65(65, 'p');
  struct Step {
    std::string path, password, message;
  };
  const Step steps[] = {
      {"", "", "Please specify a Velmorcrypt volume."},
      {volume, "", "Please specify volume password."},
      {volume, long65, "Passwords should not be longer than 64 characters."},
      {volume, "wrong password", "Error decrypting header information with the supplied password."},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.message);
    page.SetVolumePath(step.path);
    Set(IDC_MOUNT_PASSWORD, step.password);
    SendMessageA(Item(IDC_MOUNT_READ_ONLY), BM_SETCHECK, BST_CHECKED, 0);
    const SeenBox box = PressAndAnswer(IDC_MOUNT_BUTTON);
    EXPECT_EQ(box.text, step.message);
    EXPECT_EQ(box.caption, "Mount Error");
    EXPECT_EQ(box.owner, host);
    EXPECT_EQ(Text(IDC_MOUNT_VOLUME_PATH), step.path);
    EXPECT_EQ(Text(IDC_MOUNT_PASSWORD), step.password);
    EXPECT_EQ(SendMessageA(Item(IDC_MOUNT_READ_ONLY), BM_GETCHECK, 0, 0), BST_CHECKED);
  }
  EXPECT_TRUE(ScanDrives(SystemDriverPort()).empty());
}

TEST_F(MountPageTest, MountStartsTheTimerWhenATimeoutIsInForceEvenIfRefused) {
  Open(5);
  EXPECT_FALSE(page.AutoDismount().timerRunning);
  const SeenBox box = PressAndAnswer(IDC_MOUNT_BUTTON);
  EXPECT_EQ(box.text, "Please specify a Velmorcrypt volume.");
  EXPECT_TRUE(page.AutoDismount().timerRunning);
  page.StopTimer();
  EXPECT_FALSE(page.AutoDismount().timerRunning);
  EXPECT_FALSE(KillTimer(page.Handle(), 1));
}

TEST_F(MountPageTest, AMountClearsTheFieldsDropsTheLetterAndRecordsTheVolume) {
  Open(7);
  const std::string volume = MakeVolume("mounted");
  const std::vector<std::string> before = OfferedDrives();
  const std::string drive = before.back();
  page.SetVolumePath(volume);
  page.SelectDriveText(drive);
  EXPECT_EQ(SelectedDrive(), drive);
  Set(IDC_MOUNT_PASSWORD, kPassword);

  const SeenBox box = PressAndAnswer(IDC_MOUNT_BUTTON);
  EXPECT_EQ(box.text, "Velmorcrypt volume successfully mounted.");
  EXPECT_EQ(box.caption, "Mount");
  EXPECT_TRUE(IsOwnDrive(SystemDriverPort(), drive[0]));
  EXPECT_EQ(Counter(drive[0]), 7);  // armed with the applied timeout

  EXPECT_EQ(Text(IDC_MOUNT_VOLUME_PATH), "");
  EXPECT_EQ(Text(IDC_MOUNT_HEADER_PATH), "");
  EXPECT_EQ(Text(IDC_MOUNT_PASSWORD), "");
  EXPECT_EQ(SendMessageA(Item(IDC_MOUNT_READ_ONLY), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(Text(IDC_MOUNT_IDLE_TIMEOUT), "7");

  const std::vector<std::string> after = OfferedDrives();
  EXPECT_EQ(after.size(), before.size() - 1);
  EXPECT_EQ(std::find(after.begin(), after.end(), drive), after.end());
  EXPECT_EQ(SelectedDrive(), after.front());

  EXPECT_EQ(page.RecentList().slots[0].volumePath, volume);
  EXPECT_EQ(page.RecentList().slots[0].drive, drive);
  EXPECT_STRCASEEQ(page.LastDirectory().c_str(), TempFolder("vm-pages-mount").c_str());

  // The letter just taken can no longer be selected.
  page.SelectDriveText(drive);
  EXPECT_EQ(SelectedDrive(), after.front());
}

TEST_F(MountPageTest, APasswordAsEarlierVersionsStoredItOpensWithTheLettersTypedAndAWarning) {
  Open(0);
  // On this code-page-1252 system earlier versions read the field as ANSI
  // text (GetWindowTextA): "??????" for the Cyrillic, "aß?" for the Greek.
  for (const auto& [typed, letters] :
       {std::pair{"Пароль", "Letters 1 to 6"}, std::pair{"αβγ", "Letters 1 to 3"}}) {
    Set(IDC_MOUNT_PASSWORD, typed);
    char stored[65] = {};
    GetWindowTextA(Item(IDC_MOUNT_PASSWORD), stored, sizeof stored);
    page.SetVolumePath(MakeVolume("earlier", stored));
    const SeenBox box = PressAndAnswer(IDC_MOUNT_BUTTON);
    EXPECT_EQ(box.text, "Velmorcrypt volume successfully mounted.\n\n" + std::string(letters) +
                            " of the password cannot be used on this system (code page 1252). "
                            "The volume opened with them as earlier versions stored them (as "
                            "\"?\" or a look-alike), so other passwords open it too. Please give "
                            "it a new password (Options, \"Change Password...\").");
    for (const ScannedDrive& drive : ScanDrives(SystemDriverPort())) {
      DismountVolume(SystemDriverPort(), drive.letter, session, 1);
    }
  }
}

TEST_F(MountPageTest, ApplyArmsTheDrivesAndTheTimerAndZeroStopsIt) {
  Open(0);
  const char letter = MountOnLastLetter(MakeVolume("applied"));
  EXPECT_FALSE(page.AutoDismount().timerRunning);

  Set(IDC_MOUNT_IDLE_TIMEOUT, "5");
  Click(page.Handle(), IDC_MOUNT_APPLY);
  EXPECT_EQ(Counter(letter), 5);
  EXPECT_TRUE(page.AutoDismount().timerRunning);
  EXPECT_EQ(page.AutoDismount().appliedTimeout, 5u);
  EXPECT_EQ(LoadAutoDismount(), 5u);

  Set(IDC_MOUNT_IDLE_TIMEOUT, "0");
  Click(page.Handle(), IDC_MOUNT_APPLY);
  EXPECT_FALSE(page.AutoDismount().timerRunning);
  EXPECT_FALSE(KillTimer(page.Handle(), 1));  // no timer left behind
  EXPECT_EQ(Counter(letter), 5);              // left as it was
  EXPECT_EQ(LoadAutoDismount(), 0u);

  Set(IDC_MOUNT_IDLE_TIMEOUT, "300");
  Click(page.Handle(), IDC_MOUNT_APPLY);
  EXPECT_EQ(Text(IDC_MOUNT_IDLE_TIMEOUT), "254");
  EXPECT_EQ(Counter(letter), 254);
  EXPECT_EQ(LoadAutoDismount(), 254u);

  // An edit without a number applies 0.
  Set(IDC_MOUNT_IDLE_TIMEOUT, "");
  Click(page.Handle(), IDC_MOUNT_APPLY);
  EXPECT_EQ(Text(IDC_MOUNT_IDLE_TIMEOUT), "0");
  EXPECT_FALSE(page.AutoDismount().timerRunning);
  EXPECT_EQ(LoadAutoDismount(), 0u);
}

TEST_F(MountPageTest, TheTimersTickCountsDownAndDismountsARunOutDrive) {
  Open(0);
  const char letter = MountOnLastLetter(MakeVolume("ticked"));
  Set(IDC_MOUNT_IDLE_TIMEOUT, "3");
  Click(page.Handle(), IDC_MOUNT_APPLY);
  SendMessageA(page.Handle(), WM_TIMER, 1, 0);
  EXPECT_EQ(Counter(letter), 2);
  ASSERT_TRUE(SetIdleCounter(SystemDriverPort(), letter, 1));
  SendMessageA(page.Handle(), WM_TIMER, 1, 0);
  EXPECT_FALSE(IsOwnDrive(SystemDriverPort(), letter));
  EXPECT_EQ(FindMessageBox(), nullptr);  // nothing is shown
}

TEST_F(MountPageTest, WriteFieldsToControlsWritesThePagesValuesBack) {
  Open(12);
  Set(IDC_MOUNT_IDLE_TIMEOUT, "40");
  Set(IDC_MOUNT_PASSWORD, "typed");
  page.SetVolumePath("D:\\vault\\a.vmv");
  EXPECT_TRUE(page.WriteFieldsToControls());
  EXPECT_EQ(Text(IDC_MOUNT_VOLUME_PATH), "D:\\vault\\a.vmv");
  EXPECT_EQ(Text(IDC_MOUNT_IDLE_TIMEOUT), "12");
}

TEST_F(MountPageTest, BrowseOpensAnExistingFileFromTheLastDirectory) {
  Open(0);
  const std::string folder = TempFolder("vm-pages-browse");
  const std::string header = folder + "picked.ehb";
  HANDLE file = CreateFileA(header.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  page.SetLastDirectory(folder);
  bool chosen = false;
  Helper chooser([&] { chosen = AnswerFileDialog("Open", "picked.ehb"); });
  Click(page.Handle(), IDC_MOUNT_BROWSE_HEADER);
  chooser.Join();
  EXPECT_TRUE(chosen);
  EXPECT_STRCASEEQ(Text(IDC_MOUNT_HEADER_PATH).c_str(), header.c_str());

  // A file that does not exist is not taken.
  Helper refused([] { AnswerFileDialog("Open", "missing.vmv"); });
  Click(page.Handle(), IDC_MOUNT_BROWSE_VOLUME);
  refused.Join();
  EXPECT_EQ(Text(IDC_MOUNT_VOLUME_PATH), "");
}

}  // namespace
