// Helpers of the window tests: a host window for pages, message pumping, and
// a helper thread that answers the message boxes (and other modal windows)
// that the interface thread blocks in.
//
// A message box is a "#32770" window of this process with its text in the
// static control 0xFFFF and no edit control. The helper thread presses
// buttons by posting BM_CLICK, so that it never waits for the interface
// thread while that thread waits in a modal loop.
#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/file.h"

namespace test_support {

// Registers the common controls the templates use.
void InitControls();

// A visible top-level window to hold pages; destroyed by the caller.
HWND CreateHostWindow();

// Dispatches this thread's messages until `done` holds or `timeoutMs` has
// passed; returns the last value of `done`.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 20000);
// Dispatches the messages waiting now.
void PumpPending();

// Texts in UTF-8, read and written as Unicode, as a user types them.
std::string WindowText(HWND window);
std::string ItemText(HWND dialog, int id);
// SetDlgItemTextW, from the window's own thread (or any thread while that
// thread waits in a modal loop).
void SetItemText(HWND dialog, int id, const std::string& text);
// Sends WM_COMMAND with BN_CLICKED from button `id` to `dialog` and returns
// when the handler has run (the handler may block in a modal loop that a
// helper thread ends).
void Click(HWND dialog, int id);
// Posts BM_CLICK to button `id` of `dialog`; returns at once.
void PostClick(HWND dialog, int id);

struct SeenBox {
  HWND window = nullptr;
  std::string text;
  std::string caption;
  HWND owner = nullptr;  // GetWindow(GW_OWNER)
};

// A message box of this process that is visible now, or nullptr.
HWND FindMessageBox();
// A visible top-level "#32770" window of this process with this caption.
HWND FindDialog(const std::string& caption);
// Waits for a message box and reads it.
std::optional<SeenBox> WaitForMessageBox(DWORD timeoutMs = 20000);
// Waits for the dialog with this caption.
HWND WaitForDialog(const std::string& caption, DWORD timeoutMs = 20000);
// Waits until `window` is gone.
bool WaitUntilGone(HWND window, DWORD timeoutMs = 20000);

// In the file dialog with this caption, types `name` as the file name and
// presses OK (an empty name presses Cancel). If the dialog stays, any box it
// shows is answered and the dialog cancelled, so that the caller is never
// left blocked; false then.
bool AnswerFileDialog(const std::string& caption, const std::string& name);

// Runs `work` on a helper thread; Join waits for it. Declared before the
// action that blocks the interface thread.
class Helper {
 public:
  explicit Helper(std::function<void()> work);
  ~Helper();
  Helper(const Helper&) = delete;
  Helper& operator=(const Helper&) = delete;
  void Join();
  bool Done() const { return done_; }

 private:
  std::thread thread_;
  std::atomic<bool> done_{false};
};

// A helper that waits for one message box, reads it and presses `button`.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(int button = IDOK, DWORD timeoutMs = 20000);
  // Waits for the helper and returns the box it answered, if any.
  std::optional<SeenBox> Take();
  bool Done() const { return helper_.Done(); }

 private:
  std::optional<SeenBox> seen_;
  Helper helper_;
};

// The system's files, whose writes after the first two megabytes each take a
// tenth of a second: a creation of 300 MB then runs for half a minute, so a
// cancellation always arrives while it runs, however fast the disk.
class SlowFileSystem : public FileSystem {
 public:
  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
    std::unique_ptr<File> file = SystemFileSystem().Open(path, mode);
    if (!file) return file;
    return std::make_unique<SlowFile>(std::move(file));
  }
  bool Remove(const std::string& path) override { return SystemFileSystem().Remove(path); }
  bool FreeSpace(const std::string& path, uint64_t* bytes) override {
    return SystemFileSystem().FreeSpace(path, bytes);
  }

 private:
  class SlowFile : public File {
   public:
    explicit SlowFile(std::unique_ptr<File> file) : file_(std::move(file)) {}
    bool ReadAt(uint64_t offset, void* data, uint32_t size) override {
      return file_->ReadAt(offset, data, size);
    }
    bool WriteAt(uint64_t offset, const void* data, uint32_t size) override {
      if (++writes_ > 2) Sleep(100);
      return file_->WriteAt(offset, data, size);
    }
    bool Size(uint64_t* size) override { return file_->Size(size); }
    bool SetSize(uint64_t size) override { return file_->SetSize(size); }
    bool Flush() override { return file_->Flush(); }

   private:
    std::unique_ptr<File> file_;
    int writes_ = 0;
  };
};

}  // namespace test_support
