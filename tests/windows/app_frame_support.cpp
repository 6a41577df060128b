#include "tests/windows/app_frame_support.h"

#include <stdint.h>

#include "driver/auto_dismount.h"
#include "driver/dismount.h"
#include "driver/mount_command.h"
#include "driver/service.h"
#include "driver/win32_port.h"
#include "platform/file.h"
#include "tests/windows/driver_support.h"
#include "volume/create_volume.h"
#include "volume/header.h"

namespace frame_test {

namespace {

constexpr char kPassword[] = "frame test password";
constexpr char kProductKey[] = "SOFTWARE\\Kestrane\\Velmorcrypt";

class NoTimer : public MinuteTimer {
 public:
  bool Start() override { return true; }
  void Stop() override {}
};

}  // namespace

bool StartDriver() { return driver_support::InstallFromProgramFolder("vm-frame-program"); }

bool RemoveDriverService() { return RemoveDriver(SystemServicePort()); }

bool DriverServiceExists() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return false;
  SC_HANDLE service = OpenServiceA(manager, kDriverServiceName, SERVICE_ALL_ACCESS);
  if (service != nullptr) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return service != nullptr;
}

char FreeDriveLetter() {
  const DWORD used = GetLogicalDrives();
  for (char letter = 'M'; letter <= 'Z'; ++letter) {
    char name[3] = {letter, ':', '\0'};
    char target[256];
    if ((used & (1u << (letter - 'A'))) == 0 && QueryDosDeviceA(name, target, sizeof target) == 0) {
      return letter;
    }
  }
  return 0;
}

std::string TempFile(const std::string& name) {
  char folder[MAX_PATH];
  GetTempPathA(sizeof folder, folder);
  return std::string(folder) + name;
}

bool CreateAndMount(const std::string& path, uint32_t sizeMb, char letter) {
  DeleteFileA(path.c_str());
  CreateVolumeInput input;
  input.volumePath = path;
  input.sizeMb = sizeMb;
  input.password = kPassword;
  input.confirmation = kPassword;
  input.algorithm = 2;  // AES-256
  if (!CreateVolume(SystemFileSystem(), input).outcome.success) return false;

  MountPageState state;
  state.volumePath = path;
  state.password = kPassword;
  state.driveText = std::string(1, letter) + ":";
  NoTimer timer;
  return RunMountCommand(state, SystemFileSystem(), SystemDriverPort(), timer).outcome.success;
}

bool Dismount(char letter) { return DismountVolume(SystemDriverPort(), letter, 0, 1); }

void ResetSettings() { RegDeleteTreeA(HKEY_CURRENT_USER, kProductKey); }

void WriteDword(const char* key, const char* name, DWORD value) {
  HKEY handle = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle,
                      nullptr) != ERROR_SUCCESS) {
    return;
  }
  RegSetValueExA(handle, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(handle);
}

void WriteString(const char* key, const char* name, const std::string& value) {
  HKEY handle = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle,
                      nullptr) != ERROR_SUCCESS) {
    return;
  }
  RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(handle);
}

bool ReadString(const char* key, const char* name, std::string* value) {
  char buffer[1024] = {};
  DWORD size = sizeof buffer - 1;
  if (RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  *value = buffer;
  return true;
}

std::string TextOf(HWND window) {
  char text[512] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

}  // namespace frame_test
