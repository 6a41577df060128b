// The Mount page: mounts a volume on a free drive letter, and carries the
// automatic dismount's idle timeout with its one-minute timer.
//
// The page gathers its controls into a MountPageState, runs the mount
// command or the automatic dismount over it, shows the outcome and does what
// only a window can: the drive-letter list, the timer and opening the new
// drive in the shell.
#pragma once
#include <stdint.h>

#include <string>

#include "app/pages/page.h"
#include "driver/auto_dismount.h"
#include "driver/mount_command.h"
#include "settings/settings.h"

class MountPage : public Page {
 public:
  MountPage();
  ~MountPage() override;

  void SetLogonSessionId(uint32_t id);
  void SetExploreOption(bool on);
  // Fills the drive-letter list with the free letters (the first selected)
  // and sets the up-down position to the applied timeout.
  void Refresh();
  void SetVolumePath(const std::string& path);
  // Selects the drive-letter item whose text is exactly `drive`; without one
  // the selection stays.
  void SelectDriveText(const std::string& drive);
  // Writes the page's values back to its controls in order (volume path,
  // header path, password, Read Only, idle timeout); on a failure it beeps,
  // puts the focus on the failing control, writes no further control and
  // returns false.
  bool WriteFieldsToControls();
  // Stops the automatic dismount's timer (the exit sequence's first step).
  void StopTimer();
  RecentlyMountedList& RecentList();
  void SetLastDirectory(const std::string& dir);
  const std::string& LastDirectory() const;

  // The applied idle timeout and whether the minute timer runs.
  const AutoDismountState& AutoDismount() const { return state_.autoDismount; }

 protected:
  UINT TemplateId() const override;
  bool ProcessPageMessage(const WindowMessage& m, LRESULT& result) override;

 private:
  // The page's one-minute timer: id 1 on the page's window.
  class PageTimer : public MinuteTimer {
   public:
    explicit PageTimer(MountPage& page) : page_(page) {}
    bool Start() override;
    void Stop() override;

   private:
    MountPage& page_;
  };

  bool OnInitDialog(HWND focus, LPARAM param);
  void OnBrowseVolume(UINT id, UINT code, HWND control);
  void OnBrowseHeader(UINT id, UINT code, HWND control);
  void OnMount(UINT id, UINT code, HWND control);
  void OnApply(UINT id, UINT code, HWND control);
  void OnTimer(UINT_PTR id);

  void Browse(int editId, const char* filter, const char* defaultExtension);
  // Reads the controls into the state (the password only for a mount, which
  // wipes it afterwards); a timeout that is not a number reads as 0 with a
  // beep and the focus on its edit.
  void ReadControls(bool withPassword);
  void ShowTimeout(uint32_t minutes);
  void Explore(char driveLetter) const;

  static const MessageMapEntry<MountPage> kMessages[];

  MountPageState state_;
  // Not empty when the password read for a mount had letters this system
  // cannot hold: what the success message adds (platform/password_text.h).
  std::string openedAsEarlierVersions_;
  bool explore_ = false;
  PageTimer timer_;
};
