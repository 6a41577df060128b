// Helpers of the frame's tests: the stand-in driver as a service, volumes
// made by the creation engine and mounted through the driver, the settings
// in the registry, and the program started as a process of its own.
#pragma once
#include <windows.h>

#include <string>

namespace frame_test {

// Installs and starts the stand-in driver (a service left by an earlier run
// is removed first); false when it does not run.
bool StartDriver();
// Stops and deletes the driver's service; whether it existed.
bool RemoveDriverService();
bool DriverServiceExists();

// A drive letter that nothing uses, from M upward.
char FreeDriveLetter();
// A file name in this program's temporary folder.
std::string TempFile(const std::string& name);
// Makes a volume of `sizeMb` megabytes with AES-256 and mounts it on
// `letter`; false when either step fails.
bool CreateAndMount(const std::string& path, uint32_t sizeMb, char letter);
// Takes a drive off, forced, without a message.
bool Dismount(char letter);

// The program's settings below HKEY_CURRENT_USER.
void ResetSettings();
void WriteDword(const char* key, const char* name, DWORD value);
void WriteString(const char* key, const char* name, const std::string& value);
// False when the value is missing.
bool ReadString(const char* key, const char* name, std::string* value);
inline constexpr char kSettingsKey[] = "SOFTWARE\\Kestrane\\Velmorcrypt\\Settings";
inline constexpr char kRecentKey[] = "SOFTWARE\\Kestrane\\Velmorcrypt\\RecentlyMountedList";
inline constexpr char kDirectoriesKey[] = "SOFTWARE\\Kestrane\\Velmorcrypt\\LastDirectories";

// Polls `condition` every 20 ms for up to `timeoutMs`; the last answer.
template <class Condition>
bool WaitFor(Condition condition, DWORD timeoutMs = 20000) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) return true;
    if (GetTickCount64() > end) return false;
    Sleep(20);
  }
}

// The text of a window of any process.
std::string TextOf(HWND window);

}  // namespace frame_test
