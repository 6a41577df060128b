// Building and reading the driver's records: plain data work, no platform
// calls. The operations in operations.h send what is built here.
#pragma once
#include <stdint.h>

#include <string>
#include <string_view>

#include "driver/protocol.h"
#include "volume/header.h"

// Drive letters are always scanned from A to Z.
inline constexpr char kFirstDriveLetter = 'A';
inline constexpr char kLastDriveLetter = 'Z';

// The NT form of a volume path, as the driver opens it: a UNC path
// (\\server\share\a.vmv) becomes \??\UNC\server\share\a.vmv, any other path
// (C:\a.vmv) becomes \??\C:\a.vmv. False, with `targetPath` left as it was,
// when the NT form and its NUL do not fit the 260-byte field: a path is
// never cut short.
bool BuildTargetPath(std::string_view volumePath, char targetPath[VD_TARGET_PATH_SIZE]);

// True when the NT form of `volumePath` fits `targetPath`.
bool TargetPathFits(std::string_view volumePath);

// The volume path as the user knows it, read back from a `targetPath`:
// \??\UNC\server\share\a.vmv shows as \\server\share\a.vmv (the sixth
// character is the N of UNC), \??\C:\a.vmv as C:\a.vmv. The field is read
// up to its NUL or its end, whichever comes first.
std::string TargetPathDisplay(const char targetPath[VD_TARGET_PATH_SIZE]);

// The drive-recognition test: true when a DOS-device target names one of the
// driver's volume devices (contains \Device\VelmorcryptVolume).
bool IsVolumeDeviceTarget(std::string_view target);

// "\Device\VelmorcryptVolume3" for device number 3.
std::string VolumeDeviceName(int deviceNumber);
// "\\.\E:": the drive-letter device.
std::string DriveDevicePath(char driveLetter);
// "E:": the DOS-device name of a drive letter, and the drive text of lists.
std::string DriveName(char driveLetter);
// "E:\": the root of a drive.
std::string DriveRoot(char driveLetter);

// The mount request: every byte not set here is zero. The body keys come from
// an opened header (sectorIvSeed at 0x380, sectorKey at 0x3C0); readOnly is 1
// exactly when `readOnly` is 1. False, with the record zeroed, when the
// volume path does not fit `targetPath`.
bool FillMountRequest(VolumeControlRecord* request, std::string_view volumePath, char driveLetter,
                      int headerPlacement, int algorithm, const uint8_t header[kHeaderSize],
                      uint32_t logonSessionId, int readOnly);

// The dismount request: driveLetter, logonSessionId, readOnly 0 and force 1
// for a forced dismount (the driver then dismounts a volume still in use);
// every other byte zero.
void FillDismountRequest(VolumeControlRecord* request, char driveLetter, uint32_t logonSessionId,
                         bool force);

// What the program reads from a query reply.
struct VolumeInfo {
  std::string volumePath;   // display form of targetPath
  int algorithm = 0;        // AlgorithmId as the driver reported it
  uint64_t volumeSize = 0;  // bytes
};
VolumeInfo ReadQueryReply(const VolumeControlRecord& reply);

// "1.2.3" for the version reply 1, 2, 3.
std::string FormatDriverVersion(const DriverVersion& version);
