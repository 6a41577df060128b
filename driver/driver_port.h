// The platform calls of the driver operations, behind one small interface:
// the Win32 implementation (win32_port.h) in the program, fakes in tests.
// The operations decide the order of the calls and what their answers mean.
#pragma once
#include <stdint.h>

#include <memory>
#include <string>

// How a device handle is opened; each control code needs the access its
// access bits name.
enum class DeviceAccess {
  kNone,       // access 0: the idle counter read
  kRead,       // GENERIC_READ
  kWrite,      // GENERIC_WRITE
  kReadWrite,  // GENERIC_READ | GENERIC_WRITE
};

// The platform's error codes the operations look at.
inline constexpr uint32_t kNoError = 0;
inline constexpr uint32_t kErrorBadDevType = 66;  // ERROR_BAD_DEV_TYPE
// The driver's answer to a volume file it will not serve: a pipe, a
// device, a directory, or a compressed, sparse, encrypted or offline file.
inline constexpr uint32_t kErrorNotSupported = 50;  // ERROR_NOT_SUPPORTED

// An open device handle; destroying it closes the handle.
class Device {
 public:
  virtual ~Device() = default;
  // One synchronous device control request. Returns kNoError on success,
  // otherwise the platform's error code (never kNoError).
  virtual uint32_t Control(uint32_t code, const void* input, uint32_t inputSize, void* output,
                           uint32_t outputSize) = 0;
};

// Reads the answer to FSCTL_DISMOUNT_VOLUME. Success counts, and so does
// ERROR_BAD_DEV_TYPE: Wine passes the request to the driver as a device
// control and, when the driver has accepted it, goes on to unmount a Unix
// file system that is not there and answers with that error. On Windows a
// volume without a mounted file system is dismounted by the raw file system
// and the request succeeds. A driver that refuses the request (a busy
// volume) still fails it with its own error, such as ERROR_BUSY.
bool FileSystemDismountSucceeded(uint32_t error);

class DriverPort {
 public:
  virtual ~DriverPort() = default;

  // CreateFileA with share read and write, OPEN_EXISTING, no flags; nullptr
  // when the device cannot be opened.
  virtual std::unique_ptr<Device> OpenDevice(const std::string& path, DeviceAccess access) = 0;
  // DefineDosDeviceA with DDD_RAW_TARGET_PATH.
  virtual bool DefineRawDosDevice(const std::string& name, const std::string& target) = 0;
  // DefineDosDeviceA with DDD_REMOVE_DEFINITION and no target.
  virtual bool RemoveDosDevice(const std::string& name) = 0;
  // DeleteVolumeMountPointA on a root such as "E:\".
  virtual bool RemoveMountPoint(const std::string& root) = 0;
  // QueryDosDeviceA into 256 bytes; `target` receives the first target.
  virtual bool QueryDosTarget(const std::string& name, std::string* target) = 0;
  // Blocks the calling thread (the pause between two lock attempts).
  virtual void Wait(uint32_t milliseconds) = 0;

  // The file-system controls of the dismount sequence, sent to the
  // drive-letter device. They are answered by the file system on the
  // volume, so a test that needs a volume in use replaces them: Wine
  // answers the lock itself and never fails it.
  virtual bool LockVolume(Device& drive);
  virtual bool DismountFileSystem(Device& drive);
  virtual bool UnlockVolume(Device& drive);
};
