#include "app/pages/mount_page.h"

#include "resource.h"

void MountPage::SetLogonSessionId(uint32_t id) { logonSessionId_ = id; }
void MountPage::SetExploreOption(bool on) { explore_ = on; }
void MountPage::Refresh() {}
void MountPage::SetVolumePath(const std::string&) {}
void MountPage::SelectDriveText(const std::string&) {}
bool MountPage::WriteFieldsToControls() { return true; }
void MountPage::StopTimer() {}
RecentlyMountedList& MountPage::RecentList() { return recent_; }
void MountPage::SetLastDirectory(const std::string& dir) { lastDirectory_ = dir; }
const std::string& MountPage::LastDirectory() const { return lastDirectory_; }
UINT MountPage::TemplateId() const { return IDD_MOUNT_PAGE; }
bool MountPage::ProcessPageMessage(const WindowMessage&, LRESULT&) { return false; }
