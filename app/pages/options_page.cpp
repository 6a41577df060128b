#include "app/pages/options_page.h"

#include "app/pages/change_password_dialog.h"
#include "resources/resource.h"

const MessageMapEntry<OptionsPage> OptionsPage::kMessages[] = {
    OnMessage<WM_INITDIALOG, &OptionsPage::OnInitDialog>(),
    OnCommand<IDC_OPTIONS_APPLY, &OptionsPage::OnApplyChanges>(),
    OnCommand<IDC_OPTIONS_CHANGE_PASSWORD, &OptionsPage::OnChangePassword>(),
};

OptionFlags& OptionsPage::Flags() { return flags_; }
void OptionsPage::SetToolsDirectory(const std::string& dir) { toolsDirectory_ = dir; }
const std::string& OptionsPage::ToolsDirectory() const { return toolsDirectory_; }
UINT OptionsPage::TemplateId() const { return IDD_OPTIONS_PAGE; }

bool OptionsPage::ProcessPageMessage(const WindowMessage& m, LRESULT& result) {
  return DispatchMessageMap<OptionsPage>(*this, kMessages, m, result);
}

OptionsPage::Binding OptionsPage::Bindings() {
  return {{{IDC_OPTIONS_REMEMBER_DIRECTORY, &flags_.RememberLastDirectory},
           {IDC_OPTIONS_REMEMBER_DRIVES, &flags_.RememberMountedDrives},
           {IDC_OPTIONS_EXPLORE, &flags_.ExploreDrivesAfterMounting}}};
}

bool OptionsPage::OnInitDialog(HWND, LPARAM) {
  flags_ = OptionFlags{};  // all three on
  WriteFlagsToControls();
  return true;
}

void OptionsPage::WriteFlagsToControls() {
  for (const auto& [id, flag] : Bindings()) {
    if (*flag < 0 || *flag > 2) *flag = 0;
    SendDlgItemMessageA(Handle(), id, BM_SETCHECK, static_cast<WPARAM>(*flag), 0);
  }
}

void OptionsPage::OnApplyChanges(UINT, UINT, HWND) {
  for (const auto& [id, flag] : Bindings()) {
    *flag = SendDlgItemMessageA(Handle(), id, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
  }
}

void OptionsPage::OnChangePassword(UINT, UINT, HWND) {
  ChangePasswordDialog dialog;
  dialog.SetLastDirectory(toolsDirectory_);
  dialog.Run(GetActiveWindow());
  toolsDirectory_ = dialog.LastDirectory();
}
