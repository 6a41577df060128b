// The About page: the product and its version, the notice line, the web
// site as a live link, and the Help and Support buttons.
#pragma once
#include <string>

#include "app/pages/page.h"
#include "ui/hyperlink.h"

// The vendor's web site, the target of the link (whose label is the
// control's text), and its support web page, opened by "&Support".
inline constexpr char kWebAddress[] = "https://www.kestrane.example/velmorcrypt";
inline constexpr char kSupportAddress[] = "https://www.kestrane.example/velmorcrypt/support";

class AboutPage : public Page {
 public:
  // The help file that "&Help" opens.
  void SetHelpFilePath(const std::string& path);

  const HyperLink& WebLink() const { return webLink_; }

 protected:
  UINT TemplateId() const override;
  bool ProcessPageMessage(const WindowMessage& m, LRESULT& result) override;

 private:
  bool OnInitDialog(HWND focus, LPARAM param);
  void OnHelp(UINT id, UINT code, HWND control);
  void OnSupport(UINT id, UINT code, HWND control);

  static const MessageMapEntry<AboutPage> kMessages[];

  std::string helpFile_;
  HyperLink webLink_;
};
