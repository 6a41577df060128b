#include "app/pages/page.h"

#include "crypto/wipe.h"

namespace {

constexpr COLORREF kPageColor = RGB(217, 217, 217);

}  // namespace

Page::~Page() {
  if (background_ != nullptr) DeleteObject(background_);
}

HWND Page::Create(HWND parent) { return CreateModeless(TemplateId(), parent); }

bool Page::ProcessPageMessage(const WindowMessage&, LRESULT&) { return false; }

bool Page::ProcessWindowMessage(const WindowMessage& m, LRESULT& result) {
  switch (m.message) {
    case WM_INITDIALOG:
      if (background_ == nullptr) background_ = CreateSolidBrush(kPageColor);
      break;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC: {
      const HDC dc = reinterpret_cast<HDC>(m.wParam);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, RGB(0, 0, 0));
      result = reinterpret_cast<LRESULT>(background_);
      return true;
    }
    case WM_DESTROY: {
      // The brush goes with the window, after the page's own handlers.
      const bool taken = ProcessPageMessage(m, result);
      DeleteBrush();
      return taken;
    }
    default:
      break;
  }
  return ProcessPageMessage(m, result);
}

void Page::DeleteBrush() {
  if (background_ != nullptr) DeleteObject(background_);
  background_ = nullptr;
}

std::string ControlText(HWND control) {
  std::string text(static_cast<size_t>(GetWindowTextLengthA(control)) + 1, '\0');
  const int length = GetWindowTextA(control, text.data(), static_cast<int>(text.size()));
  text.resize(length > 0 ? static_cast<size_t>(length) : 0);
  return text;
}

void WipeString(std::string& text) {
  SecureWipe(text.data(), text.size());
  text.clear();
}
