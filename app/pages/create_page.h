// The Create page: makes a new encrypted volume (and, optionally, an external
// header block) of a chosen size, algorithm and password.
//
// "&Create" gathers the fields on the interface thread and hands them to a
// worker thread that runs the creation engine. The worker touches no window
// but the progress bar, and that only through posted messages; when it ends
// it posts kMsgCreationFinished to the page, whose handler (on the interface
// thread) joins it, enables the button again and shows the outcome in a
// message box owned by the page. So the interface thread never waits on the
// worker while the worker waits on it, and CancelCreation can always join.
#pragma once
#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/pages/page.h"
#include "platform/file.h"
#include "volume/create_volume.h"

class CreatePage : public Page {
 public:
  ~CreatePage() override;

  void SetLastDirectory(const std::string& dir);
  std::string LastDirectory() const;
  // Cancels a running creation (its partial files are removed) and waits for
  // the worker; returns at once when none runs. Nothing is shown for it.
  void CancelCreation();
  // The file system creations write to; the system's unless replaced.
  void SetFileSystem(FileSystem& files) { files_ = &files; }

 protected:
  UINT TemplateId() const override;
  bool ProcessPageMessage(const WindowMessage& m, LRESULT& result) override;

 private:
  bool OnInitDialog(HWND focus, LPARAM param);
  void OnBrowseVolume(UINT id, UINT code, HWND control);
  void OnBrowseHeader(UINT id, UINT code, HWND control);
  void OnCreate(UINT id, UINT code, HWND control);
  LRESULT OnCreationFinished(WPARAM, LPARAM);

  void Browse(int editId, const char* filter, const char* defaultExtension);
  CreateVolumeInput ReadInput();
  // Joins the worker and takes its outcome, if it has ended.
  std::optional<CreateVolumeOutcome> TakeFinishedOutcome();

  static const MessageMapEntry<CreatePage> kMessages[];

  std::string lastDirectory_;
  FileSystem* files_ = &SystemFileSystem();
  std::thread worker_;
  std::atomic<bool> cancel_{false};
  std::mutex mutex_;  // guards finished_
  std::optional<CreateVolumeOutcome> finished_;
};
