// The volume devices "\Device\VelmorcryptVolumeN": mounting a volume file,
// serving the 512-byte sectors of its body, and dismounting it.
#pragma once
#include "driver/protocol.h"
#include "standin-driver/kernel.h"

void InitVolumeTable();

// Mounts the volume that `request` describes on the lowest free device
// number and answers that number. Every field is checked first; targetPath
// must be NUL-terminated within its 260 bytes. The volume belongs to the
// caller's logon session (from its token; the request's logonSessionId is
// not read), the volume file is opened with the caller's rights when the
// request came from user mode, and the device lets in SYSTEM,
// Administrators and the caller's user.
NTSTATUS MountVolumeDevice(PDRIVER_OBJECT driver, const VolumeControlRecord* request,
                           KPROCESSOR_MODE requestorMode, int8_t* deviceNumber);

// Dismounts the volumes mounted on `driveLetter` that the caller may take
// away (ChooseDismount): the file is closed, the keys are wiped and the
// device is deleted. STATUS_NO_SUCH_DEVICE when there is none on the
// letter, STATUS_ACCESS_DENIED when they are other sessions'.
NTSTATUS DismountVolumeDevices(char driveLetter);

// Dismounts every volume (driver unload).
void DismountAllVolumeDevices();

// A request sent to a volume device. Reads, writes and flushes use the
// volume file and must come at PASSIVE_LEVEL.
NTSTATUS HandleVolumeRequest(PDEVICE_OBJECT device, PIRP irp, PIO_STACK_LOCATION stack,
                             ULONG_PTR* information);
