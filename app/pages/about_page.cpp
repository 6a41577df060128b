#include "app/pages/about_page.h"

#include <shellapi.h>

#include "app/help.h"
#include "resources/resource.h"

const MessageMapEntry<AboutPage> AboutPage::kMessages[] = {
    OnMessage<WM_INITDIALOG, &AboutPage::OnInitDialog>(),
    OnCommand<IDC_ABOUT_HELP, &AboutPage::OnHelp>(),
    OnCommand<IDC_ABOUT_SUPPORT, &AboutPage::OnSupport>(),
};

void AboutPage::SetHelpFilePath(const std::string& path) { helpFile_ = path; }
UINT AboutPage::TemplateId() const { return IDD_ABOUT_PAGE; }

bool AboutPage::ProcessPageMessage(const WindowMessage& m, LRESULT& result) {
  return DispatchMessageMap<AboutPage>(*this, kMessages, m, result);
}

bool AboutPage::OnInitDialog(HWND, LPARAM) {
  // The label is the control's text, which fits its rectangle; the target
  // is the full address of the web site.
  if (webLink_.Attach(GetDlgItem(Handle(), IDC_ABOUT_WEB_LINK))) {
    webLink_.SetHyperLink(kWebAddress);
  }
  return true;
}

void AboutPage::OnHelp(UINT, UINT, HWND) { ShowHelp(GetDesktopWindow(), helpFile_); }

void AboutPage::OnSupport(UINT, UINT, HWND) {
  // Nothing is shown when the shell cannot open the address.
  ShellExecuteA(nullptr, "open", kSupportAddress, nullptr, nullptr, SW_SHOWNORMAL);
}
