// A stand-in for the HTML Help library (hhctrl.ocx) that notes how it is
// called: its export 14 takes HtmlHelpA's arguments. The tests register it
// as the HTML Help control's library for the time of a test
// (FakeHtmlHelpRegistration), so the program loads it the way it loads the
// real one.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

struct HtmlHelpCall {
  HWND owner;
  char file[MAX_PATH];
  UINT command;
  DWORD_PTR data;
};

// Exported by name from the stand-in: copies up to `capacity` calls noted
// since the last time and forgets them; returns how many.
using TakeHtmlHelpCallsFunction = int(WINAPI*)(HtmlHelpCall* calls, int capacity);

#ifdef VM_FAKE_HTML_HELP_PATH
#include "tests/windows/driver_support.h"

// Registers the stand-in as the HTML Help control's library below
// HKEY_CLASSES_ROOT while it lives, and restores what was there.
class FakeHtmlHelpRegistration {
 public:
  FakeHtmlHelpRegistration() {
    path_ = driver_support::DosPath(VM_FAKE_HTML_HELP_PATH);
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                        nullptr) != ERROR_SUCCESS) {
      key_ = nullptr;
      return;
    }
    char old[MAX_PATH] = {};
    DWORD size = sizeof old - 1;
    hadValue_ = RegQueryValueExA(key_, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(old),
                                 &size) == ERROR_SUCCESS;
    old_ = old;
    RegSetValueExA(key_, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path_.c_str()),
                   static_cast<DWORD>(path_.size() + 1));
    library_ = LoadLibraryA(path_.c_str());
  }
  ~FakeHtmlHelpRegistration() {
    if (key_ != nullptr) {
      if (hadValue_) {
        RegSetValueExA(key_, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(old_.c_str()),
                       static_cast<DWORD>(old_.size() + 1));
      } else {
        RegDeleteValueA(key_, nullptr);
      }
      RegCloseKey(key_);
    }
    if (library_ != nullptr) FreeLibrary(library_);
  }
  FakeHtmlHelpRegistration(const FakeHtmlHelpRegistration&) = delete;
  FakeHtmlHelpRegistration& operator=(const FakeHtmlHelpRegistration&) = delete;

  bool Ready() const { return key_ != nullptr && library_ != nullptr; }

  // The calls the stand-in received since the last time.
  std::vector<HtmlHelpCall> TakeCalls() const {
    std::vector<HtmlHelpCall> calls(16);
    auto take = reinterpret_cast<TakeHtmlHelpCallsFunction>(
        reinterpret_cast<void*>(GetProcAddress(library_, "TakeHtmlHelpCalls")));
    calls.resize(take == nullptr ? 0 : take(calls.data(), static_cast<int>(calls.size())));
    return calls;
  }

 private:
  static constexpr char kKey[] = "CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";
  std::string path_;
  HKEY key_ = nullptr;
  bool hadValue_ = false;
  std::string old_;
  HMODULE library_ = nullptr;
};
#endif
