#include "app/pages/about_page.h"

#include "resource.h"

void AboutPage::SetHelpFilePath(const std::string& path) { helpFile_ = path; }
UINT AboutPage::TemplateId() const { return IDD_ABOUT_PAGE; }
bool AboutPage::ProcessPageMessage(const WindowMessage&, LRESULT&) { return false; }
