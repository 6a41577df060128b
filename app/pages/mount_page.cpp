#include "app/pages/mount_page.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <string.h>

#include "crypto/wipe.h"
#include "driver/win32_port.h"
#include "platform/file.h"
#include "resources/resource.h"
#include "settings/auto_dismount_setting.h"

namespace {

constexpr UINT_PTR kTimerId = 1;
constexpr int kTimeoutMax = 60;
constexpr UINT kBrowseFlags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_FILEMUSTEXIST |
                              OFN_NOREADONLYRETURN | OFN_EXPLORER | OFN_ENABLESIZING;
constexpr char kVolumeFilter[] = "VMV Files (*.vmv)\0*.vmv\0All Files (*.*)\0*.*\0";
constexpr char kHeaderFilter[] = "EHB Files (*.ehb)\0*.ehb\0All Files (*.*)\0*.*\0";
// The file systems whose drives are opened in the shell after a mount.
constexpr const char* kExploredFileSystems[] = {"FAT", "FAT32", "NTFS"};

// A letter is free when it has no root (GetDriveTypeA) and no DOS device
// name: a letter defined as a raw device, such as a mounted volume without a
// file system, can answer "no root" as well (Wine does), yet is taken.
bool DriveLetterIsFree(char letter) {
  const char root[] = {letter, ':', '\\', '\0'};
  if (GetDriveTypeA(root) != DRIVE_NO_ROOT_DIR) return false;
  const char name[] = {letter, ':', '\0'};
  char target[MAX_PATH];
  return QueryDosDeviceA(name, target, sizeof target) == 0 &&
         GetLastError() != ERROR_INSUFFICIENT_BUFFER;
}

void Beep() { MessageBeep(static_cast<UINT>(-1)); }

}  // namespace

const MessageMapEntry<MountPage> MountPage::kMessages[] = {
    OnMessage<WM_INITDIALOG, &MountPage::OnInitDialog>(),
    OnCommand<IDC_MOUNT_BROWSE_VOLUME, &MountPage::OnBrowseVolume>(),
    OnCommand<IDC_MOUNT_BROWSE_HEADER, &MountPage::OnBrowseHeader>(),
    OnCommand<IDC_MOUNT_BUTTON, &MountPage::OnMount>(),
    OnCommand<IDC_MOUNT_APPLY, &MountPage::OnApply>(),
    OnMessage<WM_TIMER, &MountPage::OnTimer>(),
};

MountPage::MountPage() : timer_(*this) {}

MountPage::~MountPage() { SecureWipe(state_.password.data(), state_.password.size()); }

bool MountPage::PageTimer::Start() {
  return page_.Handle() != nullptr &&
         SetTimer(page_.Handle(), kTimerId, kIdleTimerPeriodMilliseconds, nullptr) != 0;
}

void MountPage::PageTimer::Stop() {
  if (page_.Handle() != nullptr) KillTimer(page_.Handle(), kTimerId);
}

void MountPage::SetLogonSessionId(uint32_t id) { state_.logonSessionId = id; }
void MountPage::SetExploreOption(bool on) { explore_ = on; }
RecentlyMountedList& MountPage::RecentList() { return state_.recentList; }
void MountPage::SetLastDirectory(const std::string& dir) { state_.lastDirectory = dir; }
const std::string& MountPage::LastDirectory() const { return state_.lastDirectory; }
UINT MountPage::TemplateId() const { return IDD_MOUNT_PAGE; }

bool MountPage::ProcessPageMessage(const WindowMessage& m, LRESULT& result) {
  return DispatchMessageMap<MountPage>(*this, kMessages, m, result);
}

bool MountPage::OnInitDialog(HWND, LPARAM) {
  const HWND spin = GetDlgItem(Handle(), IDC_MOUNT_IDLE_SPIN);
  SendMessageA(spin, UDM_SETRANGE32, 0, kTimeoutMax);
  SendMessageA(spin, UDM_SETPOS, 0, 0);
  state_.autoDismount.timerRunning = false;
  // A stored timeout the counter cannot hold is taken as the longest it can.
  state_.autoDismount.appliedTimeout = ClampIdleTimeout(LoadAutoDismount());
  state_.editedTimeout = state_.autoDismount.appliedTimeout;
  Refresh();
  return true;
}

void MountPage::ShowTimeout(uint32_t minutes) {
  const HWND spin = GetDlgItem(Handle(), IDC_MOUNT_IDLE_SPIN);
  SendMessageA(spin, UDM_SETPOS, 0, MAKELPARAM(LOWORD(minutes), 0));
  // The up-down control stops at 60; a longer applied timeout is shown as
  // it is.
  SetDlgItemInt(Handle(), IDC_MOUNT_IDLE_TIMEOUT, minutes, FALSE);
  InvalidateRect(spin, nullptr, TRUE);
}

void MountPage::Refresh() {
  const HWND list = GetDlgItem(Handle(), IDC_MOUNT_DRIVE_LETTER);
  SendMessageA(list, CB_RESETCONTENT, 0, 0);
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    if (!DriveLetterIsFree(letter)) continue;
    const char drive[] = {letter, ':', '\0'};
    SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(drive));
  }
  SendMessageA(list, CB_SETCURSEL, 0, 0);
  ShowTimeout(state_.autoDismount.appliedTimeout);
}

void MountPage::SetVolumePath(const std::string& path) {
  state_.volumePath = path;
  SetDlgItemTextA(Handle(), IDC_MOUNT_VOLUME_PATH, path.c_str());
}

void MountPage::SelectDriveText(const std::string& drive) {
  const HWND list = GetDlgItem(Handle(), IDC_MOUNT_DRIVE_LETTER);
  const LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    char text[8] = {};
    const LRESULT length = SendMessageA(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
    if (length < 0 || length >= static_cast<LRESULT>(sizeof text)) continue;
    SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    if (drive == text) {  // exact, case-sensitive
      SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
      return;
    }
  }
}

bool MountPage::WriteFieldsToControls() {
  const HWND page = Handle();
  const struct {
    int id;
    const std::string& text;
  } edits[] = {{IDC_MOUNT_VOLUME_PATH, state_.volumePath},
               {IDC_MOUNT_HEADER_PATH, state_.externalHeaderPath},
               {IDC_MOUNT_PASSWORD, state_.password}};
  for (const auto& edit : edits) {
    if (!SetDlgItemTextA(page, edit.id, edit.text.c_str())) {
      Beep();
      SetFocus(GetDlgItem(page, edit.id));
      return false;
    }
  }
  const HWND readOnly = GetDlgItem(page, IDC_MOUNT_READ_ONLY);
  if (readOnly == nullptr) {
    Beep();
    return false;
  }
  SendMessageA(readOnly, BM_SETCHECK, state_.readOnly == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
  if (!SetDlgItemInt(page, IDC_MOUNT_IDLE_TIMEOUT, state_.editedTimeout, FALSE)) {
    Beep();
    SetFocus(GetDlgItem(page, IDC_MOUNT_IDLE_TIMEOUT));
    return false;
  }
  return true;
}

void MountPage::ReadControls(bool withPassword) {
  const HWND page = Handle();
  state_.volumePath = ControlText(GetDlgItem(page, IDC_MOUNT_VOLUME_PATH));
  state_.externalHeaderPath = ControlText(GetDlgItem(page, IDC_MOUNT_HEADER_PATH));
  if (withPassword) {
    SecureWipe(state_.password.data(), state_.password.size());
    const PasswordBytes password = ControlPassword(GetDlgItem(page, IDC_MOUNT_PASSWORD));
    state_.password = password.bytes;
    openedAsEarlierVersions_ = password.status == PasswordStatus::kNotHeld
                                   ? OpenedAsEarlierVersionsText(password, SystemCodePageText())
                                   : "";
  }
  state_.readOnly =
      SendDlgItemMessageA(page, IDC_MOUNT_READ_ONLY, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
  BOOL number = FALSE;
  state_.editedTimeout = GetDlgItemInt(page, IDC_MOUNT_IDLE_TIMEOUT, &number, FALSE);
  if (!number) {
    state_.editedTimeout = 0;
    Beep();
    SetFocus(GetDlgItem(page, IDC_MOUNT_IDLE_TIMEOUT));
  }
  state_.driveText.clear();
  const HWND list = GetDlgItem(page, IDC_MOUNT_DRIVE_LETTER);
  const LRESULT selected = SendMessageA(list, CB_GETCURSEL, 0, 0);
  if (selected != CB_ERR) {
    char text[8] = {};
    const LRESULT length = SendMessageA(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(selected), 0);
    if (length >= 0 && length < static_cast<LRESULT>(sizeof text)) {
      SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(selected),
                   reinterpret_cast<LPARAM>(text));
      state_.driveText = text;
    }
  }
}

void MountPage::Browse(int editId, const char* filter, const char* defaultExtension) {
  char path[MAX_PATH] = {};
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = GetActiveWindow();
  dialog.lpstrFilter = filter;
  dialog.lpstrFile = path;
  dialog.nMaxFile = sizeof path;
  dialog.lpstrInitialDir = state_.lastDirectory.empty() ? nullptr : state_.lastDirectory.c_str();
  dialog.lpstrDefExt = defaultExtension;
  dialog.Flags = kBrowseFlags;
  if (GetOpenFileNameA(&dialog)) SetDlgItemTextA(Handle(), editId, path);
}

void MountPage::OnBrowseVolume(UINT, UINT, HWND) {
  Browse(IDC_MOUNT_VOLUME_PATH, kVolumeFilter, "vmv");
}

void MountPage::OnBrowseHeader(UINT, UINT, HWND) {
  Browse(IDC_MOUNT_HEADER_PATH, kHeaderFilter, "ehb");
}

void MountPage::OnMount(UINT, UINT, HWND) {
  ReadControls(true);
  const MountResult result =
      RunMountCommand(state_, SystemFileSystem(), SystemDriverPort(), timer_);
  // The password is not kept past the command, whatever its outcome.
  SecureWipe(state_.password.data(), state_.password.size());
  state_.password.clear();
  if (!result.outcome.success) {
    MessageBoxA(Handle(), result.outcome.message.c_str(), result.outcome.caption.c_str(), MB_OK);
    return;
  }
  Refresh();
  WriteFieldsToControls();
  std::string message = result.outcome.message;
  if (!openedAsEarlierVersions_.empty()) {
    message += "\n\n" + openedAsEarlierVersions_ +
               " Please give it a new password (Options, \"Change Password...\").";
  }
  MessageBoxA(Handle(), message.c_str(), result.outcome.caption.c_str(), MB_OK);
  if (explore_) Explore(result.driveLetter);
}

void MountPage::Explore(char driveLetter) const {
  const char root[] = {driveLetter, ':', '\\', '\0'};
  SHFILEINFOA info = {};
  SHGetFileInfoA(root, 0, &info, sizeof info, 0);
  char fileSystem[MAX_PATH] = {};
  if (!GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, nullptr, fileSystem,
                             sizeof fileSystem)) {
    return;
  }
  for (const char* name : kExploredFileSystems) {
    if (strcmp(fileSystem, name) == 0) {
      ShellExecuteA(Handle(), "open", root, nullptr, nullptr, SW_SHOWNORMAL);
      return;
    }
  }
}

void MountPage::OnApply(UINT, UINT, HWND) {
  ReadControls(false);
  const uint32_t applied =
      ApplyIdleTimeout(SystemDriverPort(), state_.autoDismount, timer_, state_.editedTimeout);
  state_.editedTimeout = applied;
  SaveAutoDismount(applied);
  ShowTimeout(applied);
}

void MountPage::OnTimer(UINT_PTR) {
  IdleTimerTick(SystemDriverPort(), state_.autoDismount, state_.logonSessionId);
}

void MountPage::StopTimer() {
  if (!state_.autoDismount.timerRunning) return;
  timer_.Stop();
  state_.autoDismount.timerRunning = false;
}
