#include "driver/win32_port.h"

#include <string.h>
#include <windows.h>

#include <vector>

namespace {

constexpr DWORD kDosDeviceBufferSize = 256;
// A stopping driver is waited for at most 5 seconds.
constexpr int kStopWaits = 50;
constexpr DWORD kStopWaitMilliseconds = 100;
constexpr DWORD kDirectoryBufferSize = MAX_PATH;

DWORD DesiredAccess(DeviceAccess access) {
  switch (access) {
    case DeviceAccess::kNone:
      return 0;
    case DeviceAccess::kRead:
      return GENERIC_READ;
    case DeviceAccess::kWrite:
      return GENERIC_WRITE;
    case DeviceAccess::kReadWrite:
      return GENERIC_READ | GENERIC_WRITE;
  }
  return 0;
}

uint32_t LastErrorCode() {
  const DWORD error = GetLastError();
  return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

class Win32Device : public Device {
 public:
  explicit Win32Device(HANDLE handle) : handle_(handle) {}
  ~Win32Device() override { CloseHandle(handle_); }
  Win32Device(const Win32Device&) = delete;
  Win32Device& operator=(const Win32Device&) = delete;

  uint32_t Control(uint32_t code, const void* input, uint32_t inputSize, void* output,
                   uint32_t outputSize) override {
    DWORD returned = 0;
    if (DeviceIoControl(handle_, code, const_cast<void*>(input), inputSize, output, outputSize,
                        &returned, nullptr)) {
      return kNoError;
    }
    return LastErrorCode();
  }

 private:
  HANDLE handle_;
};

class Win32DriverService : public DriverService {
 public:
  explicit Win32DriverService(SC_HANDLE handle) : handle_(handle) {}
  ~Win32DriverService() override { CloseServiceHandle(handle_); }
  Win32DriverService(const Win32DriverService&) = delete;
  Win32DriverService& operator=(const Win32DriverService&) = delete;

  uint32_t Start() override {
    return StartServiceA(handle_, 0, nullptr) ? kNoError : LastErrorCode();
  }
  bool Stop() override {
    SERVICE_STATUS status;
    ControlService(handle_, SERVICE_CONTROL_STOP, &status);
    for (int wait = 0; wait < kStopWaits; ++wait) {
      if (!QueryServiceStatus(handle_, &status)) return false;
      if (status.dwCurrentState != SERVICE_STOP_PENDING) break;
      Sleep(kStopWaitMilliseconds);
    }
    return status.dwCurrentState == SERVICE_STOPPED;
  }
  bool Delete() override { return DeleteService(handle_) != FALSE; }

 private:
  SC_HANDLE handle_;
};

class Win32ServiceManager : public ServiceManager {
 public:
  explicit Win32ServiceManager(SC_HANDLE handle) : handle_(handle) {}
  ~Win32ServiceManager() override { CloseServiceHandle(handle_); }
  Win32ServiceManager(const Win32ServiceManager&) = delete;
  Win32ServiceManager& operator=(const Win32ServiceManager&) = delete;

  uint32_t CreateDriverService(const std::string& binaryPath) override {
    SC_HANDLE service =
        CreateServiceA(handle_, kDriverServiceName, kDriverServiceName, SERVICE_ALL_ACCESS,
                       SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                       binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!service) return LastErrorCode();
    CloseServiceHandle(service);
    return kNoError;
  }

  std::unique_ptr<DriverService> OpenDriverService() override {
    SC_HANDLE service = OpenServiceA(handle_, kDriverServiceName, SERVICE_ALL_ACCESS);
    if (!service) return nullptr;
    return std::make_unique<Win32DriverService>(service);
  }

 private:
  SC_HANDLE handle_;
};

}  // namespace

std::unique_ptr<Device> Win32DriverPort::OpenDevice(const std::string& path, DeviceAccess access) {
  HANDLE handle =
      CreateFileA(path.c_str(), DesiredAccess(access), FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32Device>(handle);
}

bool Win32DriverPort::DefineRawDosDevice(const std::string& name, const std::string& target) {
  return DefineDosDeviceA(DDD_RAW_TARGET_PATH, name.c_str(), target.c_str()) != FALSE;
}

bool Win32DriverPort::RemoveDosDevice(const std::string& name) {
  return DefineDosDeviceA(DDD_REMOVE_DEFINITION, name.c_str(), nullptr) != FALSE;
}

bool Win32DriverPort::RemoveMountPoint(const std::string& root) {
  return DeleteVolumeMountPointA(root.c_str()) != FALSE;
}

bool Win32DriverPort::QueryDosTarget(const std::string& name, std::string* target) {
  char targets[kDosDeviceBufferSize];
  if (QueryDosDeviceA(name.c_str(), targets, sizeof targets) == 0) return false;
  target->assign(targets, strnlen(targets, sizeof targets));
  return true;
}

void Win32DriverPort::Wait(uint32_t milliseconds) { Sleep(milliseconds); }

bool Win32ServicePort::CurrentDirectory(std::string* directory) {
  char buffer[kDirectoryBufferSize];
  const DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
  if (length == 0 || length >= sizeof buffer) return false;
  directory->assign(buffer, length);
  return true;
}

bool Win32ServicePort::FileOpens(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

std::unique_ptr<ServiceManager> Win32ServicePort::OpenManager() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) return nullptr;
  return std::make_unique<Win32ServiceManager>(manager);
}

DriverPort& SystemDriverPort() {
  static Win32DriverPort port;
  return port;
}

ServicePort& SystemServicePort() {
  static Win32ServicePort port;
  return port;
}

bool GetLogonSessionId(uint32_t* logonSessionId) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  GetTokenInformation(token, TokenStatistics, nullptr, 0, &size);
  std::vector<uint8_t> buffer(size);
  const bool read = size >= sizeof(TOKEN_STATISTICS) &&
                    GetTokenInformation(token, TokenStatistics, buffer.data(), size, &size);
  CloseHandle(token);
  if (!read) return false;
  TOKEN_STATISTICS statistics;
  memcpy(&statistics, buffer.data(), sizeof statistics);
  *logonSessionId = statistics.AuthenticationId.LowPart;
  return true;
}
