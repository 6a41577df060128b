// The Change Password dialog: names a volume file or an external header
// block, takes the current password and the new one twice, and re-seals the
// header. It runs modally for one change; its last directory is lent by the
// opener and read back when the dialog has closed, whatever the result.
#pragma once
#include <string>

#include "ui/window.h"

class ChangePasswordDialog : public Dialog {
 public:
  ~ChangePasswordDialog() override;

  void SetLastDirectory(const std::string& dir) { lastDirectory_ = dir; }
  const std::string& LastDirectory() const { return lastDirectory_; }

  // Runs the dialog modally, owned by `owner`: 1 after a successful change,
  // 2 when cancelled, -1 when the dialog could not be made.
  INT_PTR Run(HWND owner);

 protected:
  bool ProcessWindowMessage(const WindowMessage& m, LRESULT& result) override;

 private:
  bool OnInitDialog(HWND focus, LPARAM param);
  void OnBrowse(UINT id, UINT code, HWND control);
  void OnApply(UINT id, UINT code, HWND control);
  void OnCancel(UINT id, UINT code, HWND control);

  static const MessageMapEntry<ChangePasswordDialog> kMessages[];

  std::string lastDirectory_;
};
