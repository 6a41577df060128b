// The volume devices "\Device\VelmorcryptVolumeN": mounting a volume file,
// serving the 512-byte sectors of its body, and dismounting it.
#pragma once
#include "driver/protocol.h"
#include "standin-driver/kernel.h"

void InitVolumeTable();

// Mounts the volume that `request` describes on the lowest free device
// number and answers that number. Every field is checked first; targetPath
// must be NUL-terminated within its 260 bytes.
NTSTATUS MountVolumeDevice(PDRIVER_OBJECT driver, const VolumeControlRecord* request,
                           int8_t* deviceNumber);

// Dismounts every volume mounted on `driveLetter` for `logonSessionId`: the
// file is closed, the keys are wiped and the device is deleted.
// STATUS_NO_SUCH_DEVICE when there is none.
NTSTATUS DismountVolumeDevices(char driveLetter, uint32_t logonSessionId);

// Dismounts every volume (driver unload).
void DismountAllVolumeDevices();

// A request sent to a volume device. Reads, writes and flushes use the
// volume file and must come at PASSIVE_LEVEL.
NTSTATUS HandleVolumeRequest(PDEVICE_OBJECT device, PIRP irp, PIO_STACK_LOCATION stack,
                             ULONG_PTR* information);
