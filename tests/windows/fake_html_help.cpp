// The stand-in for the HTML Help library (fake_html_help.h).
#include "tests/windows/fake_html_help.h"

#include <string.h>

namespace {

constexpr int kCapacity = 16;
HtmlHelpCall noted[kCapacity];
int count = 0;

}  // namespace

extern "C" __declspec(dllexport) HWND WINAPI
    FakeHtmlHelpA(HWND owner, LPCSTR file, UINT command, DWORD_PTR data) {
  if (count < kCapacity) {
    HtmlHelpCall& call = noted[count++];
    call.owner = owner;
    lstrcpynA(call.file, file == nullptr ? "" : file, sizeof call.file);
    call.command = command;
    call.data = data;
  }
  return nullptr;
}

extern "C" __declspec(dllexport) int WINAPI TakeHtmlHelpCalls(HtmlHelpCall* calls, int capacity) {
  const int taken = count < capacity ? count : capacity;
  memcpy(calls, noted, sizeof(HtmlHelpCall) * static_cast<size_t>(taken));
  count = 0;
  return taken;
}
