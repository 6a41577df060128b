// The About page: the product, its notice, the web link, help and support.
#pragma once
#include <string>

#include "app/pages/page.h"

class AboutPage : public Page {
 public:
  void SetHelpFilePath(const std::string& path);

 protected:
  UINT TemplateId() const override;
  bool ProcessPageMessage(const WindowMessage& m, LRESULT& result) override;

 private:
  std::string helpFile_;
};
