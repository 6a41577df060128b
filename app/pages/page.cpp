#include "app/pages/page.h"

#include "crypto/wipe.h"
#include "resources/resource.h"
#include "ui/art_scale.h"
#include "ui/scaled_art.h"

namespace {

constexpr COLORREF kPageColor = RGB(217, 217, 217);

// The banner: the page's first control, a picture at 4, 0, 267, 18 dialog
// units; 400 x 30 pixels at 96 DPI.
constexpr RECT kBannerUnits = {4, 0, 4 + 267, 0 + 18};
constexpr int kBannerWidth = 400;

UINT BannerOfTemplate(UINT templateId) {
  switch (templateId) {
    case IDD_STATUS_PAGE:
      return IDB_BANNER_STATUS;
    case IDD_CREATE_PAGE:
      return IDB_BANNER_CREATE;
    case IDD_MOUNT_PAGE:
      return IDB_BANNER_MOUNT;
    case IDD_OPTIONS_PAGE:
      return IDB_BANNER_OPTIONS;
    case IDD_ABOUT_PAGE:
      return IDB_BANNER_ABOUT;
    default:
      return 0;
  }
}

}  // namespace

Page::~Page() {
  if (background_ != nullptr) DeleteObject(background_);
  if (banner_ != nullptr) DeleteObject(banner_);
}

// The template's picture has its size at 96 DPI; the banner is shown at the
// size its rectangle has with this dialog font and display scaling, from the
// art drawn nearest to it.
void Page::FitBanner() {
  const UINT bitmap = BannerOfTemplate(TemplateId());
  const HWND picture = GetWindow(Handle(), GW_CHILD);
  if (bitmap == 0 || picture == nullptr) return;
  RECT place = kBannerUnits;
  MapDialogRect(Handle(), &place);
  const int width = place.right - place.left;
  const int height = place.bottom - place.top;
  const HBITMAP fitted =
      FitBitmap(LoadArtBitmap(bitmap, NearestArtScale(width, kBannerWidth)), width, height);
  if (fitted == nullptr) return;
  const auto old = reinterpret_cast<HBITMAP>(
      SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(fitted)));
  if (old != nullptr && old != fitted) DeleteObject(old);
  if (banner_ != nullptr) DeleteObject(banner_);
  banner_ = fitted;
}

HWND Page::Create(HWND parent) { return CreateModeless(TemplateId(), parent); }

bool Page::ProcessPageMessage(const WindowMessage&, LRESULT&) { return false; }

bool Page::ProcessWindowMessage(const WindowMessage& m, LRESULT& result) {
  switch (m.message) {
    case WM_INITDIALOG:
      if (background_ == nullptr) background_ = CreateSolidBrush(kPageColor);
      FitBanner();
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

PasswordBytes ControlPassword(HWND control) {
  std::u16string text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, u'\0');
  const int length = GetWindowTextW(control, reinterpret_cast<wchar_t*>(text.data()),
                                    static_cast<int>(text.size()));
  PasswordBytes password = PasswordFromUtf16(
      std::u16string_view(text.data(), length > 0 ? static_cast<size_t>(length) : 0), GetACP());
  SecureWipe(text.data(), text.size() * sizeof(char16_t));
  return password;
}

std::string SystemCodePageText() {
  return "on this system (code page " + std::to_string(GetACP()) + ")";
}

void WipeString(std::string& text) {
  SecureWipe(text.data(), text.size());
  text.clear();
}
