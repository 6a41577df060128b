// The Options page: the three option check boxes and the password change.
#pragma once
#include <string>

#include "app/pages/page.h"
#include "settings/settings.h"

class OptionsPage : public Page {
 public:
  OptionFlags& Flags();
  // Shows the flags in the check boxes (discarding unapplied changes).
  void WriteFlagsToControls();
  void SetToolsDirectory(const std::string& dir);
  const std::string& ToolsDirectory() const;

 protected:
  UINT TemplateId() const override;
  bool ProcessPageMessage(const WindowMessage& m, LRESULT& result) override;

 private:
  OptionFlags flags_;
  std::string toolsDirectory_;
};
