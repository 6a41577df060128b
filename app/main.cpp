// The program's entry: one copy per machine, COM and the common controls,
// then the main window and its message loop.
#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <objbase.h>

#include "app/main_window.h"

namespace {

// Marks that a copy runs. Made before the entry runs; the handle is closed
// when the process ends.
class SingleInstanceMark {
 public:
  SingleInstanceMark()
      : handle_(CreateMutexA(nullptr, FALSE, "Global\\{6F1D3A52-8C4B-4E27-9B0A-3D5E7C21F948}")),
        alreadyRunning_(GetLastError() == ERROR_ALREADY_EXISTS) {}
  ~SingleInstanceMark() {
    if (handle_ != nullptr) CloseHandle(handle_);
  }
  SingleInstanceMark(const SingleInstanceMark&) = delete;
  SingleInstanceMark& operator=(const SingleInstanceMark&) = delete;

  bool AlreadyRunning() const { return alreadyRunning_; }

 private:
  HANDLE handle_;
  bool alreadyRunning_;
};

const SingleInstanceMark singleInstance;

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // A second copy ends at once, without a window or a message.
  if (singleInstance.AlreadyRunning()) return 0;

  CoInitialize(nullptr);
  // The bar classes give the tool tips of the caption buttons; the pages add
  // the list view, the up-down controls and the progress bar.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES |
                                                     ICC_UPDOWN_CLASS | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  const int code = RunMainWindow();

  CoUninitialize();
  return code;
}
