#include "app/pages/change_password_dialog.h"

#include <commdlg.h>

#include "app/pages/page.h"
#include "platform/file.h"
#include "resources/resource.h"
#include "volume/change_password.h"

namespace {

constexpr char kFilter[] =
    "EHB Files (*.ehb)\0*.ehb\0VMV Files (*.vmv)\0*.vmv\0All Files (*.*)\0*.*\0";

// Centres `window` over `over` (the screen's work area when there is none).
void CentreOver(HWND window, HWND over) {
  RECT area{};
  if (over == nullptr || !IsWindowVisible(over) || !GetWindowRect(over, &area)) {
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  }
  RECT own{};
  GetWindowRect(window, &own);
  const int width = own.right - own.left;
  const int height = own.bottom - own.top;
  const int x = area.left + (area.right - area.left - width) / 2;
  const int y = area.top + (area.bottom - area.top - height) / 2;
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

const MessageMapEntry<ChangePasswordDialog> ChangePasswordDialog::kMessages[] = {
    OnMessage<WM_INITDIALOG, &ChangePasswordDialog::OnInitDialog>(),
    OnCommand<IDC_PASSWORD_BROWSE, &ChangePasswordDialog::OnBrowse>(),
    OnCommand<IDOK, &ChangePasswordDialog::OnApply>(),
    OnCommand<IDCANCEL, &ChangePasswordDialog::OnCancel>(),
};

ChangePasswordDialog::~ChangePasswordDialog() = default;

INT_PTR ChangePasswordDialog::Run(HWND owner) { return RunModal(IDD_CHANGE_PASSWORD, owner); }

bool ChangePasswordDialog::ProcessWindowMessage(const WindowMessage& m, LRESULT& result) {
  return DispatchMessageMap<ChangePasswordDialog>(*this, kMessages, m, result);
}

bool ChangePasswordDialog::OnInitDialog(HWND, LPARAM) {
  HWND parent = GetParent(Handle());
  if (parent == nullptr) parent = GetWindow(Handle(), GW_OWNER);
  CentreOver(Handle(), parent);
  return true;
}

void ChangePasswordDialog::OnBrowse(UINT, UINT, HWND) {
  char path[MAX_PATH] = {};
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = GetActiveWindow();
  dialog.lpstrFilter = kFilter;
  dialog.lpstrFile = path;
  dialog.nMaxFile = sizeof path;
  dialog.lpstrInitialDir = lastDirectory_.empty() ? nullptr : lastDirectory_.c_str();
  dialog.lpstrDefExt = "vmv";
  dialog.Flags =
      OFN_EXPLORER | OFN_ENABLESIZING | OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_NOREADONLYRETURN;
  if (GetOpenFileNameA(&dialog)) SetDlgItemTextA(Handle(), IDC_PASSWORD_FILE, path);
}

void ChangePasswordDialog::OnApply(UINT, UINT, HWND) {
  const HWND dialog = Handle();
  ChangePasswordInput input;
  input.path = ControlText(GetDlgItem(dialog, IDC_PASSWORD_FILE));
  // A current password with letters this system cannot hold is tried as
  // earlier versions stored it; the change itself is then what the Mount
  // page would recommend.
  input.currentPassword = ControlPassword(GetDlgItem(dialog, IDC_PASSWORD_CURRENT)).bytes;
  const PasswordBytes newPassword = ControlPassword(GetDlgItem(dialog, IDC_PASSWORD_NEW));
  const PasswordBytes confirmation = ControlPassword(GetDlgItem(dialog, IDC_PASSWORD_CONFIRM));
  input.newPassword = newPassword.bytes;
  input.confirmation = confirmation.bytes;
  input.newPasswordRefusal = NewPasswordRefusal(newPassword, confirmation, SystemCodePageText());
  const ChangePasswordOutcome changed = ChangeVolumePassword(SystemFileSystem(), input);
  WipeString(input.currentPassword);
  WipeString(input.newPassword);
  WipeString(input.confirmation);
  if (changed.outcome.success) {
    lastDirectory_ = changed.lastDirectory;
    for (int id :
         {IDC_PASSWORD_FILE, IDC_PASSWORD_CURRENT, IDC_PASSWORD_NEW, IDC_PASSWORD_CONFIRM}) {
      SetDlgItemTextA(dialog, id, "");
    }
  }
  MessageBoxA(dialog, changed.outcome.message.c_str(), changed.outcome.caption.c_str(), MB_OK);
  if (changed.outcome.success) EndModal(IDOK);
}

void ChangePasswordDialog::OnCancel(UINT, UINT, HWND) { EndModal(IDCANCEL); }
