#include "app/pages/options_page.h"

#include "resource.h"

OptionFlags& OptionsPage::Flags() { return flags_; }
void OptionsPage::WriteFlagsToControls() {}
void OptionsPage::SetToolsDirectory(const std::string& dir) { toolsDirectory_ = dir; }
const std::string& OptionsPage::ToolsDirectory() const { return toolsDirectory_; }
UINT OptionsPage::TemplateId() const { return IDD_OPTIONS_PAGE; }
bool OptionsPage::ProcessPageMessage(const WindowMessage&, LRESULT&) { return false; }
