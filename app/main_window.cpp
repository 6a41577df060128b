#include "app/main_window.h"

#include <algorithm>

#include "app/help.h"
#include "app/tray_menu.h"
#include "driver/dismount.h"
#include "driver/operations.h"
#include "driver/win32_port.h"
#include "resources/resource.h"
#include "settings/settings_store.h"
#include "ui/art_scale.h"
#include "ui/scaled_art.h"

namespace {

constexpr char kProductName[] = "Velmorcrypt Vozeri";
constexpr char kHelpFileName[] = "Velmorcrypt.chm";

// The caption buttons' strips: cells normal, pushed and lit.
constexpr int kHelpButtonCell = 36;
constexpr int kMinimizeButtonCell = 61;

HICON LoadIconOfSize(UINT icon, int widthMetric, int heightMetric) {
  return static_cast<HICON>(LoadImageA(ModuleInstance(), MAKEINTRESOURCEA(icon), IMAGE_ICON,
                                       GetSystemMetrics(widthMetric),
                                       GetSystemMetrics(heightMetric), 0));
}

// Windows XP (5.1) or later: the tray takes the program's own icon.
bool TrayTakesProgramIcon() {
  OSVERSIONINFOEXA version{};
  version.dwOSVersionInfoSize = sizeof version;
  version.dwMajorVersion = 5;
  version.dwMinorVersion = 1;
  version.wServicePackMajor = 0;
  DWORDLONG condition = 0;
  condition = VerSetConditionMask(condition, VER_MAJORVERSION, VER_GREATER_EQUAL);
  condition = VerSetConditionMask(condition, VER_MINORVERSION, VER_GREATER_EQUAL);
  condition = VerSetConditionMask(condition, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
  return VerifyVersionInfoA(&version, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                            condition) != FALSE;
}

// Centres a window on the desktop's work area, keeping it inside.
void CentreInWorkArea(HWND window) {
  RECT work{};
  RECT frame{};
  if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0) || !GetWindowRect(window, &frame)) {
    return;
  }
  const LONG width = frame.right - frame.left;
  const LONG height = frame.bottom - frame.top;
  LONG x = work.left + (work.right - work.left - width) / 2;
  LONG y = work.top + (work.bottom - work.top - height) / 2;
  if (x + width > work.right) x = work.right - width;
  if (y + height > work.bottom) y = work.bottom - height;
  if (x < work.left) x = work.left;
  if (y < work.top) y = work.top;
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void InsertMenuItems(HMENU menu, UINT before, const std::vector<TrayMenuItem>& items) {
  for (const TrayMenuItem& item : items) {
    if (item.id == 0) {
      InsertMenuA(menu, before, MF_BYCOMMAND | MF_SEPARATOR, 0, nullptr);
    } else {
      InsertMenuA(menu, before, MF_BYCOMMAND | MF_STRING, item.id, item.text.c_str());
    }
  }
}

}  // namespace

MainWindow::MainWindow(DriverPort& port, ServicePort& services)
    : port_(port), services_(services), statusPage_(port) {
  // The tray icon takes its callback message from what the window's own
  // handlers leave.
  AddComponent(&tray_);
}

MainWindow::~MainWindow() {
  if (MessageLoop* loop = MessageLoop::ForThread()) {
    loop->RemoveMessageFilter(&messageFilter_);
    loop->RemoveIdleHandler(&idleHandler_);
  }
  if (Handle() != nullptr) {
    createPage_.CancelCreation();
    DestroyWindow(Handle());
  }
  tray_.RemoveTrayIcon();
  if (pagePictures_ != nullptr) ImageList_Destroy(pagePictures_);
  if (pagePicturesSelected_ != nullptr) ImageList_Destroy(pagePicturesSelected_);
  if (background_ != nullptr) DeleteObject(background_);
  for (HICON icon : {bigIcon_, smallIcon_, legacyTrayIcon_}) {
    if (icon != nullptr) DestroyIcon(icon);
  }
}

HWND MainWindow::Create() { return CreateModeless(IDD_MAIN, nullptr); }

bool MainWindow::ProcessWindowMessage(const WindowMessage& m, LRESULT& result) {
  // The page switch comes first: the list's selection change, whatever its id.
  static constexpr MessageMapEntry<MainWindow> kMap[] = {
      OnMessage<WM_INITDIALOG, &MainWindow::OnInitDialog>(),
      OnCommandCode<LBN_SELCHANGE, &MainWindow::OnPageSelected>(),
      OnCommand<IDOK, &MainWindow::OnIgnore>(),
      OnCommand<IDCANCEL, &MainWindow::OnHide>(),
      OnCommand<IDC_MINIMIZE_BUTTON, &MainWindow::OnHide>(),
      OnCommand<IDC_HELP_BUTTON, &MainWindow::OnHelp>(),
      OnCommand<ID_TRAY_SHOW, &MainWindow::OnShowStatus>(),
      OnCommand<ID_TRAY_EXIT, &MainWindow::OnExit>(),
      OnCommand<ID_TRAY_DISMOUNT_ALL, &MainWindow::OnDismountAllVolumes>(),
      OnCommand<ID_TRAY_MOUNT_VOLUME, &MainWindow::OnMountVolume>(),
      OnCommandRange<ID_TRAY_RECENT_FIRST, ID_TRAY_RECENT_LAST, &MainWindow::OnMountRecent>(),
      OnCommandRange<ID_TRAY_DRIVE_FIRST, ID_TRAY_DRIVE_LAST, &MainWindow::OnDismountDrive>(),
      OnMessage<WM_CTLCOLORDLG, &MainWindow::OnDialogColor>(),
      OnMessage<WM_LBUTTONDOWN, &MainWindow::OnLeftButtonDown>(),
      OnMessage<WM_QUERYENDSESSION, &MainWindow::OnQueryEndSession>(),
      OnMessage<WM_ENDSESSION, &MainWindow::OnEndSession>(),
  };
  return DispatchMessageMap<MainWindow>(*this, kMap, m, result);
}

// ---- Initialisation ----

bool MainWindow::OnInitDialog(HWND, LPARAM) {
  const HWND window = Handle();
  CentreInWorkArea(window);

  bigIcon_ = LoadIconOfSize(IDI_APP, SM_CXICON, SM_CYICON);
  smallIcon_ = LoadIconOfSize(IDI_APP, SM_CXSMICON, SM_CYSMICON);
  legacyTrayIcon_ = LoadIconOfSize(IDI_TRAY_LEGACY, SM_CXSMICON, SM_CYSMICON);
  SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
  SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
  SetWindowTextA(window, kProductName);

  ChooseArtScale();
  InitBackground();
  InitCaptionButtons();
  InitPageList();
  holder_.Attach(GetDlgItem(window, IDC_PAGE_HOLDER));
  InitPages();

  appDirectory_ = AppDirectory();
  helpFile_ = appDirectory_ + kHelpFileName;
  aboutPage_.SetHelpFilePath(helpFile_);
  createPage_.SetLastDirectory(appDirectory_);
  mountPage_.SetLastDirectory(appDirectory_);
  optionsPage_.SetToolsDirectory(appDirectory_);

  if (MessageLoop* loop = MessageLoop::ForThread()) {
    messageFilter_.SetDialog(window);
    loop->AddMessageFilter(&messageFilter_);
    loop->AddIdleHandler(&idleHandler_);
  }
  AddTray();

  // The driver's service is made for the driver file in the current folder.
  SetCurrentDirectoryA(appDirectory_.c_str());
  installedDriver_ = 0;
  DriverVersion version{};
  if (!GetDriverVersion(port_, &version)) {
    installedDriver_ = 1;
    InstallDriver(port_, services_);
  }

  if (GetLogonSessionId(&logonSessionId_)) {
    statusPage_.SetLogonSessionId(logonSessionId_);
    mountPage_.SetLogonSessionId(logonSessionId_);
  }

  LoadSettings();
  statusPage_.Refresh();
  return true;
}

// The art drawn nearest to the window's size, which the dialog font and the
// display scaling decide: 501 x 382 pixels at 96 DPI with the font the layout
// was made for. A font can widen the window more than it heightens it; the
// smaller scale keeps the page list's entries inside the window.
void MainWindow::ChooseArtScale() {
  RECT client{};
  GetClientRect(Handle(), &client);
  artScale_ = std::min(NearestArtScale(client.right, kBackgroundWidth),
                       NearestArtScale(client.bottom, kBackgroundHeight));
}

// The background picture stretched to the whole client area in nine parts,
// so that the pattern brush never repeats it. The brush keeps its own copy.
void MainWindow::InitBackground() {
  RECT client{};
  GetClientRect(Handle(), &client);
  const int scale = kArtScales[static_cast<size_t>(artScale_)];
  const HBITMAP picture = LoadArtBitmap(IDB_BACKGROUND, artScale_);
  if (picture == nullptr) return;
  const int frame = ScaledSize(kBackgroundFrame, scale);
  const HBITMAP fitted =
      StretchInNineParts(picture, client.right, client.bottom, ScaledSize(kBackgroundTitle, scale),
                         ScaledSize(kBackgroundBand, scale), frame, frame);
  DeleteObject(picture);
  if (fitted == nullptr) return;
  background_ = CreatePatternBrush(fitted);
  DeleteObject(fitted);
}

void MainWindow::InitCaptionButtons() {
  const struct {
    ImageButton& button;
    UINT bitmap;
    int cell;
    int id;
  } buttons[] = {{helpButton_, IDB_HELP_BUTTON, kHelpButtonCell, IDC_HELP_BUTTON},
                 {minimizeButton_, IDB_MINIMIZE_BUTTON, kMinimizeButtonCell, IDC_MINIMIZE_BUTTON}};
  for (const auto& b : buttons) {
    b.button.SetImageList(LoadArtStrip(b.bitmap, artScale_, b.cell));
    b.button.SetCells(0, 1, 2, -1);
    b.button.SetExtendedStyle(ImageButton::kHoverMode | ImageButton::kSizeToPicture);
    b.button.Attach(GetDlgItem(Handle(), b.id));
  }
}

void MainWindow::InitPageList() {
  // The pictures, the entries' height and the pictures' inset grow with the
  // art's scale.
  const int scale = kArtScales[static_cast<size_t>(artScale_)];
  pagePictures_ = LoadArtStrip(IDB_PAGE_PICTURES, artScale_, kPageNavigatorCellSize);
  pagePicturesSelected_ =
      LoadArtStrip(IDB_PAGE_PICTURES_SELECTED, artScale_, kPageNavigatorCellSize);
  pageList_.Attach(GetDlgItem(Handle(), IDC_PAGE_LIST));
  pageList_.SetImageLists(pagePictures_, pagePicturesSelected_);
  SendMessageA(pageList_.Handle(), LB_SETITEMHEIGHT, 0,
               ScaledSize(kPageNavigatorItemHeight, scale));
  PageListStyle style = kPageNavigatorStyle;
  style.contentInsetY = ScaledSize(style.contentInsetY, scale);
  pageList_.SetStyle(style);
  for (const PageListItem& item : PageNavigatorItems()) pageList_.AddItem(item);
  SendMessageA(pageList_.Handle(), LB_SETCURSEL, 0, 0);
  FitPageListToEntries();
}

// The list's height comes from the dialog font: with a font shorter than the
// one the template was laid out for (Wine's stand-in for "MS Shell Dlg"), the
// five entries would not fit and the last one would need scrolling. The list
// then grows, at most to the margin it keeps on its left above the window's
// bottom edge, so that the frame stays visible.
void MainWindow::FitPageListToEntries() {
  const HWND list = pageList_.Handle();
  RECT client{};
  RECT frame{};
  RECT window{};
  GetClientRect(list, &client);
  GetWindowRect(list, &frame);
  GetClientRect(Handle(), &window);
  const LONG itemHeight = static_cast<LONG>(SendMessageA(list, LB_GETITEMHEIGHT, 0, 0));
  const LONG missing = kPageCount * itemHeight - client.bottom;
  if (missing <= 0) return;
  MapWindowPoints(nullptr, Handle(), reinterpret_cast<POINT*>(&frame), 2);
  const LONG height = std::min(frame.bottom + missing, window.bottom - frame.left) - frame.top;
  SetWindowPos(list, nullptr, 0, 0, frame.right - frame.left, height,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::InitPages() {
  Page* const pages[] = {&statusPage_, &createPage_, &mountPage_, &optionsPage_, &aboutPage_};
  for (Page* page : pages) page->Create(holder_.Handle());
  for (Page* page : pages) holder_.AddPage(page->Handle());
  holder_.SetActivePage(kStatusPage);
}

void MainWindow::AddTray() {
  const HICON icon = TrayTakesProgramIcon() ? smallIcon_ : legacyTrayIcon_;
  tray_.AddTrayIcon(Handle(), kProductName, icon, IDR_TRAY_MENU);
}

// ---- Settings ----

void MainWindow::LoadSettings() {
  OptionFlags& flags = optionsPage_.Flags();
  LoadOptionFlags(flags);
  if (flags.RememberMountedDrives != 0) LoadRecentlyMountedList(mountPage_.RecentList());
  if (flags.RememberLastDirectory != 0) {
    std::string createDirectory = createPage_.LastDirectory();
    std::string mountDirectory = mountPage_.LastDirectory();
    std::string toolsDirectory = optionsPage_.ToolsDirectory();
    LoadLastDirectories(createDirectory, mountDirectory, toolsDirectory);
    createPage_.SetLastDirectory(createDirectory);
    mountPage_.SetLastDirectory(mountDirectory);
    optionsPage_.SetToolsDirectory(toolsDirectory);
  }
}

void MainWindow::SaveSettings() {
  const OptionFlags& flags = optionsPage_.Flags();
  SaveOptionFlags(flags);
  if (flags.RememberMountedDrives != 0) {
    SaveRecentlyMountedList(mountPage_.RecentList());
  } else {
    ClearRecentlyMountedList();
  }
  SaveLastDirectories(flags.RememberLastDirectory, createPage_.LastDirectory(),
                      mountPage_.LastDirectory(), optionsPage_.ToolsDirectory(), appDirectory_);
}

// ---- Pages ----

void MainWindow::OnPageSelected(UINT, UINT, HWND) {
  const auto index = static_cast<int>(SendMessageA(pageList_.Handle(), LB_GETCURSEL, 0, 0));
  if (index < 0) return;
  PreparePage(index);
  holder_.SetActivePage(index);
}

void MainWindow::PreparePage(int index) {
  switch (index) {
    case kStatusPage:
      statusPage_.Refresh();
      break;
    case kMountPage:
      PrepareMountPage();
      break;
    case kOptionsPage:
      optionsPage_.WriteFlagsToControls();
      break;
    default:
      break;
  }
}

void MainWindow::PrepareMountPage() {
  mountPage_.SetExploreOption(optionsPage_.Flags().ExploreDrivesAfterMounting != 0);
  mountPage_.Refresh();
}

void MainWindow::BringUpPage(int index) {
  const HWND window = Handle();
  SendMessageA(pageList_.Handle(), LB_SETCURSEL, index, 0);
  holder_.SetActivePage(index);
  if (!IsWindowVisible(window)) ShowWindow(window, SW_SHOW);
  if (IsIconic(window)) {
    ShowWindow(window, SW_RESTORE);
  } else {
    BringWindowToTop(window);
  }
  SetForegroundWindow(window);
}

// ---- Commands of the window ----

// Enter: no page has a default button, and the window does nothing with it.
void MainWindow::OnIgnore(UINT, UINT, HWND) {}

void MainWindow::OnHide(UINT, UINT, HWND) { ShowWindow(Handle(), SW_HIDE); }

void MainWindow::OnHelp(UINT, UINT, HWND) { ShowHelp(Handle(), helpFile_); }

HBRUSH MainWindow::OnDialogColor(HDC, HWND) { return background_; }

// The window is dragged by any point of its background.
void MainWindow::OnLeftButtonDown(UINT, POINT client) {
  POINT screen = client;
  ClientToScreen(Handle(), &screen);
  SendMessageA(Handle(), WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(screen.x, screen.y));
}

// ---- The tray menu and its commands ----

void MainWindow::PrepareTrayMenu(HMENU menu) {
  const TrayMenuPlan plan =
      PlanTrayMenu(optionsPage_.Flags(), mountPage_.RecentList(), ScanDrives(port_));
  InsertMenuItems(menu, ID_TRAY_DISMOUNT_ALL, plan.beforeDismountAll);
  InsertMenuItems(menu, ID_TRAY_EXIT, plan.beforeExit);
  EnableMenuItem(menu, ID_TRAY_EXIT, MF_BYCOMMAND | (plan.exitEnabled ? MF_ENABLED : MF_GRAYED));
  menuDrives_ = plan.driveLetters;
}

void MainWindow::OnShowStatus(UINT, UINT, HWND) {
  statusPage_.Refresh();
  BringUpPage(kStatusPage);
}

void MainWindow::OnMountVolume(UINT, UINT, HWND) {
  PrepareMountPage();
  BringUpPage(kMountPage);
}

void MainWindow::OnMountRecent(UINT id, UINT, HWND) {
  const RecentEntry entry = mountPage_.RecentList().slots[id - ID_TRAY_RECENT_FIRST];
  if (entry.volumePath.empty()) return;
  PrepareMountPage();
  mountPage_.SetVolumePath(entry.volumePath);
  mountPage_.SelectDriveText(entry.drive);
  mountPage_.WriteFieldsToControls();
  BringUpPage(kMountPage);
}

// Presses a button of the Status page as the mouse would, so that the page's
// own command runs with its messages.
void MainWindow::PressStatusButton(int id) {
  const HWND button = GetDlgItem(statusPage_.Handle(), id);
  SendMessageA(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1, 1));
  SendMessageA(button, WM_LBUTTONUP, 0, MAKELPARAM(1, 1));
}

void MainWindow::OnDismountAllVolumes(UINT, UINT, HWND) {
  statusPage_.Refresh();
  BringUpPage(kStatusPage);
  PressStatusButton(IDC_STATUS_DISMOUNT_ALL);
}

void MainWindow::OnDismountDrive(UINT id, UINT, HWND) {
  const std::optional<char> letter = DriveOfCommand(menuDrives_, id);
  if (!letter) return;
  statusPage_.Refresh();
  BringUpPage(kStatusPage);
  // A drive gone since the menu opened has no row: nothing is selected and
  // the press does nothing.
  if (statusPage_.SelectDrive(*letter)) PressStatusButton(IDC_STATUS_DISMOUNT);
}

// ---- The end ----

void MainWindow::OnExit(UINT, UINT, HWND) {
  mountPage_.StopTimer();
  // A creation still running is cancelled (its files removed) and its worker
  // has ended before the window goes.
  createPage_.CancelCreation();
  if (installedDriver_ != 0) RemoveDriver(services_);
  SaveSettings();
  DestroyWindow(Handle());
  PostQuitMessage(kExitCommandCode);
}

// The session may end; the program does not object.
LRESULT MainWindow::OnQueryEndSession(WPARAM, LPARAM) { return TRUE; }

// Log-off or shutdown ends the process without the exit sequence. The
// session's volumes are dismounted first: left mounted, their keys would
// stay in the driver with nobody but an administrator able to dismount
// them. Then the driver this run installed is removed (it stays while
// another session's volume keeps it), and the settings are saved so that
// the run's changes are not lost.
LRESULT MainWindow::OnEndSession(WPARAM ending, LPARAM) {
  if (ending == FALSE) return 0;
  mountPage_.StopTimer();
  DismountSessionVolumes(port_, logonSessionId_);
  if (installedDriver_ != 0) RemoveDriver(services_);
  SaveSettings();
  return 0;
}

// ---- The run ----

int RunMainWindow() {
  MessageLoop loop;
  MainWindow window(SystemDriverPort(), SystemServicePort());
  if (window.Create() == nullptr) return 0;
  ShowWindow(window.Handle(), SW_SHOW);
  return loop.Run();
}
