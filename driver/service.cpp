#include "driver/service.h"

#include "driver/protocol.h"

bool InstallDriver(DriverPort& port, ServicePort& services) {
  if (port.OpenDevice(VD_CONTROL_DEVICE_PATH, DeviceAccess::kReadWrite)) return true;

  std::string binaryPath;
  if (!services.CurrentDirectory(&binaryPath)) return false;
  binaryPath += '\\';
  binaryPath += kDriverFileName;
  if (!services.FileOpens(binaryPath)) return false;

  std::unique_ptr<ServiceManager> manager = services.OpenManager();
  if (!manager) return false;
  const uint32_t created = manager->CreateDriverService(binaryPath);
  if (created != kNoError && created != kErrorServiceExists) return false;

  std::unique_ptr<DriverService> service = manager->OpenDriverService();
  if (!service) return false;
  const uint32_t started = service->Start();
  return started == kNoError || started == kErrorServiceAlreadyRunning;
}

bool RemoveDriver(ServicePort& services) {
  std::unique_ptr<ServiceManager> manager = services.OpenManager();
  if (!manager) return false;
  std::unique_ptr<DriverService> service = manager->OpenDriverService();
  if (!service) return false;
  if (!service->Stop()) return false;
  return service->Delete();
}
