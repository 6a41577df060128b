// The Options page: the three option check boxes and the password change.
#pragma once
#include <array>
#include <string>
#include <utility>

#include "app/pages/page.h"
#include "settings/settings.h"

class OptionsPage : public Page {
 public:
  OptionFlags& Flags();
  // Shows the flags in the check boxes, discarding changes that were not
  // applied; a flag outside 0 to 2 is first set to 0.
  void WriteFlagsToControls();
  void SetToolsDirectory(const std::string& dir);
  const std::string& ToolsDirectory() const;

 protected:
  UINT TemplateId() const override;
  bool ProcessPageMessage(const WindowMessage& m, LRESULT& result) override;

 private:
  // Each check box and its flag, bound by control id.
  using Binding = std::array<std::pair<int, int32_t*>, 3>;
  Binding Bindings();

  bool OnInitDialog(HWND focus, LPARAM param);
  // Reads the check boxes into the flags; nothing else.
  void OnApplyChanges(UINT id, UINT code, HWND control);
  // Runs the Change Password dialog with a copy of the tools directory and
  // takes its directory back, whatever the result.
  void OnChangePassword(UINT id, UINT code, HWND control);

  static const MessageMapEntry<OptionsPage> kMessages[];

  OptionFlags flags_;
  std::string toolsDirectory_;
};
