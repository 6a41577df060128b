// A new user's journey through the real velmorcrypt.exe, driven from this
// separate process with the messages the user's own input would produce:
// start the program from a fresh folder, see the driver started, create a
// 2 MB volume with an external header block, mount it, write known bytes to
// its drive, see it listed, dismount it from the tray menu, change its
// password, mount it with the new password and read the bytes back,
// dismount all and exit through the tray menu; then check the exit code, the
// removed driver service and the settings the program wrote.
//
// Usage: journey.exe <build folder> <work folder> (both in DOS form; the
// work folder is empty and has a "data" folder). Each passed step prints
// "PASS ..."; "SHOT name" asks the caller for a picture of the screen and
// waits for a line back. A failure prints "FAIL ...", asks for the picture
// "failure" and ends with exit code 1.
#include <windows.h>
// The common controls' header needs windows.h before it.
#include <commctrl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "resources/resource.h"

namespace {

constexpr DWORD kTimeoutMs = 20000;
constexpr UINT kTrayIconId = 214;
constexpr DWORD kExitCode = ID_TRAY_EXIT;
constexpr int kFileNameCombo = 0x47C;  // cmb13 of the file dialogs
constexpr int kFileNameEdit = 0x480;   // edt1, the older template's name box
constexpr int kMessageBoxText = 0xFFFF;
constexpr char kFirstPassword[] = "first journey password";
constexpr char kNewPassword[] = "second journey password";
constexpr uint64_t kVolumeBytes = 2 * 1048576;

struct Program {
  PROCESS_INFORMATION process{};
  HWND main = nullptr;
};
Program program;

bool Shoot(const char* name) {
  printf("SHOT journey-%s\n", name);
  fflush(stdout);
  char line[64];
  return fgets(line, sizeof line, stdin) != nullptr;
}

[[noreturn]] void Fail(const std::string& why) {
  printf("FAIL %s\n", why.c_str());
  fflush(stdout);
  fprintf(stderr, "journey failed: %s\n", why.c_str());
  Shoot("failure");
  exit(1);
}

void Pass(const std::string& what) {
  printf("PASS %s\n", what.c_str());
  fflush(stdout);
}

template <class Condition>
bool WaitFor(Condition condition, DWORD timeoutMs = kTimeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) return true;
    if (GetTickCount64() > end) return false;
    Sleep(50);
  }
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, kTimeoutMs, &result))
    Fail("the program did not answer message " + std::to_string(message));
  return static_cast<LRESULT>(result);
}

std::string Text(HWND window) {
  char text[1024] = {};
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                      kTimeoutMs, &ignored);
  return text;
}

std::string ItemText(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }

// Types into a field: the text the user's keys would leave there.
void Type(HWND dialog, int id, const std::string& text) {
  if (!SetDlgItemTextA(dialog, id, text.c_str()))
    Fail("could not type into control " + std::to_string(id));
}

// Presses a button; posted, since the press may open a modal window.
void Press(HWND dialog, int id) {
  const HWND button = GetDlgItem(dialog, id);
  if (button == nullptr || !PostMessageA(button, BM_CLICK, 0, 0))
    Fail("no button " + std::to_string(id));
}

// Lets the program finish what it was sent and the X server show it.
void Settle() {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(program.main, WM_NULL, 0, 0, SMTO_NORMAL, kTimeoutMs, &ignored);
  Sleep(700);
}

void Screenshot(const char* name) {
  Settle();
  if (!Shoot(name)) Fail("no answer to the screenshot request");
}

bool IsProgramWindow(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid == program.process.dwProcessId && IsWindowVisible(window);
}

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// A visible top-level window of the program that `accept` takes.
template <class Accept>
HWND FindProgramWindow(Accept accept) {
  struct Search {
    Accept* accept;
    HWND found;
  } search{&accept, nullptr};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        if (!IsProgramWindow(window) || !(*s->accept)(window)) return TRUE;
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool IsDialog(HWND window) { return window != program.main && ClassOf(window) == "#32770"; }

// A message box: its text in static 0xFFFF, and no field to type into.
bool IsMessageBox(HWND window) {
  return IsDialog(window) && GetDlgItem(window, kMessageBoxText) != nullptr &&
         FindWindowExA(window, nullptr, "Edit", nullptr) == nullptr &&
         FindWindowExA(window, nullptr, "ComboBox", nullptr) == nullptr;
}

bool IsFileDialog(HWND window) {
  return IsDialog(window) && (GetDlgItem(window, kFileNameCombo) != nullptr ||
                              GetDlgItem(window, kFileNameEdit) != nullptr);
}

HWND WaitForWindow(bool (*accept)(HWND), const char* what) {
  HWND found = nullptr;
  if (!WaitFor([&] { return (found = FindProgramWindow(accept)) != nullptr; }))
    Fail(std::string("no ") + what + " appeared");
  return found;
}

void WaitUntilGone(HWND window, const char* what) {
  if (!WaitFor([&] { return !IsWindow(window) || !IsWindowVisible(window); }))
    Fail(std::string("the ") + what + " did not close");
}

// Waits for a message box, checks its caption and text, presses `button`.
void Answer(const std::string& caption, const std::string& text, int button = IDOK,
            const char* picture = nullptr) {
  const HWND box = WaitForWindow(IsMessageBox, ("message box \"" + text + "\"").c_str());
  const std::string seenCaption = Text(box);
  const std::string seenText = ItemText(box, kMessageBoxText);
  if (seenCaption != caption || seenText != text)
    Fail("message box \"" + seenCaption + "\": \"" + seenText + "\", expected \"" + caption +
         "\": \"" + text + "\"");
  if (picture != nullptr) Screenshot(picture);
  Press(box, button);
  WaitUntilGone(box, "message box");
  Pass("message box \"" + caption + "\": \"" + text + "\"");
}

// The page of the holder that has control `id`.
HWND Page(int id) {
  const HWND holder = GetDlgItem(program.main, IDC_PAGE_HOLDER);
  for (HWND child = GetWindow(holder, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (GetDlgItem(child, id) != nullptr) return child;
  }
  Fail("no page with control " + std::to_string(id));
}

// Selects a page the way the page list reports a click on an entry.
HWND ShowPage(int index, int uniqueId, const char* name) {
  const HWND list = GetDlgItem(program.main, IDC_PAGE_LIST);
  Send(list, LB_SETCURSEL, index, 0);
  Send(program.main, WM_COMMAND, MAKEWPARAM(IDC_PAGE_LIST, LBN_SELCHANGE),
       reinterpret_cast<LPARAM>(list));
  const HWND page = Page(uniqueId);
  if (!WaitFor([&] { return IsWindowVisible(page) != FALSE; }))
    Fail(std::string("the ") + name + " page is not shown");
  Pass(std::string("the ") + name + " page is shown");
  return page;
}

bool SamePath(const std::string& a, const std::string& b) {
  return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

// Chooses a file with a page's Browse button: the file dialog comes up, the
// name is typed into its file name box and OK is pressed.
void Browse(HWND page, int browseId, int editId, const std::string& path) {
  Press(page, browseId);
  const HWND dialog = WaitForWindow(IsFileDialog, "file dialog");
  const int nameId = GetDlgItem(dialog, kFileNameCombo) != nullptr ? kFileNameCombo : kFileNameEdit;
  if (!WaitFor([&] {
        Type(dialog, nameId, path);
        return SamePath(ItemText(dialog, nameId), path);
      }))
    Fail("the file dialog's name box does not take " + path);
  Press(dialog, IDOK);
  WaitUntilGone(dialog, "file dialog");
  if (!WaitFor([&] { return SamePath(ItemText(page, editId), path); }))
    Fail("the path field holds \"" + ItemText(page, editId) + "\", not " + path);
  Pass("chose " + path + " in the file dialog");
}

// The rows of a list view of the program. Its messages carry pointers, so
// the item record and the text buffer live in the program's memory.
std::vector<std::vector<std::string>> ReadRows(HWND list, int columns) {
  const HANDLE process = program.process.hProcess;
  const auto count = static_cast<int>(Send(list, LVM_GETITEMCOUNT, 0, 0));
  char* remote = static_cast<char*>(
      VirtualAllocEx(process, nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (remote == nullptr) Fail("no memory in the program for the list's items");
  char* const remoteText = remote + 1024;
  std::vector<std::vector<std::string>> rows;
  for (int row = 0; row < count; ++row) {
    rows.emplace_back();
    for (int column = 0; column < columns; ++column) {
      char text[512] = {};
      LVITEMA item{};
      item.iSubItem = column;
      item.pszText = remoteText;
      item.cchTextMax = sizeof text - 1;
      if (!WriteProcessMemory(process, remote, &item, sizeof item, nullptr) ||
          !WriteProcessMemory(process, remoteText, text, sizeof text, nullptr))
        Fail("cannot write into the program's memory");
      Send(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(remote));
      if (!ReadProcessMemory(process, remoteText, text, sizeof text - 1, nullptr))
        Fail("cannot read the program's memory");
      rows.back().emplace_back(text);
    }
  }
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  return rows;
}

// Opens the tray menu with a right click on the icon, as the shell reports
// it to the window.
HWND OpenTrayMenu() {
  SetCursorPos(600, 300);
  PostMessageA(program.main, RegisterWindowMessageA("WM_TRAYICON"), kTrayIconId, WM_RBUTTONUP);
  const HWND menu =
      WaitForWindow([](HWND window) { return ClassOf(window) == "#32768"; }, "tray menu");
  Pass("the tray menu is open");
  return menu;
}

// Chooses a menu item with the arrow keys, counted from the bottom of the
// menu (Up from no selection or from the top reaches the last item), and
// Enter.
void ChooseFromBottom(HWND menu, int upPresses) {
  for (int i = 0; i < upPresses; ++i) PostMessageA(menu, WM_KEYDOWN, VK_UP, 1);
  PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 1);
  WaitUntilGone(menu, "tray menu");
}

std::string DriveText(char letter) { return std::string(1, letter) + ":"; }

bool DriveExists(char letter) {
  char target[512];
  return QueryDosDeviceA(DriveText(letter).c_str(), target, sizeof target) != 0;
}

// Picks the drive letter `letter` in the Mount page's list, as a user's
// choice in the drop-down would. The list holds the free letters in order,
// so the letter's place is the number of free letters before it.
void ChooseDrive(HWND page, char letter) {
  const HWND box = GetDlgItem(page, IDC_MOUNT_DRIVE_LETTER);
  WPARAM index = 0;
  for (char other = 'A'; other < letter; ++other) {
    const std::string root = DriveText(other) + "\\";
    if (GetDriveTypeA(root.c_str()) == DRIVE_NO_ROOT_DIR) ++index;
  }
  Send(box, CB_SETCURSEL, index, 0);
  Send(page, WM_COMMAND, MAKEWPARAM(IDC_MOUNT_DRIVE_LETTER, CBN_SELCHANGE),
       reinterpret_cast<LPARAM>(box));
  if (Text(box) != DriveText(letter))
    Fail("the Mount page's drive list shows " + Text(box) + ", not " + DriveText(letter));
}

// The bytes written to the drive: three runs, at the start, across the
// middle and at the end of the 2 MB body.
struct Run {
  uint64_t offset;
  DWORD size;
};
constexpr Run kRuns[] = {{0, 4096}, {1048576 - 2048, 8192}, {kVolumeBytes - 4096, 4096}};

std::vector<unsigned char> KnownBytes(const Run& run) {
  std::vector<unsigned char> bytes(run.size);
  for (DWORD i = 0; i < run.size; ++i) {
    const uint64_t at = run.offset + i;
    bytes[i] = static_cast<unsigned char>((at * 131 + (at >> 9) * 7 + 29) & 0xFF);
  }
  return bytes;
}

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

HANDLE OpenDrive(char letter, DWORD access) {
  const std::string device = "\\\\.\\" + DriveText(letter);
  const HANDLE drive = CreateFileA(device.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
  if (drive == INVALID_HANDLE_VALUE)
    Fail("cannot open " + device + ": error " + std::to_string(GetLastError()));
  return drive;
}

void WriteKnownBytes(char letter) {
  const HANDLE drive = OpenDrive(letter, GENERIC_READ | GENERIC_WRITE);
  for (const Run& run : kRuns) {
    const std::vector<unsigned char> bytes = KnownBytes(run);
    OVERLAPPED at = At(run.offset);
    DWORD written = 0;
    if (!WriteFile(drive, bytes.data(), run.size, &written, &at) || written != run.size)
      Fail("writing to the drive failed at " + std::to_string(run.offset));
  }
  CloseHandle(drive);
  Pass("wrote known bytes to \\\\.\\" + DriveText(letter));
}

// Reads the runs back from `letter`; whether each holds the known bytes.
bool ReadsKnownBytes(const char* device, HANDLE source) {
  for (const Run& run : kRuns) {
    std::vector<unsigned char> bytes(run.size);
    OVERLAPPED at = At(run.offset);
    DWORD read = 0;
    if (!ReadFile(source, bytes.data(), run.size, &read, &at) || read != run.size)
      Fail(std::string("reading ") + device + " failed at " + std::to_string(run.offset));
    if (bytes != KnownBytes(run)) return false;
  }
  return true;
}

void CheckKnownBytes(char letter) {
  const HANDLE drive = OpenDrive(letter, GENERIC_READ);
  const bool same = ReadsKnownBytes("the drive", drive);
  CloseHandle(drive);
  if (!same) Fail("the drive does not give back the bytes written to it");
  Pass("read the same bytes back from \\\\.\\" + DriveText(letter));
}

// The volume file holds the bytes encrypted: none of the runs is plain.
void CheckFileIsEncrypted(const std::string& path) {
  const HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail("cannot open " + path);
  for (const Run& run : kRuns) {
    std::vector<unsigned char> bytes(run.size);
    OVERLAPPED at = At(run.offset);
    DWORD read = 0;
    if (!ReadFile(file, bytes.data(), run.size, &read, &at) || read != run.size)
      Fail("cannot read " + path);
    if (bytes == KnownBytes(run)) Fail("the volume file holds the written bytes in plain");
  }
  CloseHandle(file);
  Pass("the volume file holds the bytes encrypted");
}

uint64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return UINT64_MAX;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string FileBytes(const std::string& path) {
  std::string bytes;
  const HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
    bytes.append(buffer, read);
  CloseHandle(file);
  return bytes;
}

// The driver's service: 0 missing, 1 present, 2 present and running.
int ServiceState() {
  const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) Fail("cannot open the service manager");
  const SC_HANDLE service = OpenServiceA(manager, "Velmorcrypt", SERVICE_QUERY_STATUS);
  int state = 0;
  if (service != nullptr) {
    SERVICE_STATUS status{};
    state =
        QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING ? 2 : 1;
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return state;
}

bool ReadValue(const char* key, const char* name, DWORD type, std::string* value) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
    return false;
  char data[1024] = {};
  DWORD seenType = 0;
  DWORD size = sizeof data - 1;
  const bool read = RegQueryValueExA(opened, name, nullptr, &seenType,
                                     reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS &&
                    seenType == type;
  RegCloseKey(opened);
  if (read) value->assign(data, type == REG_DWORD ? sizeof(DWORD) : strlen(data));
  return read;
}

void CheckString(const char* key, const char* name, const std::string& expected) {
  std::string value;
  if (!ReadValue(key, name, REG_SZ, &value) || !SamePath(value, expected))
    Fail(std::string(name) + " holds \"" + value + "\", expected \"" + expected + "\"");
  Pass(std::string(name) + " = " + value);
}

void CheckFlag(const char* name) {
  std::string value;
  DWORD flag = 0;
  if (!ReadValue("SOFTWARE\\Kestrane\\Velmorcrypt\\Settings", name, REG_DWORD, &value))
    Fail(std::string(name) + " was not written");
  memcpy(&flag, value.data(), sizeof flag);
  if (flag != 1) Fail(std::string(name) + " holds " + std::to_string(flag));
  Pass(std::string(name) + " = 1");
}

void StartProgram(const std::string& appFolder) {
  const std::string exe = appFolder + "velmorcrypt.exe";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessA(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, appFolder.c_str(),
                      &startup, &program.process))
    Fail("cannot start " + exe);
  if (!WaitFor(
          [&] {
            const HWND main = FindWindowA("#32770", "Velmorcrypt Vozeri");
            if (main == nullptr || !IsProgramWindow(main)) return false;
            program.main = main;
            return true;
          },
          60000))
    Fail("the main window did not appear");
  Pass("velmorcrypt.exe started and shows its main window");
}

void CheckStatusRows(const std::vector<std::string>& expected) {
  const HWND status = ShowPage(0, IDC_STATUS_DRIVER_STATUS, "Status");
  const auto rows = ReadRows(GetDlgItem(status, IDC_STATUS_LIST), 4);
  if (expected.empty()
          ? !rows.empty()
          : rows.size() != 1 || rows[0][0] != expected[0] || !SamePath(rows[0][1], expected[1]) ||
                rows[0][2] != expected[2] || rows[0][3] != expected[3]) {
    std::string seen;
    for (const auto& row : rows)
      seen += " [" + row[0] + "|" + row[1] + "|" + row[2] + "|" + row[3] + "]";
    Fail("the Status page lists" + (seen.empty() ? std::string(" nothing") : seen));
  }
  Pass(expected.empty() ? "the Status page lists no drive"
                        : "the Status page lists " + expected[0] + " " + expected[1] + " " +
                              expected[2] + " " + expected[3]);
}

void Mount(const std::string& volume, const std::string& header, char letter,
           const std::string& password, bool expectSuccess, const char* picture) {
  const HWND mount = ShowPage(2, IDC_MOUNT_BUTTON, "Mount");
  Browse(mount, IDC_MOUNT_BROWSE_VOLUME, IDC_MOUNT_VOLUME_PATH, volume);
  Browse(mount, IDC_MOUNT_BROWSE_HEADER, IDC_MOUNT_HEADER_PATH, header);
  ChooseDrive(mount, letter);
  if (Send(GetDlgItem(mount, IDC_MOUNT_READ_ONLY), BM_GETCHECK, 0, 0) != BST_UNCHECKED)
    Fail("Read Only is ticked");
  Type(mount, IDC_MOUNT_PASSWORD, password);
  if (picture != nullptr) Screenshot(picture);
  Press(mount, IDC_MOUNT_BUTTON);
  if (!expectSuccess) {
    Answer("Mount Error", "Error decrypting header information with the supplied password.");
    if (DriveExists(letter)) Fail("the drive exists after a refused mount");
    Pass("the old password no longer opens the volume");
    return;
  }
  Answer("Mount", "Velmorcrypt volume successfully mounted.");
  if (!DriveExists(letter)) Fail(DriveText(letter) + " does not exist after the mount");
  if (!ItemText(mount, IDC_MOUNT_VOLUME_PATH).empty() ||
      !ItemText(mount, IDC_MOUNT_HEADER_PATH).empty() ||
      !ItemText(mount, IDC_MOUNT_PASSWORD).empty())
    Fail("the Mount page's fields are not cleared after the mount");
  Pass("mounted read-write as " + DriveText(letter));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: journey.exe <build folder> <work folder>\n");
    return 2;
  }
  const std::string build = std::string(argv[1]) + "\\";
  const std::string work = std::string(argv[2]) + "\\";
  const std::string appFolder = work + "app\\";
  const std::string data = work + "data\\";
  const std::string volume = data + "journey.vmv";
  const std::string header = data + "journey.ehb";
  const char letter = 'M';

  // A fresh folder with the program and its driver, as a user unpacks it.
  CreateDirectoryA(appFolder.c_str(), nullptr);
  for (const char* name : {"velmorcrypt.exe", "velmorcrypt.sys"}) {
    if (!CopyFileA((build + name).c_str(), (appFolder + name).c_str(), TRUE))
      Fail(std::string("cannot copy ") + name);
  }
  if (ServiceState() != 0) Fail("the driver service exists before the start");
  HKEY product = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Kestrane\\Velmorcrypt", 0, KEY_READ, &product) ==
      ERROR_SUCCESS)
    Fail("the settings exist before the first start");
  Pass("a fresh prefix: no driver service and no settings yet");
  StartProgram(appFolder);

  // The driver is installed and runs.
  const HWND status = Page(IDC_STATUS_DRIVER_STATUS);
  if (!WaitFor([&] { return ItemText(status, IDC_STATUS_DRIVER_STATUS) == "Started"; }))
    Fail("the Status page shows \"" + ItemText(status, IDC_STATUS_DRIVER_STATUS) +
         "\", not \"Started\"");
  const std::string version = ItemText(status, IDC_STATUS_DRIVER_VERSION);
  if (version == "Unknown" || version.empty()) Fail("the driver version is " + version);
  if (ServiceState() != 2) Fail("the driver service does not run");
  Pass("the Status page shows the driver Started, version " + version);
  Screenshot("status-start");

  // A 2 MB AES-256 volume with its header in an external header block.
  const HWND create = ShowPage(1, IDC_CREATE_BUTTON, "Create");
  Browse(create, IDC_CREATE_BROWSE_VOLUME, IDC_CREATE_VOLUME_PATH, volume);
  Browse(create, IDC_CREATE_BROWSE_HEADER, IDC_CREATE_HEADER_PATH, header);
  Type(create, IDC_CREATE_SIZE, "2");
  const HWND algorithms = GetDlgItem(create, IDC_CREATE_ALGORITHM);
  Send(algorithms, CB_SETCURSEL, 1, 0);
  Send(create, WM_COMMAND, MAKEWPARAM(IDC_CREATE_ALGORITHM, CBN_SELCHANGE),
       reinterpret_cast<LPARAM>(algorithms));
  if (Text(algorithms) != "AES-256") Fail("the algorithm list shows " + Text(algorithms));
  Type(create, IDC_CREATE_PASSWORD, kFirstPassword);
  Type(create, IDC_CREATE_CONFIRM, kFirstPassword);
  Screenshot("create-filled");
  Press(create, IDC_CREATE_BUTTON);
  Answer("Create", "Velmorcrypt volume successfully created.", IDOK, "create-done");
  if (FileSize(volume) != kVolumeBytes) Fail("the volume file is not 2 MB");
  if (FileSize(header) != 1044) Fail("the external header block is not 1044 bytes");
  if (!ItemText(create, IDC_CREATE_VOLUME_PATH).empty() ||
      !ItemText(create, IDC_CREATE_PASSWORD).empty())
    Fail("the Create page's fields are not cleared after the creation");
  Pass("created a 2 MB volume and a 1044-byte external header block");

  // Mount, write, see it listed.
  Mount(volume, header, letter, kFirstPassword, true, "mount-filled");
  WriteKnownBytes(letter);
  CheckKnownBytes(letter);
  const std::vector<std::string> row = {DriveText(letter), volume, "AES-256", "2 MB"};
  CheckStatusRows(row);
  Screenshot("status-mounted");

  // Dismount from the tray menu: from the bottom, "Exit" (disabled now),
  // then the drive's item.
  const HWND menu = OpenTrayMenu();
  Screenshot("tray-menu");
  ChooseFromBottom(menu, 2);
  Pass("chose the drive's item in the tray menu with the keyboard");
  Answer("Dismount", "Drive " + DriveText(letter) + " successfully dismounted.");
  if (!WaitFor([&] { return !DriveExists(letter); })) Fail("the drive is still there");
  CheckStatusRows({});
  CheckFileIsEncrypted(volume);

  // Change the password of the external header block.
  const std::string headerBefore = FileBytes(header);
  const std::string bodyBefore = FileBytes(volume);
  const HWND options = ShowPage(3, IDC_OPTIONS_REMEMBER_DIRECTORY, "Options");
  Press(options, IDC_OPTIONS_CHANGE_PASSWORD);
  const HWND dialog = WaitForWindow(
      [](HWND window) { return IsDialog(window) && Text(window) == "Change Password"; },
      "Change Password dialog");
  Pass("the Change Password dialog is open");
  Type(dialog, IDC_PASSWORD_FILE, header);
  Type(dialog, IDC_PASSWORD_CURRENT, kFirstPassword);
  Type(dialog, IDC_PASSWORD_NEW, kNewPassword);
  Type(dialog, IDC_PASSWORD_CONFIRM, kNewPassword);
  Screenshot("change-password");
  Press(dialog, IDOK);
  Answer("Apply", "Password successfully changed.");
  WaitUntilGone(dialog, "Change Password dialog");
  const std::string headerAfter = FileBytes(header);
  if (headerAfter.size() != 1044 || headerAfter == headerBefore)
    Fail("the external header block was not rewritten");
  if (FileBytes(volume) != bodyBefore) Fail("the password change touched the volume body");
  Pass("the password is changed; only the header block was rewritten");

  // The old password is refused, the new one mounts the same bytes.
  Mount(volume, header, letter, kFirstPassword, false, nullptr);
  Mount(volume, header, letter, kNewPassword, true, nullptr);
  CheckKnownBytes(letter);
  CheckStatusRows(row);

  // Dismount all from the Status page.
  Press(Page(IDC_STATUS_DRIVER_STATUS), IDC_STATUS_DISMOUNT_ALL);
  Answer("Dismount All", "All 1 drive(s) successfully dismounted.");
  if (DriveExists(letter)) Fail("the drive is still there after Dismount All");
  CheckStatusRows({});

  // Exit from the tray menu: its last item.
  ChooseFromBottom(OpenTrayMenu(), 1);
  Pass("chose Exit in the tray menu with the keyboard");
  if (WaitForSingleObject(program.process.hProcess, 30000) != WAIT_OBJECT_0)
    Fail("the program did not end after Exit");
  DWORD code = 0;
  GetExitCodeProcess(program.process.hProcess, &code);
  if (code != kExitCode) Fail("the exit code is " + std::to_string(code));
  Pass("the program ended with exit code 32773");
  if (!WaitFor([] { return ServiceState() == 0; })) Fail("the driver service is still there");
  Pass("the driver service is removed");

  const char settings[] = "SOFTWARE\\Kestrane\\Velmorcrypt\\";
  for (const char* flag :
       {"RememberLastDirectory", "RememberMountedDrives", "ExploreDrivesAfterMounting"})
    CheckFlag(flag);
  CheckString((std::string(settings) + "RecentlyMountedList").c_str(), "Entry0",
              DriveText(letter) + "," + volume);
  // The second mount of the same volume on the same drive left the list as
  // it was: one volume.
  std::string second;
  if (ReadValue((std::string(settings) + "RecentlyMountedList").c_str(), "Entry1", REG_SZ, &second))
    Fail("Entry1 holds \"" + second + "\"");
  Pass("the recently mounted list holds the one volume");
  const std::string directories = std::string(settings) + "LastDirectories";
  for (const char* name : {"CreateDirectory", "MountDirectory", "ToolsDirectory"})
    CheckString(directories.c_str(), name, data);
  printf("done\n");
  fflush(stdout);
  return 0;
}
