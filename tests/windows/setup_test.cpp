// The setup program under Wine, run by tests/e2e/setup_test.sh after it
// installed the program silently into a fresh prefix: what setup put in
// place, an upgrade in place and a move with /D=, the installed program
// loading the driver from its folder, the refusals while the program runs
// and while a volume is mounted, and uninstalls that leave nothing behind
// (the settings only when asked). The tests run in order, each from the state
// the one before left.
//   setup_test.exe SETUP.EXE VERSION
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>

#include "tests/windows/app_frame_support.h"

namespace {

using frame_test::WaitFor;

std::string g_setup;
std::string g_version;
std::string g_folder = "C:\\Program Files\\Velmorcrypt";
constexpr char kMovedFolder[] = "C:\\Apps\\Velmorcrypt";
constexpr char kUninstallKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmorcrypt";
constexpr char kUninstallRoot[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\Velmorcrypt";
constexpr char kSettingsRoot[] = "Software\\Kestrane\\Velmorcrypt";
constexpr char kShortcut[] =
    "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Velmorcrypt Vozeri.lnk";
constexpr const char* kFiles[] = {"velmorcrypt.exe",     "velmorcrypt.sys", "Velmorcrypt.chm",
                                  "velmorcrypt-cli.exe", "user-guide.md",   "LICENSE.txt",
                                  "uninstall.exe"};
constexpr DWORD kRefused = 2;
constexpr DWORD kMinute = 60000;

std::string InFolder(const char* name) { return g_folder + "\\" + name; }
bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
bool KeyExists(HKEY root, const char* key) {
  HKEY opened;
  if (RegOpenKeyExA(root, key, 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  RegCloseKey(opened);
  return true;
}
// A string value of HKLM, or a number as its digits; "" when missing.
std::string Value(const std::string& key, const char* name) {
  char value[1024] = {};
  DWORD size = sizeof value, type = 0;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_SZ | RRF_RT_REG_DWORD, &type,
                   value, &size) != ERROR_SUCCESS) {
    return "";
  }
  return type == REG_DWORD ? std::to_string(*reinterpret_cast<DWORD*>(value)) : value;
}

// The entries in Apps & Features that are ours.
int OurUninstallEntries() {
  HKEY root;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallRoot, 0, KEY_READ, &root) != ERROR_SUCCESS) {
    return 0;
  }
  int count = 0;
  char name[256];
  for (DWORD i = 0; RegEnumKeyA(root, i, name, sizeof name) == ERROR_SUCCESS; ++i) {
    count +=
        Value(std::string(kUninstallRoot) + "\\" + name, "DisplayName") == "Velmorcrypt Vozeri";
  }
  RegCloseKey(root);
  return count;
}

// Runs a command line to its end; a message box it shows is read into `box`
// and answered with OK. The exit code, or STILL_ACTIVE after a minute.
DWORD RunToEnd(std::string command, std::string* box = nullptr) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return GetLastError();
  }
  const ULONGLONG end = GetTickCount64() + kMinute;
  while (WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT && GetTickCount64() < end) {
    HWND found = nullptr;
    while ((found = FindWindowExA(nullptr, found, "#32770", nullptr)) != nullptr) {
      DWORD owner = 0;
      GetWindowThreadProcessId(found, &owner);
      if (owner != process.dwProcessId || !IsWindowVisible(found)) continue;
      if (box != nullptr) *box = frame_test::TextOf(GetDlgItem(found, 0xFFFF));
      PostMessageA(GetDlgItem(found, IDOK), BM_CLICK, 0, 0);
    }
  }
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }
// The uninstaller run in place (_?=), so that its exit code is its own.
DWORD UninstallInPlace(std::string* box) {
  return RunToEnd(Quoted(InFolder("uninstall.exe")) + " _?=" + g_folder, box);
}
// The uninstaller as Apps & Features runs it: it hands over to a copy of
// itself and returns; done when nothing of the installation is left.
bool UninstallSilently(const std::string& options = "") {
  if (RunToEnd(Quoted(InFolder("uninstall.exe")) + " /S" + options) != 0) return false;
  return WaitFor(
      [] {
        return !Exists(g_folder) && !Exists(kShortcut) &&
               !KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey);
      },
      kMinute);
}

void ExpectInstalled() {
  for (const char* file : kFiles) EXPECT_TRUE(Exists(InFolder(file))) << file;
  EXPECT_TRUE(Exists(kShortcut));
  EXPECT_EQ(OurUninstallEntries(), 1);
  const std::pair<const char*, std::string> entry[] = {
      {"DisplayName", "Velmorcrypt Vozeri"},
      {"DisplayVersion", g_version},
      {"Publisher", "Kestrane"},
      {"DisplayIcon", InFolder("velmorcrypt.exe") + ",0"},
      {"InstallLocation", g_folder},
      {"UninstallString", Quoted(InFolder("uninstall.exe"))}};
  for (const auto& [name, expected] : entry) EXPECT_EQ(Value(kUninstallKey, name), expected);
  // In kilobytes: the program alone is over a megabyte.
  EXPECT_GT(std::stoul("0" + Value(kUninstallKey, "EstimatedSize")), 1024u);
}

// The names left in the installation folder, for a failure's message.
std::string LeftInFolder() {
  std::string names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((g_folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    names += std::string(" ") + found.cFileName;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

void ExpectNothingLeft() {
  EXPECT_FALSE(Exists(g_folder)) << "left:" << LeftInFolder();
  EXPECT_FALSE(Exists(kShortcut));
  EXPECT_EQ(OurUninstallEntries(), 0);
  EXPECT_FALSE(frame_test::DriverServiceExists());
}

bool DriverAnswers() {
  HANDLE device =
      CreateFileA("\\\\.\\Velmorcrypt", GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) return false;
  CloseHandle(device);
  return true;
}

TEST(Setup, SilentInstallPutsEverythingInPlace) { ExpectInstalled(); }

TEST(Setup, RunAgainUpgradesInPlaceWithOneEntry) {
  EXPECT_EQ(RunToEnd(Quoted(g_setup) + " /S"), 0u);
  ExpectInstalled();
}

TEST(Setup, AnotherFolderWithDMovesTheInstallation) {
  const std::string old = g_folder;
  EXPECT_EQ(RunToEnd(Quoted(g_setup) + " /S /D=" + kMovedFolder), 0u);
  g_folder = kMovedFolder;
  ExpectInstalled();
  EXPECT_FALSE(Exists(old));
}

TEST(Setup, InstalledProgramLoadsTheDriverFromItsFolderAndBlocksSetup) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION program{};
  std::string command = Quoted(InFolder("velmorcrypt.exe"));
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &program));
  EXPECT_TRUE(WaitFor(DriverAnswers));
  EXPECT_EQ(Value(kServiceKey, "ImagePath"), InFolder("velmorcrypt.sys"));

  EXPECT_EQ(RunToEnd(Quoted(g_setup) + " /S"), kRefused);
  std::string box;
  EXPECT_EQ(UninstallInPlace(&box), kRefused);
  EXPECT_NE(box.find("Velmorcrypt is running"), std::string::npos) << box;
  ExpectInstalled();

  // A crash: the driver's service stays behind.
  TerminateProcess(program.hProcess, 1);
  WaitForSingleObject(program.hProcess, kMinute);
  CloseHandle(program.hThread);
  CloseHandle(program.hProcess);
  EXPECT_TRUE(frame_test::DriverServiceExists());
}

TEST(Setup, UninstallRefusesWhileAVolumeIsMounted) {
  const char letter = frame_test::FreeDriveLetter();
  ASSERT_TRUE(frame_test::CreateAndMount(frame_test::TempFile("setup-test.vmv"), 1, letter));
  std::string box;
  EXPECT_EQ(UninstallInPlace(&box), kRefused);
  const std::string drive = std::string(1, letter) + ":";
  EXPECT_NE(box.find("mounted on drive " + drive), std::string::npos) << box;
  EXPECT_EQ(RunToEnd(Quoted(g_setup) + " /S"), kRefused);
  ExpectInstalled();
  EXPECT_TRUE(frame_test::Dismount(letter));
}

TEST(Setup, UninstallRemovesEverythingAndTheLeftServiceButKeepsSettings) {
  frame_test::WriteDword(frame_test::kSettingsKey, "ExploreDrivesAfterMounting", 1);
  const DWORD minutes = 5;
  RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSettingsRoot, "AutoDismount", REG_DWORD, &minutes, 4);
  ASSERT_TRUE(frame_test::DriverServiceExists());
  EXPECT_TRUE(UninstallSilently());
  ExpectNothingLeft();
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, frame_test::kSettingsKey));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kSettingsRoot));
}

TEST(Setup, UninstallAskedToRemovesTheSettingsToo) {
  ASSERT_EQ(RunToEnd(Quoted(g_setup) + " /S /D=" + g_folder), 0u);
  ExpectInstalled();
  EXPECT_TRUE(UninstallSilently(" /REMOVESETTINGS"));
  ExpectNothingLeft();
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsRoot));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kSettingsRoot));
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc != 3) {
    fprintf(stderr, "usage: setup_test SETUP.EXE VERSION\n");
    return 2;
  }
  g_setup = argv[1];
  g_version = argv[2];
  return RUN_ALL_TESTS();
}
