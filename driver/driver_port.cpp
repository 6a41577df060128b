#include "driver/driver_port.h"

#include "driver/protocol.h"

bool FileSystemDismountSucceeded(uint32_t error) {
  return error == kNoError || error == kErrorBadDevType;
}

bool DriverPort::LockVolume(Device& drive) {
  return drive.Control(VD_FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0) == kNoError;
}

bool DriverPort::DismountFileSystem(Device& drive) {
  return FileSystemDismountSucceeded(
      drive.Control(VD_FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0));
}

bool DriverPort::UnlockVolume(Device& drive) {
  return drive.Control(VD_FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0) == kNoError;
}
