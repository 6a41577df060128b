// The Create page: makes a new encrypted volume and its header file.
#pragma once
#include <string>

#include "app/pages/page.h"

class CreatePage : public Page {
 public:
  ~CreatePage() override;

  void SetLastDirectory(const std::string& dir);
  std::string LastDirectory() const;
  // Cancels a running creation (its partial files are removed) and waits for
  // the worker; returns at once when none runs.
  void CancelCreation();

 protected:
  UINT TemplateId() const override;
  bool ProcessPageMessage(const WindowMessage& m, LRESULT& result) override;

 private:
  std::string lastDirectory_;
};
