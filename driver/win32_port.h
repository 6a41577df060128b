// The Win32 side of the driver interface: device handles, DOS devices, the
// service control manager and the process token. Windows only.
#pragma once
#include <stdint.h>

#include "driver/driver_port.h"
#include "driver/service.h"

class Win32DriverPort : public DriverPort {
 public:
  std::unique_ptr<Device> OpenDevice(const std::string& path, DeviceAccess access) override;
  bool DefineRawDosDevice(const std::string& name, const std::string& target) override;
  bool RemoveDosDevice(const std::string& name) override;
  bool RemoveMountPoint(const std::string& root) override;
  bool QueryDosTarget(const std::string& name, std::string* target) override;
  void Wait(uint32_t milliseconds) override;
};

class Win32ServicePort : public ServicePort {
 public:
  bool CurrentDirectory(std::string* directory) override;
  bool FileOpens(const std::string& path) override;
  std::unique_ptr<ServiceManager> OpenManager() override;
};

// The program's ports.
DriverPort& SystemDriverPort();
ServicePort& SystemServicePort();

// The low 32 bits of the authentication identifier (the logon session) in the
// process token's statistics; false when the token cannot be read.
bool GetLogonSessionId(uint32_t* logonSessionId);
