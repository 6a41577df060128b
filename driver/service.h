// Installing the driver as a service when it does not answer, and removing
// that service again. The program runs from any folder: the driver file lies
// in the program's folder, which is the current directory at start-up.
#pragma once
#include <stdint.h>

#include <memory>
#include <string>

#include "driver/driver_port.h"

inline constexpr char kDriverServiceName[] = "Velmorcrypt";
inline constexpr char kDriverFileName[] = "velmorcrypt.sys";

inline constexpr uint32_t kErrorServiceAlreadyRunning = 1056;  // ERROR_SERVICE_ALREADY_RUNNING
inline constexpr uint32_t kErrorServiceExists = 1073;          // ERROR_SERVICE_EXISTS

// The driver's service, opened with full access; destroying it closes it.
class DriverService {
 public:
  virtual ~DriverService() = default;
  // StartServiceA with no arguments: kNoError or the platform's error code.
  virtual uint32_t Start() = 0;
  // ControlService with SERVICE_CONTROL_STOP; true when the service is
  // stopped afterwards (it stopped, or it was not running). The driver
  // refuses a stop while any volume is mounted.
  virtual bool Stop() = 0;
  virtual bool Delete() = 0;
};

// The service control manager of the local machine, opened with full
// access; destroying it closes it.
class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  // Creates the demand-start kernel-driver service "Velmorcrypt" for the
  // binary, and closes the new service's handle: kNoError or the error code.
  virtual uint32_t CreateDriverService(const std::string& binaryPath) = 0;
  // nullptr when the service cannot be opened.
  virtual std::unique_ptr<DriverService> OpenDriverService() = 0;
};

// The platform calls of the service lifecycle besides the control device.
class ServicePort {
 public:
  virtual ~ServicePort() = default;
  // GetCurrentDirectoryA into 260 bytes.
  virtual bool CurrentDirectory(std::string* directory) = 0;
  // Whether the file opens for reading with no sharing (then closed again).
  virtual bool FileOpens(const std::string& path) = 0;
  // nullptr when the manager cannot be opened.
  virtual std::unique_ptr<ServiceManager> OpenManager() = 0;
};

// Makes sure that the driver runs. A driver that already answers is left
// alone; otherwise the service is created for the driver file in the current
// directory (a service of that name left by an earlier run is used as it
// is) and started. False when the driver file is missing (nothing else is
// tried), or the manager, the creation or the start fails; a service that
// already runs counts as started.
bool InstallDriver(DriverPort& port, ServicePort& services);

// Stops the service and deletes it; true when the deletion succeeded. A
// service that does not stop (the driver still serves a volume, perhaps
// another session's) is left in place, running: deleting it would only
// mark it for deletion, and the driver could not be started again.
bool RemoveDriver(ServicePort& services);
