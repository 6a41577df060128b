// The program's one top-level window: a fixed-size modeless dialog without
// a system caption, with the page list on the left, the page holder on the
// right, the help and minimize buttons in the top right corner, and the tray
// icon. Closing it in any way only hides it; the tray menu's "Exit" ends the
// program.
#pragma once
#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "app/pages/about_page.h"
#include "app/pages/create_page.h"
#include "app/pages/mount_page.h"
#include "app/pages/options_page.h"
#include "app/pages/status_page.h"
#include "app/tray_icon.h"
#include "driver/driver_port.h"
#include "driver/service.h"
#include "ui/image_button.h"
#include "ui/message_loop.h"
#include "ui/page_list.h"
#include "ui/window.h"

// The exit code of a run that ended through the tray menu's "Exit".
inline constexpr int kExitCommandCode = 32773;

// The pages, in page-list order.
enum PageIndex { kStatusPage = 0, kCreatePage, kMountPage, kOptionsPage, kAboutPage };

class MainWindow : public Dialog {
 public:
  MainWindow(DriverPort& port, ServicePort& services);
  ~MainWindow() override;

  // Creates the main dialog, hidden; null on failure.
  HWND Create();

  // Selects a page in the list and in the holder and brings the window to
  // the front.
  void BringUpPage(int index);

  // Inserts the recently mounted volumes and the mounted drives into the
  // tray menu's popup and enables "Exit" only while no drive is mounted.
  void PrepareTrayMenu(HMENU menu);

  int ActivePage() const { return holder_.ActiveIndex(); }
  HWND PageWindow(int index) const { return holder_.Page(index); }
  const TrayIcon& Tray() const { return tray_; }
  // The file system the Create page's creations write to; the system's
  // unless replaced.
  void SetCreationFileSystem(FileSystem& files) { createPage_.SetFileSystem(files); }

 protected:
  bool ProcessWindowMessage(const WindowMessage& m, LRESULT& result) override;

 private:
  // The tray icon whose menu the main window fills.
  class OwnTray : public TrayIcon {
   public:
    explicit OwnTray(MainWindow& owner) : owner_(owner) {}

   protected:
    void PrepareMenu(HMENU menu) override { owner_.PrepareTrayMenu(menu); }

   private:
    MainWindow& owner_;
  };

  class NoIdleWork : public IdleHandler {
   public:
    void OnIdle() override {}
  };

  bool OnInitDialog(HWND focus, LPARAM);
  void ChooseArtScale();
  void InitBackground();
  void InitCaptionButtons();
  void InitPageList();
  void FitPageListToEntries();
  void InitPages();
  void AddTray();
  void LoadSettings();
  void SaveSettings();

  void OnPageSelected(UINT id, UINT code, HWND control);
  void PreparePage(int index);
  void PrepareMountPage();
  void OnIgnore(UINT id, UINT code, HWND control);
  void OnHide(UINT id, UINT code, HWND control);
  void OnHelp(UINT id, UINT code, HWND control);
  void OnShowStatus(UINT id, UINT code, HWND control);
  void OnMountVolume(UINT id, UINT code, HWND control);
  void OnMountRecent(UINT id, UINT code, HWND control);
  void OnDismountAllVolumes(UINT id, UINT code, HWND control);
  void OnDismountDrive(UINT id, UINT code, HWND control);
  void OnExit(UINT id, UINT code, HWND control);
  HBRUSH OnDialogColor(HDC dc, HWND control);
  void OnLeftButtonDown(UINT keys, POINT client);
  LRESULT OnQueryEndSession(WPARAM, LPARAM);
  LRESULT OnEndSession(WPARAM ending, LPARAM);
  void PressStatusButton(int id);

  DriverPort& port_;
  ServicePort& services_;

  OwnTray tray_{*this};
  DialogMessageFilter messageFilter_;
  NoIdleWork idleHandler_;
  ImageButton helpButton_;
  ImageButton minimizeButton_;
  int artScale_ = 0;  // index into kArtScales
  HBRUSH background_ = nullptr;
  HIMAGELIST pagePictures_ = nullptr;
  HIMAGELIST pagePicturesSelected_ = nullptr;
  HICON bigIcon_ = nullptr;
  HICON smallIcon_ = nullptr;
  HICON legacyTrayIcon_ = nullptr;
  PageListBox pageList_;
  std::string appDirectory_;
  std::string helpFile_;
  int32_t installedDriver_ = 0;
  uint32_t logonSessionId_ = 0;  // from the process token, 0 when unreadable
  PageHolder holder_;
  StatusPage statusPage_;
  CreatePage createPage_;
  MountPage mountPage_;
  OptionsPage optionsPage_;
  AboutPage aboutPage_;

  // The drives the tray menu listed when it last opened, in item order.
  std::vector<char> menuDrives_;
};

// Creates the main window, shows it and runs the thread's message loop until
// WM_QUIT; returns its code (0 when the window could not be created).
int RunMainWindow();
