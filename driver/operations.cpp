#include "driver/operations.h"

#include <string.h>

#include "crypto/wipe.h"
#include "driver/records.h"

namespace {

// Wipes a record that held body keys when it goes out of scope.
class WipedRecord {
 public:
  WipedRecord() { memset(&record, 0, sizeof record); }
  ~WipedRecord() { SecureWipe(&record, sizeof record); }
  WipedRecord(const WipedRecord&) = delete;
  WipedRecord& operator=(const WipedRecord&) = delete;

  VolumeControlRecord record;
};

}  // namespace

bool MountVolume(DriverPort& port, const std::string& volumePath, char driveLetter,
                 int headerPlacement, int algorithm, const uint8_t header[kHeaderSize],
                 uint32_t logonSessionId, int readOnly, uint32_t* driverError) {
  WipedRecord request;
  WipedRecord reply;
  if (!FillMountRequest(&request.record, volumePath, driveLetter, headerPlacement, algorithm,
                        header, logonSessionId, readOnly)) {
    return false;
  }
  {
    std::unique_ptr<Device> control =
        port.OpenDevice(VD_CONTROL_DEVICE_PATH, DeviceAccess::kReadWrite);
    if (!control) return false;
    const uint32_t error = control->Control(IOCTL_VD_MOUNT, &request.record, sizeof request.record,
                                            &reply.record, sizeof reply.record);
    if (error != kNoError) {
      if (driverError != nullptr) *driverError = error;
      return false;
    }
  }
  return port.DefineRawDosDevice(DriveName(driveLetter),
                                 VolumeDeviceName(reply.record.deviceNumber));
}

bool GetDriverVersion(DriverPort& port, DriverVersion* version) {
  std::unique_ptr<Device> control = port.OpenDevice(VD_CONTROL_DEVICE_PATH, DeviceAccess::kRead);
  if (!control) return false;
  return control->Control(IOCTL_VD_GET_VERSION, nullptr, 0, version, sizeof *version) == kNoError;
}

bool QueryVolume(DriverPort& port, char driveLetter, VolumeControlRecord* reply) {
  std::unique_ptr<Device> drive =
      port.OpenDevice(DriveDevicePath(driveLetter), DeviceAccess::kRead);
  if (!drive) return false;
  return drive->Control(IOCTL_VD_QUERY_VOLUME, nullptr, 0, reply, sizeof *reply) == kNoError;
}

bool GetIdleCounter(DriverPort& port, char driveLetter, IdleCounter* counter) {
  std::unique_ptr<Device> drive =
      port.OpenDevice(DriveDevicePath(driveLetter), DeviceAccess::kNone);
  if (!drive) return false;
  IdleCounter value = *counter;
  if (drive->Control(IOCTL_VD_GET_IDLE, nullptr, 0, &value, sizeof value) != kNoError) return false;
  *counter = value;
  return true;
}

bool SetIdleCounter(DriverPort& port, char driveLetter, IdleCounter counter) {
  std::unique_ptr<Device> drive =
      port.OpenDevice(DriveDevicePath(driveLetter), DeviceAccess::kWrite);
  if (!drive) return false;
  return drive->Control(IOCTL_VD_SET_IDLE, &counter, sizeof counter, nullptr, 0) == kNoError;
}

bool IsOwnDrive(DriverPort& port, char driveLetter) {
  std::string target;
  return port.QueryDosTarget(DriveName(driveLetter), &target) && IsVolumeDeviceTarget(target);
}
