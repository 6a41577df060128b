// The program's icon in the notification area: added once by the main
// window, removed when the object goes. Its callback message reaches the
// main window, which hands it to the icon as a component: a double click
// sends the main window the command of the menu's first item (its default
// item), the right button opens the menu (resource = the icon id) at the
// cursor, after the owner has filled it in PrepareMenu.
#pragma once
#include <windows.h>
// after windows.h
#include <shellapi.h>

#include "ui/window.h"

class TrayIcon : public MessageComponent {
 public:
  TrayIcon();
  virtual ~TrayIcon();
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // Puts the icon into the notification area for `owner`; false when the
  // shell refuses it (then nothing is removed at the end).
  bool AddTrayIcon(HWND owner, const char* tooltip, HICON icon, UINT iconId);
  // Takes the icon out again, if it was added.
  void RemoveTrayIcon();

  UINT CallbackMessage() const { return callbackMessage_; }
  bool IsInstalled() const { return installed_; }

  // The menu's x position for a cursor point: kept on a monitor, otherwise
  // clamped into the work area of the nearest monitor.
  static LONG AdjustMenuX(POINT cursor);

  bool ProcessComponentMessage(const WindowMessage& m, LRESULT& result) override;

 protected:
  // Called on the menu's popup just before it is shown.
  virtual void PrepareMenu(HMENU menu);

 private:
  void ShowMenu();
  void SendDefaultCommand();

  UINT callbackMessage_;
  NOTIFYICONDATAA data_{};
  bool installed_ = false;
};
