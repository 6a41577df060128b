#include "standin-driver/disk_controls.h"

#include <stddef.h>
#include <string.h>

#include "driver/protocol.h"

namespace {

constexpr ULONG kSectorBytes = 512;
// The number that IOCTL_STORAGE_GET_DEVICE_NUMBER answers is this plus the
// device number, so that it never equals a physical disk's number.
constexpr ULONG kStorageNumberBase = 0x564D0000;  // "VM"

// The geometry multiplies out to the size exactly: one sector per track and
// one track per cylinder.
DISK_GEOMETRY Geometry(const DiskFacts& disk) {
  DISK_GEOMETRY geometry;
  memset(&geometry, 0, sizeof geometry);
  geometry.Cylinders.QuadPart = static_cast<LONGLONG>(disk.size / kSectorBytes);
  geometry.MediaType = FixedMedia;
  geometry.TracksPerCylinder = 1;
  geometry.SectorsPerTrack = 1;
  geometry.BytesPerSector = kSectorBytes;
  return geometry;
}

// Copies a reply of `size` bytes into the system buffer when it fits.
NTSTATUS Reply(PIRP irp, ULONG outputLength, const void* reply, ULONG size,
               ULONG_PTR* information) {
  if (outputLength < size) return STATUS_BUFFER_TOO_SMALL;
  memcpy(irp->AssociatedIrp.SystemBuffer, reply, size);
  *information = size;
  return STATUS_SUCCESS;
}

// A MOUNTDEV_NAME or MOUNTDEV_UNIQUE_ID: a 16-bit length and the bytes. A
// buffer too short for the bytes gets the length alone and
// STATUS_BUFFER_OVERFLOW, so that the caller can ask again. The answer
// counts exactly the bytes written: the system copies that many back to the
// caller, and a byte counted but not written would be kernel memory.
NTSTATUS ReplyCounted(PIRP irp, ULONG outputLength, const void* bytes, USHORT length, ULONG minimum,
                      ULONG_PTR* information) {
  if (outputLength < minimum) return STATUS_BUFFER_TOO_SMALL;
  auto* out = static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer);
  memcpy(out, &length, sizeof length);
  if (outputLength < sizeof length + length) {
    *information = sizeof length;
    return STATUS_BUFFER_OVERFLOW;
  }
  memcpy(out + sizeof length, bytes, length);
  *information = sizeof length + length;
  return STATUS_SUCCESS;
}

}  // namespace

void MakeVolumeDeviceName(int number, WCHAR (&buffer)[64], UNICODE_STRING* name) {
  int length = 0;
  for (const char* c = VD_VOLUME_DEVICE_PREFIX; *c != '\0'; ++c) buffer[length++] = *c;
  char digits[4];
  int digitCount = 0;
  do {
    digits[digitCount++] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number > 0);
  while (digitCount > 0) buffer[length++] = digits[--digitCount];
  buffer[length] = L'\0';
  RtlInitUnicodeString(name, buffer);
}

NTSTATUS HandleDiskControl(const DiskFacts& disk, PIRP irp, PIO_STACK_LOCATION stack,
                           ULONG_PTR* information) {
  const void* input = irp->AssociatedIrp.SystemBuffer;
  ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_DISK_GET_DRIVE_GEOMETRY:
    case IOCTL_DISK_GET_MEDIA_TYPES:
    case IOCTL_STORAGE_GET_MEDIA_TYPES: {
      DISK_GEOMETRY geometry = Geometry(disk);
      return Reply(irp, outputLength, &geometry, sizeof geometry, information);
    }
    case IOCTL_DISK_GET_DRIVE_GEOMETRY_EX: {
      // The geometry and the size; no partition or detection information
      // follows.
      DISK_GEOMETRY_EX geometry;
      memset(&geometry, 0, sizeof geometry);
      geometry.Geometry = Geometry(disk);
      geometry.DiskSize.QuadPart = static_cast<LONGLONG>(disk.size);
      return Reply(irp, outputLength, &geometry, offsetof(DISK_GEOMETRY_EX, Data), information);
    }
    case IOCTL_DISK_GET_LENGTH_INFO: {
      GET_LENGTH_INFORMATION length;
      length.Length.QuadPart = static_cast<LONGLONG>(disk.size);
      return Reply(irp, outputLength, &length, sizeof length, information);
    }
    // The disk is one partition that starts at its first byte.
    case IOCTL_DISK_GET_PARTITION_INFO: {
      PARTITION_INFORMATION partition;
      memset(&partition, 0, sizeof partition);
      partition.PartitionLength.QuadPart = static_cast<LONGLONG>(disk.size);
      partition.PartitionNumber = 1;
      partition.PartitionType = PARTITION_IFS;
      partition.RecognizedPartition = TRUE;
      return Reply(irp, outputLength, &partition, sizeof partition, information);
    }
    case IOCTL_DISK_GET_PARTITION_INFO_EX: {
      PARTITION_INFORMATION_EX partition;
      memset(&partition, 0, sizeof partition);
      partition.PartitionStyle = PARTITION_STYLE_MBR;
      partition.PartitionLength.QuadPart = static_cast<LONGLONG>(disk.size);
      partition.PartitionNumber = 1;
      partition.Mbr.PartitionType = PARTITION_IFS;
      partition.Mbr.RecognizedPartition = TRUE;
      return Reply(irp, outputLength, &partition, sizeof partition, information);
    }
    // A format sets the partition type; there is no partition table to
    // keep it in, so it is accepted and the answers above stay.
    case IOCTL_DISK_SET_PARTITION_INFO:
      if (inputLength < sizeof(SET_PARTITION_INFORMATION)) return STATUS_INVALID_PARAMETER;
      return disk.readOnly ? STATUS_MEDIA_WRITE_PROTECTED : STATUS_SUCCESS;
    case IOCTL_DISK_VERIFY: {
      if (inputLength < sizeof(VERIFY_INFORMATION)) return STATUS_INVALID_PARAMETER;
      VERIFY_INFORMATION verify;
      memcpy(&verify, input, sizeof verify);
      if (verify.StartingOffset.QuadPart < 0 ||
          static_cast<uint64_t>(verify.StartingOffset.QuadPart) > disk.size ||
          verify.Length > disk.size - static_cast<uint64_t>(verify.StartingOffset.QuadPart)) {
        return STATUS_NONEXISTENT_SECTOR;
      }
      return STATUS_SUCCESS;
    }
    case IOCTL_DISK_IS_WRITABLE:
      return disk.readOnly ? STATUS_MEDIA_WRITE_PROTECTED : STATUS_SUCCESS;
    // The medium never changes: the change count stays 0.
    case IOCTL_DISK_CHECK_VERIFY:
    case IOCTL_STORAGE_CHECK_VERIFY:
    case IOCTL_STORAGE_CHECK_VERIFY2: {
      if (outputLength == 0) return STATUS_SUCCESS;
      ULONG changeCount = 0;
      return Reply(irp, outputLength, &changeCount, sizeof changeCount, information);
    }
    case IOCTL_DISK_MEDIA_REMOVAL:
    case IOCTL_STORAGE_MEDIA_REMOVAL:
      return inputLength < sizeof(PREVENT_MEDIA_REMOVAL) ? STATUS_INVALID_PARAMETER
                                                         : STATUS_SUCCESS;
    case IOCTL_DISK_UPDATE_PROPERTIES:
      return STATUS_SUCCESS;
    case IOCTL_STORAGE_GET_DEVICE_NUMBER: {
      STORAGE_DEVICE_NUMBER number;
      number.DeviceType = FILE_DEVICE_DISK;
      number.DeviceNumber = kStorageNumberBase + static_cast<ULONG>(disk.deviceNumber);
      number.PartitionNumber = static_cast<ULONG>(-1);  // cannot be partitioned
      return Reply(irp, outputLength, &number, sizeof number, information);
    }
    case IOCTL_STORAGE_GET_HOTPLUG_INFO: {
      // The device goes away at a dismount: Windows then caches no writes
      // that a dismount could lose.
      STORAGE_HOTPLUG_INFO hotplug;
      memset(&hotplug, 0, sizeof hotplug);
      hotplug.Size = sizeof hotplug;
      hotplug.DeviceHotplug = TRUE;
      return Reply(irp, outputLength, &hotplug, sizeof hotplug, information);
    }
    // The device's name serves as its unique identifier too.
    case IOCTL_MOUNTDEV_QUERY_DEVICE_NAME:
    case IOCTL_MOUNTDEV_QUERY_UNIQUE_ID: {
      WCHAR buffer[64];
      UNICODE_STRING name;
      MakeVolumeDeviceName(disk.deviceNumber, buffer, &name);
      ULONG minimum =
          stack->Parameters.DeviceIoControl.IoControlCode == IOCTL_MOUNTDEV_QUERY_DEVICE_NAME
              ? sizeof(MOUNTDEV_NAME)
              : sizeof(MOUNTDEV_UNIQUE_ID);
      return ReplyCounted(irp, outputLength, name.Buffer, name.Length, minimum, information);
    }
    default:
      return STATUS_INVALID_DEVICE_REQUEST;
  }
}
