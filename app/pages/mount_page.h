// The Mount page: mounts a volume on a free drive letter and sets the
// automatic dismount.
#pragma once
#include <stdint.h>

#include <string>

#include "app/pages/page.h"
#include "settings/settings.h"

class MountPage : public Page {
 public:
  void SetLogonSessionId(uint32_t id);
  void SetExploreOption(bool on);
  // Fills the drive letters and sets the up-down position.
  void Refresh();
  void SetVolumePath(const std::string& path);
  void SelectDriveText(const std::string& drive);
  // Writes the page's values back to its controls in order; on a failure it
  // beeps, puts the focus on the failing control and returns false.
  bool WriteFieldsToControls();
  void StopTimer();
  RecentlyMountedList& RecentList();
  void SetLastDirectory(const std::string& dir);
  const std::string& LastDirectory() const;

 protected:
  UINT TemplateId() const override;
  bool ProcessPageMessage(const WindowMessage& m, LRESULT& result) override;

 private:
  uint32_t logonSessionId_ = 0;
  bool explore_ = false;
  RecentlyMountedList recent_;
  std::string lastDirectory_;
};
