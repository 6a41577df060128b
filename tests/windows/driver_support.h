// Helpers of the Wine tests that run the stand-in driver: paths of the build
// tree in the DOS form Wine gives them, and the driver installed as the
// program installs it (from the current folder, which holds the driver file),
// for one test or for a whole test program.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "driver/service.h"
#include "driver/win32_port.h"

namespace driver_support {

// A Unix path (of the build tree) in the DOS form Wine gives it; unchanged
// where there is no Wine.
inline std::string DosPath(const char* unixPath) {
  using ToDos = WCHAR*(CDECL*)(const char*);
  auto toDos = reinterpret_cast<ToDos>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_dos_file_name")));
  if (toDos == nullptr) return unixPath;
  WCHAR* dos = toDos(unixPath);
  if (dos == nullptr) return unixPath;
  char buffer[MAX_PATH];
  WideCharToMultiByte(CP_ACP, 0, dos, -1, buffer, sizeof buffer, nullptr, nullptr);
  HeapFree(GetProcessHeap(), 0, dos);
  return buffer;
}

// The folder `name` in the temporary folder, made if missing; no trailing
// backslash.
inline std::string TempFolder(const char* name) {
  char buffer[MAX_PATH];
  const DWORD length = GetTempPathA(sizeof buffer, buffer);
  std::string folder = std::string(buffer, length) + name;
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

#ifdef VM_STANDIN_DRIVER_PATH
// The built stand-in driver.
inline std::string BuiltDriverPath() { return DosPath(VM_STANDIN_DRIVER_PATH); }

// Copies the built driver into the temporary folder `name`, makes that
// folder the current directory (as the program's folder is at its start)
// and installs the driver from it; a service left by an earlier run is
// removed first. False when the driver does not run.
inline bool InstallFromProgramFolder(const char* name) {
  RemoveDriver(SystemServicePort());
  const std::string folder = TempFolder(name);
  CopyFileA(BuiltDriverPath().c_str(), (folder + "\\" + kDriverFileName).c_str(), FALSE);
  return SetCurrentDirectoryA(folder.c_str()) &&
         InstallDriver(SystemDriverPort(), SystemServicePort());
}

// The driver runs for the whole test program, installed from the program
// folder `name`.
class InstalledDriver : public testing::Environment {
 public:
  explicit InstalledDriver(const char* folder) : folder_(folder) {}
  void SetUp() override { ASSERT_TRUE(InstallFromProgramFolder(folder_)); }
  void TearDown() override { RemoveDriver(SystemServicePort()); }

 private:
  const char* folder_;
};
#endif

}  // namespace driver_support
