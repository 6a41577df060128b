// The Options page and the Change Password dialog driven through their
// controls: the check boxes bound by id, "&Apply Changes" and discarded
// changes, and the dialog's Enter, Esc and Cancel with the tools directory
// lent to it and taken back.
#include <gtest/gtest.h>
#include <windows.h>

#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/pages/change_password_dialog.h"
#include "app/pages/options_page.h"
#include "platform/file.h"
#include "resources/resource.h"
#include "tests/windows/test_support.h"
#include "volume/change_password.h"
#include "volume/create_volume.h"

namespace {

using namespace test_support;

std::string TempFolder(const char* name) {
  char buffer[MAX_PATH];
  const DWORD length = GetTempPathA(sizeof buffer, buffer);
  std::string folder = std::string(buffer, length) + name;
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder + "\\";
}

bool Checked(HWND page, int id) {
  return SendDlgItemMessageA(page, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void SetCheck(HWND page, int id, bool on) {
  SendDlgItemMessageA(page, id, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

// A 1 MB volume with its header at the end.
std::string MakeVolume(const std::string& name, const std::string& password) {
  const std::string path = TempFolder("vm-pages-password") + name + ".vmv";
  CreateVolumeInput input;
  input.volumePath = path;
  input.sizeMb = 1;
  input.password = password;
  input.confirmation = password;
  input.algorithm = 3;
  EXPECT_TRUE(CreateVolume(SystemFileSystem(), input).outcome.success);
  return path;
}

// Whether `password` opens the header: a change to the same password
// succeeds only then.
bool PasswordOpens(const std::string& path, const std::string& password) {
  return ChangeVolumePassword(SystemFileSystem(), {path, password, password, password})
      .outcome.success;
}

// Presses Enter in a control of a modal dialog, as the user would.
void PressKey(HWND control, WPARAM key) {
  PostMessageA(control, WM_KEYDOWN, key, 0);
  PostMessageA(control, WM_KEYUP, key, 0);
}

struct DialogFields {
  std::string path, current, fresh, confirmation;
};

void Fill(HWND dialog, const DialogFields& fields) {
  SetItemText(dialog, IDC_PASSWORD_FILE, fields.path);
  SetItemText(dialog, IDC_PASSWORD_CURRENT, fields.current);
  SetItemText(dialog, IDC_PASSWORD_NEW, fields.fresh);
  SetItemText(dialog, IDC_PASSWORD_CONFIRM, fields.confirmation);
}

DialogFields Read(HWND dialog) {
  return {ItemText(dialog, IDC_PASSWORD_FILE), ItemText(dialog, IDC_PASSWORD_CURRENT),
          ItemText(dialog, IDC_PASSWORD_NEW), ItemText(dialog, IDC_PASSWORD_CONFIRM)};
}

class OptionsPageTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { InitControls(); }
  void SetUp() override {
    host = CreateHostWindow();
    ASSERT_NE(host, nullptr);
    ASSERT_NE(page.Create(host), nullptr);
    ShowWindow(page.Handle(), SW_SHOW);
    PumpPending();
  }
  void TearDown() override {
    DestroyWindow(host);
    PumpPending();
  }

  HWND host = nullptr;
  OptionsPage page;
};

TEST_F(OptionsPageTest, StartsWithAllThreeTicked) {
  EXPECT_EQ(page.Flags().RememberLastDirectory, 1);
  EXPECT_EQ(page.Flags().RememberMountedDrives, 1);
  EXPECT_EQ(page.Flags().ExploreDrivesAfterMounting, 1);
  for (int id :
       {IDC_OPTIONS_REMEMBER_DIRECTORY, IDC_OPTIONS_REMEMBER_DRIVES, IDC_OPTIONS_EXPLORE}) {
    EXPECT_TRUE(Checked(page.Handle(), id)) << id;
  }
}

TEST_F(OptionsPageTest, ApplyChangesReadsEachBoxIntoItsOwnFlag) {
  const HWND p = page.Handle();
  SetCheck(p, IDC_OPTIONS_REMEMBER_DRIVES, false);
  Click(p, IDC_OPTIONS_APPLY);
  EXPECT_EQ(page.Flags().RememberLastDirectory, 1);
  EXPECT_EQ(page.Flags().RememberMountedDrives, 0);
  EXPECT_EQ(page.Flags().ExploreDrivesAfterMounting, 1);

  SetCheck(p, IDC_OPTIONS_EXPLORE, false);
  SetCheck(p, IDC_OPTIONS_REMEMBER_DRIVES, true);
  Click(p, IDC_OPTIONS_APPLY);
  EXPECT_EQ(page.Flags().RememberLastDirectory, 1);
  EXPECT_EQ(page.Flags().RememberMountedDrives, 1);
  EXPECT_EQ(page.Flags().ExploreDrivesAfterMounting, 0);
  EXPECT_EQ(FindMessageBox(), nullptr);
}

TEST_F(OptionsPageTest, WritingTheFlagsDiscardsUnappliedChanges) {
  const HWND p = page.Handle();
  page.Flags().RememberMountedDrives = 0;
  page.WriteFlagsToControls();
  EXPECT_FALSE(Checked(p, IDC_OPTIONS_REMEMBER_DRIVES));
  EXPECT_TRUE(Checked(p, IDC_OPTIONS_REMEMBER_DIRECTORY));

  SetCheck(p, IDC_OPTIONS_REMEMBER_DIRECTORY, false);  // not applied
  SetCheck(p, IDC_OPTIONS_REMEMBER_DRIVES, true);
  page.WriteFlagsToControls();
  EXPECT_TRUE(Checked(p, IDC_OPTIONS_REMEMBER_DIRECTORY));
  EXPECT_FALSE(Checked(p, IDC_OPTIONS_REMEMBER_DRIVES));
  EXPECT_EQ(page.Flags().RememberLastDirectory, 1);
  EXPECT_EQ(page.Flags().RememberMountedDrives, 0);
}

TEST_F(OptionsPageTest, AFlagOutsideZeroToTwoBecomesZero) {
  page.Flags().ExploreDrivesAfterMounting = 7;
  page.Flags().RememberLastDirectory = -1;
  page.WriteFlagsToControls();
  EXPECT_EQ(page.Flags().ExploreDrivesAfterMounting, 0);
  EXPECT_EQ(page.Flags().RememberLastDirectory, 0);
  EXPECT_FALSE(Checked(page.Handle(), IDC_OPTIONS_EXPLORE));
  EXPECT_FALSE(Checked(page.Handle(), IDC_OPTIONS_REMEMBER_DIRECTORY));
}

TEST_F(OptionsPageTest, ASuccessfulChangeMakesTheFilesFolderTheToolsDirectory) {
  const std::string volume = MakeVolume("changed", "old password");
  page.SetToolsDirectory("C:\\tools\\");
  std::optional<SeenBox> box;
  bool closed = false;
  Helper user([&] {
    const HWND dialog = WaitForDialog("Change Password");
    if (dialog == nullptr) return;
    Fill(dialog, {volume, "old password", "new password", "new password"});
    PressKey(GetDlgItem(dialog, IDC_PASSWORD_CONFIRM), VK_RETURN);
    box = WaitForMessageBox();
    if (box) PostClick(box->window, IDOK);
    closed = WaitUntilGone(dialog);
  });
  Click(page.Handle(), IDC_OPTIONS_CHANGE_PASSWORD);
  user.Join();
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->text, "Password successfully changed.");
  EXPECT_EQ(box->caption, "Apply");
  EXPECT_TRUE(closed);
  EXPECT_STRCASEEQ(page.ToolsDirectory().c_str(), TempFolder("vm-pages-password").c_str());
  EXPECT_FALSE(PasswordOpens(volume, "old password"));
  EXPECT_TRUE(PasswordOpens(volume, "new password"));
}

TEST_F(OptionsPageTest, CancelAfterAFailedApplyKeepsTheToolsDirectory) {
  const std::string volume = MakeVolume("kept", "right password");
  page.SetToolsDirectory("C:\\tools\\");
  const DialogFields typed = {volume, "wrong password", "next", "next"};
  std::optional<SeenBox> box;
  DialogFields after;
  bool stayedOpen = false;
  Helper user([&] {
    const HWND dialog = WaitForDialog("Change Password");
    if (dialog == nullptr) return;
    Fill(dialog, typed);
    PostClick(dialog, IDOK);
    box = WaitForMessageBox();
    if (!box) return;
    PostClick(box->window, IDOK);
    WaitUntilGone(box->window);
    stayedOpen = IsWindow(dialog) && IsWindowVisible(dialog);
    after = Read(dialog);
    PostClick(dialog, IDCANCEL);
    WaitUntilGone(dialog);
  });
  Click(page.Handle(), IDC_OPTIONS_CHANGE_PASSWORD);
  user.Join();
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->text, "Error changing password.");
  EXPECT_EQ(box->caption, "Apply Error");
  EXPECT_TRUE(stayedOpen);
  EXPECT_EQ(after.path, typed.path);
  EXPECT_EQ(after.current, typed.current);
  EXPECT_EQ(after.fresh, typed.fresh);
  EXPECT_EQ(after.confirmation, typed.confirmation);
  EXPECT_EQ(page.ToolsDirectory(), "C:\\tools\\");
  EXPECT_TRUE(PasswordOpens(volume, "right password"));
}

class ChangePasswordDialogTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { InitControls(); }
  void SetUp() override {
    host = CreateHostWindow();
    ASSERT_NE(host, nullptr);
  }
  void TearDown() override {
    DestroyWindow(host);
    PumpPending();
  }
  HWND host = nullptr;
};

TEST_F(ChangePasswordDialogTest, ReportsTheChecksInOrderAndEscapeClosesWithTwo) {
  const std::string volume = MakeVolume("ordered", "pw");
  const std::string long65(65, 'c');
  const struct {
    DialogFields fields;
    const char* message;
  } steps[] = {
      {{"", "", "", ""}, "Please select the file containing the header block."},
      {{volume, "", "a", "a"}, "Please fill in all password fields."},
      {{volume, long65, "a", "b"}, "Current password cannot be longer than 64 characters."},
      // Letters this code-page-1252 system cannot hold, before the comparison.
      {{volume, "pw", "Пароль", "b"},
       "Letters 1 to 6 of the password cannot be used on this system (code page 1252)."},
      {{volume, "pw", "a", "b"}, "New passwords do not match."},
  };
  std::vector<SeenBox> boxes;
  RECT dialogRect{};
  HWND owner = nullptr;
  HWND shown = nullptr;
  Helper user([&] {
    const HWND dialog = WaitForDialog("Change Password");
    if (dialog == nullptr) return;
    shown = dialog;
    GetWindowRect(dialog, &dialogRect);
    for (const auto& step : steps) {
      Fill(dialog, step.fields);
      PressKey(GetDlgItem(dialog, IDC_PASSWORD_FILE), VK_RETURN);
      std::optional<SeenBox> box = WaitForMessageBox();
      if (!box) return;
      boxes.push_back(*box);
      owner = box->owner;
      PostClick(box->window, IDOK);
      WaitUntilGone(box->window);
    }
    PressKey(GetDlgItem(dialog, IDC_PASSWORD_CURRENT), VK_ESCAPE);
    WaitUntilGone(dialog);
  });
  ChangePasswordDialog dialog;
  dialog.SetLastDirectory("C:\\start\\");
  EXPECT_EQ(dialog.Run(host), IDCANCEL);
  user.Join();
  ASSERT_EQ(boxes.size(), std::size(steps));
  for (size_t i = 0; i < boxes.size(); ++i) {
    EXPECT_EQ(boxes[i].text, steps[i].message);
    EXPECT_EQ(boxes[i].caption, "Apply Error");
  }
  EXPECT_EQ(dialog.LastDirectory(), "C:\\start\\");
  EXPECT_EQ(owner, shown);  // owned by the dialog itself

  // Centred over its parent.
  RECT hostRect{};
  GetWindowRect(host, &hostRect);
  EXPECT_NEAR((dialogRect.left + dialogRect.right) / 2, (hostRect.left + hostRect.right) / 2, 2);
  EXPECT_NEAR((dialogRect.top + dialogRect.bottom) / 2, (hostRect.top + hostRect.bottom) / 2, 2);
}

TEST_F(ChangePasswordDialogTest, ASuccessfulApplyClosesWithOneAndClearsTheFields) {
  const std::string volume = MakeVolume("closed", "before");
  DialogFields cleared{"x", "x", "x", "x"};
  Helper user([&] {
    const HWND dialog = WaitForDialog("Change Password");
    if (dialog == nullptr) return;
    Fill(dialog, {volume, "before", "after", "after"});
    PostClick(dialog, IDOK);
    std::optional<SeenBox> box = WaitForMessageBox();
    if (!box) return;
    cleared = Read(dialog);  // the fields are cleared before the message
    PostClick(box->window, IDOK);
    WaitUntilGone(dialog);
  });
  ChangePasswordDialog dialog;
  EXPECT_EQ(dialog.Run(host), IDOK);
  user.Join();
  EXPECT_EQ(cleared.path, "");
  EXPECT_EQ(cleared.current, "");
  EXPECT_EQ(cleared.fresh, "");
  EXPECT_EQ(cleared.confirmation, "");
  EXPECT_STRCASEEQ(dialog.LastDirectory().c_str(), TempFolder("vm-pages-password").c_str());
  EXPECT_TRUE(PasswordOpens(volume, "after"));
}

}  // namespace
