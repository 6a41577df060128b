// The disk controls of a volume device: what Windows asks of a disk before
// a file system mounts on it and while it is used. A volume device is one
// partition-less disk whose every byte is the volume's body.
#pragma once
#include "standin-driver/kernel.h"

struct DiskFacts {
  uint64_t size;  // bytes, a whole number of 512-byte sectors
  bool readOnly;
  int deviceNumber;  // N of \Device\VelmorcryptVolumeN
};

// "\Device\VelmorcryptVolumeN" for device number N.
void MakeVolumeDeviceName(int number, WCHAR (&buffer)[64], UNICODE_STRING* name);

// Answers one disk control through the system buffer; every length is
// checked before the buffer is read or written. Any other code is refused
// with STATUS_INVALID_DEVICE_REQUEST.
NTSTATUS HandleDiskControl(const DiskFacts& disk, PIRP irp, PIO_STACK_LOCATION stack,
                           ULONG_PTR* information);
