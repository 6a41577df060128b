#include "app/help.h"

namespace {

using HtmlHelpFunction = HWND(WINAPI*)(HWND owner, LPCSTR file, UINT command, DWORD_PTR data);

constexpr char kHtmlHelpServerKey[] =
    "CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";
constexpr char kHtmlHelpLibrary[] = "hhctrl.ocx";
constexpr WORD kHtmlHelpOrdinal = 14;  // HtmlHelpA
constexpr UINT kDisplayTopic = 0;      // HH_DISPLAY_TOPIC

// The library's path as registered for the HTML Help control, or empty.
std::string RegisteredLibraryPath() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, kHtmlHelpServerKey, 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS) {
    return {};
  }
  char path[260] = {};
  DWORD size = sizeof path - 1;
  DWORD type = 0;
  const LONG status =
      RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
  path[size < sizeof path ? size : sizeof path - 1] = '\0';
  return path;
}

HtmlHelpFunction LoadHtmlHelp() {
  HMODULE library = nullptr;
  const std::string registered = RegisteredLibraryPath();
  if (!registered.empty()) library = LoadLibraryA(registered.c_str());
  if (library == nullptr) library = LoadLibraryA(kHtmlHelpLibrary);
  if (library == nullptr) return nullptr;
  FARPROC entry = GetProcAddress(library, MAKEINTRESOURCEA(kHtmlHelpOrdinal));
  if (entry == nullptr) {
    FreeLibrary(library);
    return nullptr;
  }
  return reinterpret_cast<HtmlHelpFunction>(reinterpret_cast<void*>(entry));
}

}  // namespace

void ShowHelp(HWND owner, const std::string& helpFile) {
  // Loaded once; a failed load is remembered and help does nothing after it.
  static const HtmlHelpFunction htmlHelp = LoadHtmlHelp();
  if (htmlHelp == nullptr) return;
  htmlHelp(owner, helpFile.c_str(), kDisplayTopic, 0);
}
