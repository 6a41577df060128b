// The volume devices "\Device\VelmorcryptVolumeN": mounting a volume file,
// serving the 512-byte sectors of its body on the volume's own system
// thread, and dismounting it.
#pragma once
#include "driver/protocol.h"
#include "standin-driver/caller.h"
#include "standin-driver/kernel.h"

// The driver's unload routine, which the driver keeps only while no volume
// is mounted: the system then refuses a stop (a service stop, anyone's),
// rather than unloading the driver under a mounted file system or leaving
// a volume stuck with its keys in memory behind a deferred unload.
void InitVolumeTable(PDRIVER_OBJECT driver, PDRIVER_UNLOAD unload);

// Mounts the volume that `request` describes on the lowest free device
// number and answers that number. Every field is checked first; targetPath
// must be NUL-terminated within its 260 bytes. The volume belongs to the
// caller's logon session (the request's logonSessionId is not read), the
// volume file is opened with the caller's rights when the request came from
// user mode (volume_file.h says which files are refused), and the device
// lets in SYSTEM, Administrators and the caller's user.
NTSTATUS MountVolumeDevice(PDRIVER_OBJECT driver, const VolumeControlRecord* request,
                           KPROCESSOR_MODE requestorMode, const CallerIdentity& caller,
                           int8_t* deviceNumber);

// Dismounts the volumes mounted on `driveLetter` that the caller may take
// away (ChooseDismount). Unless `force`, a volume in use is refused with
// STATUS_DEVICE_BUSY and nothing is dismounted: a file system is mounted on
// it (mounted again, say, after the program dismounted it), or a process
// other than the caller's has it open. Each volume is marked closing before
// that check, so nothing opens or mounts it between the check and its end;
// then its queued requests are served, its thread ends, its file is flushed
// and closed, its keys are wiped and its device is deleted.
// STATUS_NO_SUCH_DEVICE when there is none on the letter,
// STATUS_ACCESS_DENIED when they are other sessions'.
NTSTATUS DismountVolumeDevices(char driveLetter, const CallerIdentity& caller, bool force);

// Dismounts every volume, forced (driver unload).
void DismountAllVolumeDevices();

// Flushes every mounted volume's file (system shutdown).
void FlushAllVolumes();

// A request sent to a volume device. Reads, writes and flushes are queued
// to the volume's thread and answered STATUS_PENDING; the volume's thread
// completes them. Everything else is answered here.
NTSTATUS HandleVolumeRequest(PDEVICE_OBJECT device, PIRP irp, PIO_STACK_LOCATION stack,
                             ULONG_PTR* information);
