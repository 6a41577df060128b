#include "ui/hyperlink.h"
// after windows.h
#include <commctrl.h>
#include <shellapi.h>

#include <cstring>
#include <new>

#include "settings/registry_key.h"
#include "ui/color_text.h"

namespace {

constexpr char kBrowserSettingsKey[] = "Software\\Microsoft\\Internet Explorer\\Settings";

std::unique_ptr<char[]> CopyText(const char* text) {
  const size_t size = std::strlen(text) + 1;
  std::unique_ptr<char[]> copy(new (std::nothrow) char[size]);
  if (copy) std::memcpy(copy.get(), text, size);
  return copy;
}

// A colour value of the browser's settings key, if it is usable.
void ReadColor(const RegistryKey& key, const char* name, COLORREF& colour) {
  char buffer[kColorValueBufferSize] = {};
  DWORD length = 0;
  DWORD type = 0;
  if (!key.ReadValue(name, buffer, sizeof buffer, &length, &type)) return;
  if (const auto rgb = ParseColorValue(type, buffer, length)) {
    colour = RGB(rgb->red, rgb->green, rgb->blue);
  }
}

UINT AlignmentFormat(HWND hwnd) {
  const LONG_PTR style = GetWindowLongPtrA(hwnd, GWL_STYLE) & SS_TYPEMASK;
  if (style == SS_CENTER) return DT_CENTER;
  if (style == SS_RIGHT) return DT_RIGHT;
  return DT_LEFT;
}

}  // namespace

HyperLink::~HyperLink() {
  if (linkFont_ != nullptr) DeleteObject(linkFont_);
}

bool HyperLink::Attach(HWND window) {
  if (!Window::Attach(window)) return false;

  char className[16] = {};
  GetClassNameA(window, className, sizeof className);
  if (lstrcmpiA(className, "static") == 0) {
    SetWindowLongPtrA(window, GWL_STYLE, GetWindowLongPtrA(window, GWL_STYLE) | SS_NOTIFY);
  }
  cursor_ = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_HAND));

  normalFont_ = reinterpret_cast<HFONT>(SendMessageA(GetParent(window), WM_GETFONT, 0, 0));
  if (normalFont_ == nullptr) normalFont_ = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
  LOGFONTA font{};
  if (GetObjectA(normalFont_, sizeof font, &font) != 0) {
    font.lfUnderline = TRUE;
    linkFont_ = CreateFontIndirectA(&font);
  }

  toolTip_ = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window, nullptr,
                             ModuleInstance(), nullptr);

  if (!label_) {
    const int length = GetWindowTextLengthA(window);
    if (length > 0) {
      std::unique_ptr<char[]> text(new (std::nothrow) char[length + 1]);
      if (text) {
        GetWindowTextA(window, text.get(), length + 1);
        SetLabel(text.get());
      }
    }
  }
  ComputeLinkRect();
  if (!hyperlink_ && label_) SetHyperLink(label_.get());
  ReadColorsFromRegistry();
  return true;
}

bool HyperLink::SetLabel(const char* text) {
  label_.reset();
  label_ = CopyText(text);
  if (!label_) return false;
  ComputeLinkRect();
  SetWindowTextA(Handle(), label_.get());
  return true;
}

bool HyperLink::SetHyperLink(const char* target) {
  hyperlink_.reset();
  hyperlink_ = CopyText(target);
  if (!hyperlink_) return false;
  if (!label_) ComputeLinkRect();
  if (toolTip_ != nullptr) {
    SendMessageA(toolTip_, TTM_ACTIVATE, TRUE, 0);
    TTTOOLINFOA tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = Handle();
    tool.uId = 1;
    tool.rect = linkRect_;
    tool.lpszText = hyperlink_.get();
    SendMessageA(toolTip_, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageA(toolTip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  }
  return true;
}

void HyperLink::ComputeLinkRect() {
  const char* text = ShownText();
  RECT client;
  GetClientRect(Handle(), &client);
  RECT r = client;
  if (text != nullptr && Handle() != nullptr) {
    const HDC dc = GetDC(Handle());
    const HGDIOBJ old = SelectObject(dc, linkFont_ ? linkFont_ : normalFont_);
    DrawTextA(dc, text, -1, &r, DT_WORDBREAK | DT_CALCRECT);
    SelectObject(dc, old);
    ReleaseDC(Handle(), dc);
  }
  const UINT align = AlignmentFormat(Handle());
  if (align == DT_CENTER) OffsetRect(&r, (client.right - r.right) / 2, 0);
  if (align == DT_RIGHT) OffsetRect(&r, client.right - r.right, 0);
  linkRect_ = r;
}

void HyperLink::ReadColorsFromRegistry() {
  RegistryKey key;
  if (!key.Open(HKEY_CURRENT_USER, kBrowserSettingsKey, KEY_READ | KEY_WRITE)) return;
  ReadColor(key, "Anchor Color", linkColor_);
  ReadColor(key, "Anchor Color Visited", visitedColor_);
}

bool HyperLink::Open() {
  if (!hyperlink_) return false;
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteA(nullptr, "open", hyperlink_.get(), nullptr, nullptr, SW_SHOWNORMAL));
  if (result <= 32) return false;
  visited_ = true;
  InvalidateRect(Handle(), nullptr, TRUE);
  return true;
}

bool HyperLink::PointerOnLink() const {
  POINT p;
  GetCursorPos(&p);
  ScreenToClient(Handle(), &p);
  return PtInRect(&linkRect_, p) != 0;
}

bool HyperLink::ProcessWindowMessage(const WindowMessage& m, LRESULT& result) {
  static constexpr MessageMapEntry<HyperLink> kMap[] = {
      OnMessage<WM_MOUSEMOVE, &HyperLink::RelayToToolTip>(),
      OnMessage<WM_LBUTTONDOWN, &HyperLink::RelayToToolTip>(),
      OnMessage<WM_LBUTTONUP, &HyperLink::RelayToToolTip>(),
      OnMessage<WM_RBUTTONDOWN, &HyperLink::RelayToToolTip>(),
      OnMessage<WM_RBUTTONUP, &HyperLink::RelayToToolTip>(),
      OnMessage<WM_MBUTTONDOWN, &HyperLink::RelayToToolTip>(),
      OnMessage<WM_MBUTTONUP, &HyperLink::RelayToToolTip>(),
      OnMessage<WM_PAINT, &HyperLink::OnPaint>(),
      OnMessage<WM_ERASEBKGND, &HyperLink::OnEraseBackground>(),
      OnMessage<WM_MOUSEMOVE, &HyperLink::OnMouseMove>(),
      OnMessage<WM_SETCURSOR, &HyperLink::OnSetCursor>(),
      OnMessage<WM_LBUTTONDOWN, &HyperLink::OnLeftButtonDown>(),
      OnMessage<WM_LBUTTONUP, &HyperLink::OnLeftButtonUp>(),
      OnMessage<WM_GETDLGCODE, &HyperLink::OnGetDlgCode>(),
      OnMessage<WM_CHAR, &HyperLink::OnChar>(),
      OnMessage<WM_SETFOCUS, &HyperLink::OnFocusChange>(),
      OnMessage<WM_KILLFOCUS, &HyperLink::OnFocusChange>(),
      OnMessage<WM_ENABLE, &HyperLink::OnEnable>(),
      OnMessage<WM_SETFONT, &HyperLink::OnSetFont>(),
      OnMessage<WM_GETFONT, &HyperLink::OnGetFont>(),
      OnMessage<WM_DESTROY, &HyperLink::OnDestroy>(),
  };
  return DispatchMessageMap<HyperLink>(*this, kMap, m, result);
}

bool HyperLink::RelayToToolTip(const WindowMessage& m, LRESULT&) {
  RelayToToolTipWindow(toolTip_, m);
  return false;  // relaying never takes the message
}

void HyperLink::OnPaint() {
  PAINTSTRUCT paint;
  const HDC dc = BeginPaint(Handle(), &paint);
  const auto brush = reinterpret_cast<HBRUSH>(SendMessageA(GetParent(Handle()), WM_CTLCOLORSTATIC,
                                                           reinterpret_cast<WPARAM>(dc),
                                                           reinterpret_cast<LPARAM>(Handle())));
  if (brush != nullptr) {
    RECT client;
    GetClientRect(Handle(), &client);
    FillRect(dc, &client, brush);
  }
  SetBkMode(dc, TRANSPARENT);
  const COLORREF colour = !IsWindowEnabled(Handle()) ? GetSysColor(COLOR_GRAYTEXT)
                          : visited_                 ? visitedColor_
                                                     : linkColor_;
  const COLORREF oldColour = SetTextColor(dc, colour);
  const HGDIOBJ oldFont = SelectObject(dc, linkFont_ ? linkFont_ : normalFont_);
  if (const char* text = ShownText()) {
    RECT r = linkRect_;
    DrawTextA(dc, text, -1, &r, DT_WORDBREAK | AlignmentFormat(Handle()));
  }
  if (GetFocus() == Handle()) DrawFocusRect(dc, &linkRect_);
  SetTextColor(dc, oldColour);
  SelectObject(dc, oldFont);
  EndPaint(Handle(), &paint);
}

bool HyperLink::OnEraseBackground(HDC) { return true; }

void HyperLink::OnMouseMove(UINT, POINT client) {
  if (hyperlink_ && PtInRect(&linkRect_, client)) SetCursor(cursor_);
}

bool HyperLink::OnSetCursor(HWND, UINT, UINT) {
  if (!hyperlink_ || !PointerOnLink()) return false;  // the static's own pointer
  SetCursor(cursor_);
  return true;
}

void HyperLink::OnLeftButtonDown(UINT, POINT client) {
  if (!PtInRect(&linkRect_, client)) return;
  SetFocus(Handle());
  SetCapture(Handle());
}

void HyperLink::OnLeftButtonUp(UINT, POINT client) {
  if (GetCapture() != Handle()) return;
  ReleaseCapture();
  if (PtInRect(&linkRect_, client)) Open();
}

UINT HyperLink::OnGetDlgCode(const MSG*) { return DLGC_WANTCHARS; }

void HyperLink::OnChar(UINT code, UINT) {
  if (code == VK_RETURN || code == VK_SPACE) Open();
}

void HyperLink::OnFocusChange(HWND) { InvalidateRect(Handle(), nullptr, TRUE); }

void HyperLink::OnEnable(bool) { InvalidateRect(Handle(), nullptr, TRUE); }

void HyperLink::OnSetFont(HFONT font, bool redraw) {
  normalFont_ = font;
  if (redraw) InvalidateRect(Handle(), nullptr, TRUE);
}

HFONT HyperLink::OnGetFont() { return normalFont_; }

void HyperLink::OnDestroy() {
  if (toolTip_ != nullptr) DestroyWindow(toolTip_);
  toolTip_ = nullptr;
  DefaultProcessing({Handle(), WM_DESTROY, 0, 0});
}
