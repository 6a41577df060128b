#include "app/tray_icon.h"

#include <string.h>

namespace {

// The icon record in the size the shell has known since Windows 2000.
constexpr DWORD kIconRecordSize = 488;
static_assert(sizeof(NOTIFYICONDATAA) >= kIconRecordSize);

}  // namespace

TrayIcon::TrayIcon() : callbackMessage_(RegisterWindowMessageA("WM_TRAYICON")) {}

TrayIcon::~TrayIcon() { RemoveTrayIcon(); }

bool TrayIcon::AddTrayIcon(HWND owner, const char* tooltip, HICON icon, UINT iconId) {
  data_.cbSize = kIconRecordSize;
  data_.hWnd = owner;
  data_.uID = iconId;
  data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data_.uCallbackMessage = callbackMessage_;
  data_.hIcon = icon;
  strncpy(data_.szTip, tooltip, sizeof data_.szTip - 1);
  data_.szTip[sizeof data_.szTip - 1] = '\0';
  installed_ = Shell_NotifyIconA(NIM_ADD, &data_) != FALSE;
  return installed_;
}

void TrayIcon::RemoveTrayIcon() {
  if (!installed_) return;
  data_.hIcon = nullptr;
  Shell_NotifyIconA(NIM_DELETE, &data_);
  installed_ = false;
}

LONG TrayIcon::AdjustMenuX(POINT cursor) {
  if (MonitorFromPoint(cursor, MONITOR_DEFAULTTONULL) != nullptr) return cursor.x;
  const HMONITOR nearest = MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (nearest == nullptr || !GetMonitorInfoA(nearest, &info)) return cursor.x;
  if (cursor.x < info.rcWork.left) return info.rcWork.left;
  if (cursor.x > info.rcWork.right) return info.rcWork.right;
  return cursor.x;
}

bool TrayIcon::ProcessComponentMessage(const WindowMessage& m, LRESULT& result) {
  if (m.message != callbackMessage_ || callbackMessage_ == 0) return false;
  result = 0;
  if (m.wParam != data_.uID) return true;
  switch (LOWORD(m.lParam)) {
    case WM_RBUTTONUP:
      ShowMenu();
      break;
    case WM_LBUTTONDBLCLK:
      SendDefaultCommand();
      break;
    default:
      break;
  }
  return true;
}

void TrayIcon::PrepareMenu(HMENU) {}

void TrayIcon::ShowMenu() {
  const HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(data_.uID));
  if (menu == nullptr) return;
  const HMENU popup = GetSubMenu(menu, 0);
  if (popup != nullptr) {
    PrepareMenu(popup);
    POINT cursor{};
    GetCursorPos(&cursor);
    SetForegroundWindow(data_.hWnd);
    SetMenuDefaultItem(popup, 0, TRUE);
    TrackPopupMenu(popup, 0, AdjustMenuX(cursor), cursor.y, 0, data_.hWnd, nullptr);
    PostMessageA(data_.hWnd, WM_NULL, 0, 0);
  }
  DestroyMenu(menu);
}

void TrayIcon::SendDefaultCommand() {
  SetForegroundWindow(data_.hWnd);
  const HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(data_.uID));
  if (menu == nullptr) return;
  const HMENU popup = GetSubMenu(menu, 0);
  if (popup != nullptr) {
    SendMessageA(data_.hWnd, WM_COMMAND, GetMenuItemID(popup, 0), 0);
  }
  DestroyMenu(menu);
}
