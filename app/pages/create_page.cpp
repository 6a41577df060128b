#include "app/pages/create_page.h"

#include "resource.h"

CreatePage::~CreatePage() = default;
void CreatePage::SetLastDirectory(const std::string& dir) { lastDirectory_ = dir; }
std::string CreatePage::LastDirectory() const { return lastDirectory_; }
void CreatePage::CancelCreation() {}
UINT CreatePage::TemplateId() const { return IDD_CREATE_PAGE; }
bool CreatePage::ProcessPageMessage(const WindowMessage&, LRESULT&) { return false; }
