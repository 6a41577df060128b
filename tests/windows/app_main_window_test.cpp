// The main window made in this process: what its initialisation sets up,
// the settings it loads, and the exit sequence with the settings it saves.
#include <gtest/gtest.h>
#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <string>
#include <vector>

#include "app/main_window.h"
#include "driver/win32_port.h"
#include "resources/resource.h"
#include "tests/windows/app_frame_support.h"
#include "tests/windows/fake_html_help.h"
#include "tests/windows/test_support.h"

namespace {

using frame_test::kDirectoriesKey;
using frame_test::kRecentKey;
using frame_test::kSettingsKey;
using frame_test::ReadString;

// The colour of the frame around the main window's background.
constexpr COLORREF kFrameColour = RGB(49, 106, 197);

// The folder of this test program, as the main window computes it.
std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder = path;
  folder.erase(folder.find_last_of('\\') + 1);
  return folder;
}

// System commands sent on this thread while a test watches them.
std::vector<WPARAM> systemCommands;

LRESULT CALLBACK WatchSystemCommands(int code, WPARAM wParam, LPARAM lParam) {
  const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && call->message == WM_SYSCOMMAND) systemCommands.push_back(call->wParam);
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

class MainWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    test_support::InitControls();
    frame_test::ResetSettings();
  }
  void TearDown() override { frame_test::ResetSettings(); }

  void Open() {
    ASSERT_NE(window_.Create(), nullptr);
    ShowWindow(window_.Handle(), SW_SHOW);
    test_support::PumpPending();
  }

  template <class P>
  P& PageObject(int index) {
    return *static_cast<P*>(WindowObject::FromHandle(window_.PageWindow(index)));
  }

  MessageLoop loop_;
  MainWindow window_{SystemDriverPort(), SystemServicePort()};
};

TEST_F(MainWindowTest, InitialisationBuildsTheWindow) {
  Open();
  const HWND window = window_.Handle();
  EXPECT_EQ(frame_test::TextOf(window), "Velmorcrypt Vozeri");
  EXPECT_NE(SendMessageA(window, WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_NE(SendMessageA(window, WM_GETICON, ICON_SMALL, 0), 0);
  EXPECT_TRUE(window_.Tray().IsInstalled());

  // The background is the picture, as a pattern brush.
  const auto brush = reinterpret_cast<HBRUSH>(
      SendMessageA(window, WM_CTLCOLORDLG, 0, reinterpret_cast<LPARAM>(window)));
  LOGBRUSH look{};
  ASSERT_EQ(GetObjectA(brush, sizeof look, &look), static_cast<int>(sizeof look));
  EXPECT_TRUE(look.lbStyle == BS_PATTERN || look.lbStyle == BS_DIBPATTERN) << look.lbStyle;

  // The caption buttons take the size of one picture cell.
  RECT help{};
  RECT minimize{};
  GetClientRect(GetDlgItem(window, IDC_HELP_BUTTON), &help);
  GetClientRect(GetDlgItem(window, IDC_MINIMIZE_BUTTON), &minimize);
  EXPECT_EQ(help.right, 36);
  EXPECT_EQ(help.bottom, 22);
  EXPECT_EQ(minimize.right, 61);
  EXPECT_EQ(minimize.bottom, 22);

  // Five entries of 62 pixels, all of them inside the list; Status shown.
  const HWND list = GetDlgItem(window, IDC_PAGE_LIST);
  ASSERT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), 5);
  EXPECT_EQ(SendMessageA(list, LB_GETITEMHEIGHT, 0, 0), 62);
  EXPECT_EQ(SendMessageA(list, LB_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(SendMessageA(list, LB_GETTOPINDEX, 0, 0), 0);
  RECT last{};
  RECT client{};
  SendMessageA(list, LB_GETITEMRECT, 4, reinterpret_cast<LPARAM>(&last));
  GetClientRect(list, &client);
  EXPECT_LE(last.bottom, client.bottom);
  EXPECT_EQ(window_.ActivePage(), kStatusPage);
  EXPECT_TRUE(IsWindowVisible(window_.PageWindow(kStatusPage)));
  for (int index = 1; index < 5; ++index) {
    EXPECT_EQ(GetParent(window_.PageWindow(index)), GetDlgItem(window, IDC_PAGE_HOLDER));
    EXPECT_FALSE(IsWindowVisible(window_.PageWindow(index))) << index;
  }

  // The driver's service is made from the program's folder.
  char current[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof current, current);
  EXPECT_EQ(std::string(current) + "\\", ProgramFolder());
}

// The art follows the window, whatever font and scaling made its size: the
// background has the frame on the window's four edges (a repeated picture
// would cut it), each page's banner fills its rectangle, the caption buttons lie side
// by side inside the window, and the five entries fit in the page list.
TEST_F(MainWindowTest, TheArtFitsTheWindow) {
  Open();
  const HWND window = window_.Handle();
  RECT client{};
  GetClientRect(window, &client);
  const auto brush = reinterpret_cast<HBRUSH>(
      SendMessageA(window, WM_CTLCOLORDLG, 0, reinterpret_cast<LPARAM>(window)));
  // Painted with the brush, the client area has the frame on its four edges.
  const HDC screen = GetDC(nullptr);
  const HDC canvas = CreateCompatibleDC(screen);
  const HBITMAP painted = CreateCompatibleBitmap(screen, client.right, client.bottom);
  ReleaseDC(nullptr, screen);
  const HGDIOBJ old = SelectObject(canvas, painted);
  FillRect(canvas, &client, brush);
  int offFrame = 0;
  for (LONG x = 0; x < client.right; ++x) {
    offFrame += GetPixel(canvas, x, 0) != kFrameColour;
    offFrame += GetPixel(canvas, x, client.bottom - 1) != kFrameColour;
  }
  for (LONG y = 0; y < client.bottom; ++y) {
    offFrame += GetPixel(canvas, 0, y) != kFrameColour;
    offFrame += GetPixel(canvas, client.right - 1, y) != kFrameColour;
  }
  EXPECT_EQ(offFrame, 0);
  SelectObject(canvas, old);
  DeleteObject(painted);
  DeleteDC(canvas);

  for (int index = 0; index < 5; ++index) {
    const HWND page = window_.PageWindow(index);
    RECT place = {4, 0, 4 + 267, 18};
    MapDialogRect(page, &place);
    RECT banner{};
    GetClientRect(GetWindow(page, GW_CHILD), &banner);
    EXPECT_NEAR(banner.right, place.right - place.left, (place.right - place.left) / 25 + 1)
        << index;
    EXPECT_NEAR(banner.bottom, place.bottom - place.top, (place.bottom - place.top) / 25 + 1)
        << index;
  }

  RECT help{};
  RECT minimize{};
  GetWindowRect(GetDlgItem(window, IDC_HELP_BUTTON), &help);
  GetWindowRect(GetDlgItem(window, IDC_MINIMIZE_BUTTON), &minimize);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&help), 2);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&minimize), 2);
  EXPECT_LE(help.right, minimize.left);
  EXPECT_LT(minimize.right, client.right);

  const HWND list = GetDlgItem(window, IDC_PAGE_LIST);
  RECT last{};
  RECT inside{};
  SendMessageA(list, LB_GETITEMRECT, 4, reinterpret_cast<LPARAM>(&last));
  GetClientRect(list, &inside);
  EXPECT_LE(last.bottom, inside.bottom);
}

// "?" loads the library registered for the HTML Help control (here a
// stand-in that notes the call) and opens the help file beside the program
// at its default topic, owned by the main window.
TEST_F(MainWindowTest, TheHelpButtonOpensTheHelpFileBesideTheProgram) {
  FakeHtmlHelpRegistration viewer;
  ASSERT_TRUE(viewer.Ready());
  Open();
  const HWND window = window_.Handle();
  SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_HELP_BUTTON, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_HELP_BUTTON)));
  const std::vector<HtmlHelpCall> calls = viewer.TakeCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].owner, window);
  EXPECT_STRCASEEQ(calls[0].file, (ProgramFolder() + "Velmorcrypt.chm").c_str());
  EXPECT_EQ(calls[0].command, 0u);  // HH_DISPLAY_TOPIC
  EXPECT_EQ(calls[0].data, 0u);
}

TEST_F(MainWindowTest, StoredDirectoriesAreLoadedWhenRemembered) {
  frame_test::WriteString(kDirectoriesKey, "CreateDirectory", "C:\\made\\");
  frame_test::WriteString(kDirectoriesKey, "MountDirectory", "C:\\mounted\\");
  Open();
  EXPECT_EQ(PageObject<CreatePage>(kCreatePage).LastDirectory(), "C:\\made\\");
  EXPECT_EQ(PageObject<MountPage>(kMountPage).LastDirectory(), "C:\\mounted\\");
  EXPECT_EQ(PageObject<OptionsPage>(kOptionsPage).ToolsDirectory(), ProgramFolder());
}

TEST_F(MainWindowTest, StoredDirectoriesAreIgnoredWhenNotRemembered) {
  frame_test::WriteDword(kSettingsKey, "RememberLastDirectory", 0);
  frame_test::WriteString(kDirectoriesKey, "CreateDirectory", "C:\\made\\");
  Open();
  EXPECT_EQ(PageObject<CreatePage>(kCreatePage).LastDirectory(), ProgramFolder());
  EXPECT_EQ(PageObject<OptionsPage>(kOptionsPage).Flags().RememberLastDirectory, 0);
}

TEST_F(MainWindowTest, ExitSavesTheSettingsDestroysTheWindowAndQuitsWith32773) {
  frame_test::WriteString(kRecentKey, "Entry0", "E:,C:\\vaults\\work.vmv");
  frame_test::WriteString(kDirectoriesKey, "CreateDirectory", "C:\\made\\");
  Open();
  const HWND window = window_.Handle();
  SendMessageA(window, WM_COMMAND, ID_TRAY_EXIT, 0);
  EXPECT_FALSE(IsWindow(window));

  MSG quit{};
  ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(quit.wParam, static_cast<WPARAM>(kExitCommandCode));

  std::string value;
  ASSERT_TRUE(ReadString(kRecentKey, "Entry0", &value));
  EXPECT_EQ(value, "E:,C:\\vaults\\work.vmv");
  ASSERT_TRUE(ReadString(kDirectoriesKey, "CreateDirectory", &value));
  EXPECT_EQ(value, "C:\\made\\");
  ASSERT_TRUE(ReadString(kDirectoriesKey, "ToolsDirectory", &value));
  EXPECT_EQ(value, ProgramFolder());
}

TEST_F(MainWindowTest, ExitWithRememberMountedDrivesOffClearsTheList) {
  frame_test::WriteDword(kSettingsKey, "RememberMountedDrives", 0);
  frame_test::WriteString(kRecentKey, "Entry0", "E:,C:\\vaults\\work.vmv");
  Open();
  SendMessageA(window_.Handle(), WM_COMMAND, ID_TRAY_EXIT, 0);
  MSG quit{};
  PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
  for (int slot = 0; slot < 10; ++slot) {
    std::string value = "unread";
    ASSERT_TRUE(ReadString(kRecentKey, ("Entry" + std::to_string(slot)).c_str(), &value));
    EXPECT_EQ(value, "") << slot;
  }
}

TEST_F(MainWindowTest, ExitDuringACreationCancelsItBeforeTheWindowGoes) {
  const std::string volume = frame_test::TempFile("vm-frame-exit-creating.vmv");
  DeleteFileA(volume.c_str());
  test_support::SlowFileSystem slowFiles;
  window_.SetCreationFileSystem(slowFiles);
  Open();
  const HWND page = window_.PageWindow(kCreatePage);
  test_support::SetItemText(page, IDC_CREATE_VOLUME_PATH, volume);
  test_support::SetItemText(page, IDC_CREATE_SIZE, "300");
  test_support::SetItemText(page, IDC_CREATE_PASSWORD, "pw");
  test_support::SetItemText(page, IDC_CREATE_CONFIRM, "pw");
  test_support::Click(page, IDC_CREATE_BUTTON);
  const HWND progress = GetDlgItem(page, IDC_CREATE_PROGRESS);
  ASSERT_TRUE(
      test_support::PumpUntil([&] { return SendMessageA(progress, PBM_GETPOS, 0, 0) >= 2; }));

  SendMessageA(window_.Handle(), WM_COMMAND, ID_TRAY_EXIT, 0);
  EXPECT_FALSE(IsWindow(page));
  EXPECT_EQ(GetFileAttributesA(volume.c_str()), INVALID_FILE_ATTRIBUTES);
  MSG quit{};
  ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(quit.wParam, static_cast<WPARAM>(kExitCommandCode));
}

TEST_F(MainWindowTest, TheBackgroundDragsTheWindow) {
  Open();
  const HWND window = window_.Handle();
  SetForegroundWindow(window);
  systemCommands.clear();
  const HHOOK hook =
      SetWindowsHookExA(WH_CALLWNDPROC, &WatchSystemCommands, nullptr, GetCurrentThreadId());
  // The move that the press starts runs until the button is released.
  const DWORD thread = GetCurrentThreadId();
  test_support::Helper release([&] {
    frame_test::WaitFor([&] {
      GUITHREADINFO info{};
      info.cbSize = sizeof info;
      return GetGUIThreadInfo(thread, &info) &&
             ((info.flags & GUI_INMOVESIZE) != 0 || info.hwndCapture != nullptr);
    });
    PostMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(200, 5));
    PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0);
  });
  SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(200, 5));
  release.Join();
  UnhookWindowsHookEx(hook);
  ASSERT_FALSE(systemCommands.empty());
  EXPECT_EQ(systemCommands.front() & 0xFFF0, static_cast<WPARAM>(SC_MOVE));
  EXPECT_EQ(systemCommands.front() & 0x000F, static_cast<WPARAM>(HTCAPTION));
}

}  // namespace
