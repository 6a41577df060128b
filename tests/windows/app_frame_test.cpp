// The program itself, velmorcrypt.exe, started as a process of its own and
// driven from outside by messages: one copy per machine, the exit code of
// "Exit", the driver service it installs and removes, hiding and bringing
// back the window, the page switch, and the settings at the end of the
// Windows session (the volumes dismounted, the driver removed, the
// settings saved).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "driver/operations.h"
#include "driver/win32_port.h"
#include "resources/resource.h"
#include "tests/windows/app_frame_support.h"
#include "tests/windows/driver_support.h"

namespace {

using frame_test::TextOf;
using frame_test::WaitFor;

constexpr char kProductName[] = "Velmorcrypt Vozeri";
constexpr DWORD kExitCode = 32773;
constexpr DWORD kTimeoutMs = 20000;

struct FindMain {
  DWORD process;
  HWND found;
};

BOOL CALLBACK FindMainWindow(HWND window, LPARAM param) {
  auto& search = *reinterpret_cast<FindMain*>(param);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char name[16] = {};
  GetClassNameA(window, name, sizeof name);
  if (process != search.process || strcmp(name, "#32770") != 0) return TRUE;
  if (TextOf(window) != kProductName) return TRUE;
  search.found = window;
  return FALSE;
}

// One run of the program.
class Program {
 public:
  Program() = default;
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  ~Program() {
    if (process_.hProcess == nullptr) return;
    if (Running()) {
      PostMessageA(window_, WM_COMMAND, ID_TRAY_EXIT, 0);
      if (WaitForSingleObject(process_.hProcess, kTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process_.hProcess, 1);
      }
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }

  bool Start() {
    std::string command = driver_support::DosPath(VM_PROGRAM_PATH);
    command.insert(command.begin(), '"');
    command.push_back('"');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    return CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process_) != FALSE;
  }

  // The main window once it is shown; null when it does not come.
  HWND WaitForWindow() {
    WaitFor([&] {
      FindMain search{process_.dwProcessId, nullptr};
      EnumWindows(&FindMainWindow, reinterpret_cast<LPARAM>(&search));
      window_ = search.found;
      return window_ != nullptr && IsWindowVisible(window_);
    });
    return window_;
  }

  bool Running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }

  // The exit code, or STILL_ACTIVE when the program does not end in time.
  DWORD WaitForExit() const {
    WaitForSingleObject(process_.hProcess, kTimeoutMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }

  HWND Window() const { return window_; }

 private:
  PROCESS_INFORMATION process_{};
  HWND window_ = nullptr;
};

// The pages, each known by a control only it has.
constexpr int kPageMarks[] = {IDC_STATUS_LIST, IDC_CREATE_BUTTON, IDC_MOUNT_BUTTON,
                              IDC_OPTIONS_REMEMBER_DRIVES, IDC_ABOUT_SUPPORT};

HWND PageOf(HWND main, int index) {
  const HWND holder = GetDlgItem(main, IDC_PAGE_HOLDER);
  for (HWND page = GetWindow(holder, GW_CHILD); page != nullptr;
       page = GetWindow(page, GW_HWNDNEXT)) {
    if (GetDlgItem(page, kPageMarks[index]) != nullptr) return page;
  }
  return nullptr;
}

// The index of the page shown, or -1.
int ShownPage(HWND main) {
  for (int index = 0; index < 5; ++index) {
    const HWND page = PageOf(main, index);
    if (page != nullptr && IsWindowVisible(page)) return index;
  }
  return -1;
}

// Selects a page in the list as a click would.
void SelectPage(HWND main, int index) {
  const HWND list = GetDlgItem(main, IDC_PAGE_LIST);
  SendMessageA(list, LB_SETCURSEL, index, 0);
  SendMessageA(main, WM_COMMAND, MAKEWPARAM(IDC_PAGE_LIST, LBN_SELCHANGE),
               reinterpret_cast<LPARAM>(list));
}

void TrayDoubleClick(HWND main) {
  PostMessageA(main, RegisterWindowMessageA("WM_TRAYICON"), IDR_TRAY_MENU, WM_LBUTTONDBLCLK);
}

class FrameTest : public testing::Test {
 protected:
  void SetUp() override {
    frame_test::ResetSettings();
    frame_test::RemoveDriverService();
  }
  void TearDown() override { frame_test::RemoveDriverService(); }
};

TEST_F(FrameTest, SecondCopyEndsAtOnceWithCodeZeroWhileTheFirstRuns) {
  Program first;
  ASSERT_TRUE(first.Start());
  const HWND window = first.WaitForWindow();
  ASSERT_NE(window, nullptr);

  Program second;
  ASSERT_TRUE(second.Start());
  EXPECT_EQ(second.WaitForExit(), 0u);
  EXPECT_TRUE(first.Running());
  EXPECT_TRUE(IsWindowVisible(window));

  PostMessageA(window, WM_COMMAND, ID_TRAY_EXIT, 0);
  EXPECT_EQ(first.WaitForExit(), kExitCode);
}

TEST_F(FrameTest, ExitEndsWith32773AndRemovesTheDriverThisRunInstalled) {
  Program program;
  ASSERT_TRUE(program.Start());
  const HWND window = program.WaitForWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(TextOf(GetDlgItem(PageOf(window, 0), IDC_STATUS_DRIVER_STATUS)), "Started");
  EXPECT_TRUE(frame_test::DriverServiceExists());

  PostMessageA(window, WM_COMMAND, ID_TRAY_EXIT, 0);
  EXPECT_EQ(program.WaitForExit(), kExitCode);
  EXPECT_FALSE(frame_test::DriverServiceExists());
}

TEST_F(FrameTest, DriverRunningAtStartIsLeftInPlaceAtExit) {
  ASSERT_TRUE(frame_test::StartDriver());
  Program program;
  ASSERT_TRUE(program.Start());
  const HWND window = program.WaitForWindow();
  ASSERT_NE(window, nullptr);
  PostMessageA(window, WM_COMMAND, ID_TRAY_EXIT, 0);
  EXPECT_EQ(program.WaitForExit(), kExitCode);
  EXPECT_TRUE(frame_test::DriverServiceExists());
}

TEST_F(FrameTest, EscAltF4AndMinimizeHideAndTheTrayBringsBackTheStatusPage) {
  Program program;
  ASSERT_TRUE(program.Start());
  const HWND window = program.WaitForWindow();
  ASSERT_NE(window, nullptr);
  ASSERT_EQ(ShownPage(window), 0);

  const HWND list = GetDlgItem(window, IDC_PAGE_LIST);
  const HWND minimize = GetDlgItem(window, IDC_MINIMIZE_BUTTON);
  const struct {
    const char* way;
    UINT message;
    HWND target;
    WPARAM wParam;
    LPARAM lParam;
  } ways[] = {
      {"Esc", WM_KEYDOWN, list, VK_ESCAPE, 0x00010001},
      {"Alt+F4", WM_SYSCOMMAND, window, SC_CLOSE, 0},
      {"minimize button", WM_COMMAND, window, MAKEWPARAM(IDC_MINIMIZE_BUTTON, BN_CLICKED),
       reinterpret_cast<LPARAM>(minimize)},
  };
  for (const auto& way : ways) {
    SelectPage(window, 3);
    ASSERT_EQ(ShownPage(window), 3) << way.way;
    PostMessageA(way.target, way.message, way.wParam, way.lParam);
    EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(window); })) << way.way;
    EXPECT_TRUE(program.Running()) << way.way;

    TrayDoubleClick(window);
    EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(window) && ShownPage(window) == 0; }))
        << way.way;
    EXPECT_EQ(SendMessageA(list, LB_GETCURSEL, 0, 0), 0) << way.way;
  }
}

TEST_F(FrameTest, EnterIsIgnored) {
  Program program;
  ASSERT_TRUE(program.Start());
  const HWND window = program.WaitForWindow();
  ASSERT_NE(window, nullptr);
  SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_TRUE(program.Running());
}

TEST_F(FrameTest, SelectingAPageShowsItAndSelectingItAgainPreparesItAgain) {
  Program program;
  ASSERT_TRUE(program.Start());
  const HWND window = program.WaitForWindow();
  ASSERT_NE(window, nullptr);
  for (int index : {1, 2, 4, 0}) {
    SelectPage(window, index);
    EXPECT_EQ(ShownPage(window), index);
  }

  // An unapplied change of a check box is undone by the preparation.
  SelectPage(window, 3);
  const HWND box = GetDlgItem(PageOf(window, 3), IDC_OPTIONS_REMEMBER_DRIVES);
  ASSERT_EQ(SendMessageA(box, BM_GETCHECK, 0, 0), BST_CHECKED);
  SendMessageA(box, BM_SETCHECK, BST_UNCHECKED, 0);
  SelectPage(window, 3);
  EXPECT_EQ(SendMessageA(box, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(ShownPage(window), 3);
}

// The end of the Windows session dismounts the session's volumes (their
// keys would otherwise stay in the driver after the user is gone), removes
// the driver this run installed, and saves the settings.
TEST_F(FrameTest, SessionEndDismountsTheVolumesRemovesTheDriverAndSavesTheSettings) {
  Program program;
  ASSERT_TRUE(program.Start());
  const HWND window = program.WaitForWindow();
  ASSERT_NE(window, nullptr);
  std::string directory;
  ASSERT_FALSE(frame_test::ReadString(frame_test::kDirectoriesKey, "CreateDirectory", &directory));
  const char letter = frame_test::FreeDriveLetter();
  ASSERT_TRUE(frame_test::CreateAndMount(frame_test::TempFile("vm-session-end.vmv"), 1, letter));

  DWORD_PTR answer = 0;
  ASSERT_TRUE(
      SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, kTimeoutMs, &answer));
  EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
  // A session end that was called off changes nothing.
  SendMessageA(window, WM_ENDSESSION, FALSE, 0);
  EXPECT_FALSE(frame_test::ReadString(frame_test::kDirectoriesKey, "CreateDirectory", &directory));
  EXPECT_TRUE(IsOwnDrive(SystemDriverPort(), letter));

  SendMessageA(window, WM_ENDSESSION, TRUE, 0);
  EXPECT_FALSE(IsOwnDrive(SystemDriverPort(), letter));
  EXPECT_FALSE(frame_test::DriverServiceExists());
  ASSERT_TRUE(frame_test::ReadString(frame_test::kDirectoriesKey, "CreateDirectory", &directory));
  std::string folder = driver_support::DosPath(VM_PROGRAM_PATH);
  folder.erase(folder.find_last_of('\\') + 1);
  EXPECT_EQ(directory, folder);
  if (IsOwnDrive(SystemDriverPort(), letter)) frame_test::Dismount(letter);
}

}  // namespace
