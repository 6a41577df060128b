// Drives a running velmorcrypt.exe for screenshots.sh: waits for the main
// window, mounts a volume made by the creation engine (the program has
// started the driver by then), shows each page in turn as the page list
// would, prints the page's name once it is painted and waits for a line back
// (the picture is taken), then opens the tray menu for one more picture,
// dismounts the volume and ends the program with the tray menu's "Exit".
// Each page's line also carries the main window's rectangle on the screen
// ("status 262 193 501 382": left, top, width, height), so that the picture
// can be cut to the window and its artwork checked.
#include <stdio.h>
#include <windows.h>

#include <string>

#include "driver/dismount.h"
#include "driver/mount_command.h"
#include "driver/win32_port.h"
#include "platform/file.h"
#include "resources/resource.h"
#include "volume/create_volume.h"

namespace {

constexpr DWORD kTimeoutMs = 30000;
constexpr UINT kTrayIconId = 214;

template <class Condition>
bool WaitFor(Condition condition) {
  const ULONGLONG end = GetTickCount64() + kTimeoutMs;
  while (GetTickCount64() < end) {
    if (condition()) return true;
    Sleep(50);
  }
  return false;
}

// Lets the program finish what it was sent and paint it.
void Settle(HWND window) {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, kTimeoutMs, &ignored);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, kTimeoutMs, &ignored);
  Sleep(700);  // the X server shows what Wine drew
}

class NoTimer : public MinuteTimer {
 public:
  bool Start() override { return true; }
  void Stop() override {}
};

// A 10 MB volume on the first free letter from M; 0 when it cannot be made.
char MountSampleVolume() {
  char folder[MAX_PATH];
  GetTempPathA(sizeof folder, folder);
  const std::string path = std::string(folder) + "screenshot-sample.vmv";
  DeleteFileA(path.c_str());
  CreateVolumeInput input;
  input.volumePath = path;
  input.sizeMb = 10;
  input.password = input.confirmation = "screenshot password";
  input.algorithm = 2;
  if (!CreateVolume(SystemFileSystem(), input).outcome.success) return 0;
  const DWORD used = GetLogicalDrives();
  char letter = 'M';
  while (letter <= 'Z' && (used & (1u << (letter - 'A')))) ++letter;
  if (letter > 'Z') return 0;
  MountPageState state;
  state.volumePath = path;
  state.password = input.password;
  state.driveText = std::string(1, letter) + ":";
  NoTimer timer;
  return RunMountCommand(state, SystemFileSystem(), SystemDriverPort(), timer).outcome.success
             ? letter
             : 0;
}

bool Shoot(const char* name, HWND window = nullptr) {
  RECT frame{};
  if (window != nullptr && GetWindowRect(window, &frame)) {
    printf("%s %ld %ld %ld %ld\n", name, frame.left, frame.top, frame.right - frame.left,
           frame.bottom - frame.top);
  } else {
    printf("%s\n", name);
  }
  fflush(stdout);
  char line[64];
  return fgets(line, sizeof line, stdin) != nullptr;
}

}  // namespace

int main() {
  HWND main = nullptr;
  if (!WaitFor([&] {
        main = FindWindowA("#32770", "Velmorcrypt Vozeri");
        return main != nullptr && IsWindowVisible(main);
      })) {
    fprintf(stderr, "the main window did not appear\n");
    return 1;
  }
  const char mounted = MountSampleVolume();
  if (mounted == 0) fprintf(stderr, "the sample volume could not be mounted\n");
  const HWND list = GetDlgItem(main, IDC_PAGE_LIST);
  const HWND holder = GetDlgItem(main, IDC_PAGE_HOLDER);
  const char* const pages[] = {"status", "create", "mount", "options", "about"};
  for (int index = 0; index < 5; ++index) {
    SendMessageA(list, LB_SETCURSEL, index, 0);
    SendMessageA(main, WM_COMMAND, MAKEWPARAM(IDC_PAGE_LIST, LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
    Settle(main);
    if (!IsWindowVisible(holder) || !Shoot(pages[index], main)) return 1;
  }

  SetCursorPos(700, 500);
  PostMessageA(main, RegisterWindowMessageA("WM_TRAYICON"), kTrayIconId, WM_RBUTTONUP);
  HWND menu = nullptr;
  if (WaitFor([&] {
        menu = FindWindowA("#32768", nullptr);
        return menu != nullptr && IsWindowVisible(menu);
      })) {
    Settle(menu);
    Shoot("tray_menu");
    PostMessageA(main, WM_CANCELMODE, 0, 0);
    WaitFor([&] { return !IsWindowVisible(menu); });
  } else {
    fprintf(stderr, "the tray menu did not open\n");
  }

  if (mounted != 0) DismountVolume(SystemDriverPort(), mounted, 0, 1);
  PostMessageA(main, WM_COMMAND, ID_TRAY_EXIT, 0);
  printf("done\n");
  fflush(stdout);
  return 0;
}
