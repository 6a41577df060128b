// The program's requests to the disk driver. Each opens its handles, sends
// its request and closes the handles before it returns; none shows a message.
// Success is the platform call's result; the count of bytes returned plays no
// part.
#pragma once
#include <stdint.h>

#include <string>

#include "driver/driver_port.h"
#include "driver/protocol.h"
#include "volume/header.h"

// Sends the mount request for an opened header (the body keys are taken from
// it) and, when the driver accepts it, defines the drive letter as a raw DOS
// device on the volume device the driver names in its reply. True only when
// both succeeded: a volume the driver mounted but whose letter could not be
// defined stays mounted without a letter. A volume path too long for
// `targetPath` returns false before anything is opened. The request and the
// reply are wiped before returning. When the driver refuses the request,
// `driverError` (if given) receives its error code.
bool MountVolume(DriverPort& port, const std::string& volumePath, char driveLetter,
                 int headerPlacement, int algorithm, const uint8_t header[kHeaderSize],
                 uint32_t logonSessionId, int readOnly, uint32_t* driverError = nullptr);

// The version of the running driver; false when the driver does not answer.
bool GetDriverVersion(DriverPort& port, DriverVersion* version);

// The driver's record of the volume on a drive: targetPath, algorithm and
// volumeSize are meaningful.
bool QueryVolume(DriverPort& port, char driveLetter, VolumeControlRecord* reply);

// Reads a drive's idle counter. `counter` is changed only on success, so a
// caller that stores 0xFF in it beforehand reads a failure as 0xFF.
bool GetIdleCounter(DriverPort& port, char driveLetter, IdleCounter* counter);

bool SetIdleCounter(DriverPort& port, char driveLetter, IdleCounter counter);

// True when the drive letter's DOS-device target is one of the driver's
// volume devices. No request goes to the driver.
bool IsOwnDrive(DriverPort& port, char driveLetter);
