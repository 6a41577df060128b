#include "tests/windows/test_support.h"

#include <commctrl.h>
#include <string.h>

#include <utility>

namespace test_support {

namespace {

constexpr char kHostClass[] = "VelmorcryptTestHost";
constexpr char kDialogClass[] = "#32770";
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr int kFileNameCombo = 0x047C;  // cmb13 of the explorer-style file dialogs

bool IsOwnVisibleDialog(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return false;
  char name[16] = {};
  GetClassNameA(window, name, sizeof name);
  return strcmp(name, kDialogClass) == 0;
}

bool IsMessageBox(HWND window) {
  return IsOwnVisibleDialog(window) && GetDlgItem(window, kMessageBoxTextId) != nullptr &&
         FindWindowExA(window, nullptr, "Edit", nullptr) == nullptr;
}

struct Search {
  bool (*match)(HWND, const std::string&);
  std::string caption;
  HWND found = nullptr;
};

BOOL CALLBACK SearchWindow(HWND window, LPARAM param) {
  Search& search = *reinterpret_cast<Search*>(param);
  if (!search.match(window, search.caption)) return TRUE;
  search.found = window;
  return FALSE;
}

HWND FindTopLevel(bool (*match)(HWND, const std::string&), const std::string& caption) {
  Search search{match, caption};
  EnumWindows(&SearchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

template <class F>
auto Poll(F find, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    auto found = find();
    if (found || GetTickCount() - start > timeoutMs) return found;
    Sleep(20);
  }
}

}  // namespace

void InitControls() {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
}

HWND CreateHostWindow() {
  static const ATOM registered = [] {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kHostClass;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    return RegisterClassA(&windowClass);
  }();
  if (registered == 0) return nullptr;
  HWND host = CreateWindowExA(0, kHostClass, "Pages", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 520,
                              420, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  PumpPending();
  return host;
}

void PumpPending() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    PumpPending();
    if (done()) return true;
    if (GetTickCount() - start > timeoutMs) return done();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

std::string WindowText(HWND window) {
  wchar_t text[1024] = {};
  GetWindowTextW(window, text, 1024);
  char utf8[4096] = {};
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
  return utf8;
}

std::string ItemText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

void SetItemText(HWND dialog, int id, const std::string& text) {
  wchar_t wide[1024] = {};
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide, 1024);
  SetDlgItemTextW(dialog, id, wide);
}

void Click(HWND dialog, int id) {
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void PostClick(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

HWND FindMessageBox() {
  return FindTopLevel([](HWND window, const std::string&) { return IsMessageBox(window); }, {});
}

HWND FindDialog(const std::string& caption) {
  return FindTopLevel(
      [](HWND window, const std::string& wanted) {
        return IsOwnVisibleDialog(window) && WindowText(window) == wanted;
      },
      caption);
}

std::optional<SeenBox> WaitForMessageBox(DWORD timeoutMs) {
  const HWND box = Poll(FindMessageBox, timeoutMs);
  if (box == nullptr) return std::nullopt;
  SeenBox seen;
  seen.window = box;
  seen.text = ItemText(box, kMessageBoxTextId);
  seen.caption = WindowText(box);
  seen.owner = GetWindow(box, GW_OWNER);
  return seen;
}

HWND WaitForDialog(const std::string& caption, DWORD timeoutMs) {
  return Poll([&caption] { return FindDialog(caption); }, timeoutMs);
}

bool WaitUntilGone(HWND window, DWORD timeoutMs) {
  return Poll([window] { return !IsWindow(window); }, timeoutMs);
}

bool AnswerFileDialog(const std::string& caption, const std::string& name) {
  const HWND dialog = WaitForDialog(caption);
  if (dialog == nullptr) return false;
  if (name.empty()) {
    PostClick(dialog, IDCANCEL);
    return WaitUntilGone(dialog);
  }
  SetDlgItemTextA(dialog, kFileNameCombo, name.c_str());
  PostClick(dialog, IDOK);
  if (WaitUntilGone(dialog, 10000)) return true;
  if (const HWND box = FindMessageBox()) {
    PostClick(box, IDOK);
    WaitUntilGone(box);
  }
  PostClick(dialog, IDCANCEL);
  WaitUntilGone(dialog);
  return false;
}

Helper::Helper(std::function<void()> work)
    : thread_([this, work = std::move(work)] {
        work();
        done_ = true;
      }) {}

Helper::~Helper() { Join(); }

void Helper::Join() {
  if (thread_.joinable()) thread_.join();
}

BoxAnswerer::BoxAnswerer(int button, DWORD timeoutMs)
    : helper_([this, button, timeoutMs] {
        seen_ = WaitForMessageBox(timeoutMs);
        if (seen_) PostClick(seen_->window, button);
      }) {}

std::optional<SeenBox> BoxAnswerer::Take() {
  helper_.Join();
  return seen_;
}

}  // namespace test_support
