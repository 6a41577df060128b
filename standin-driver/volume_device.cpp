#include "standin-driver/volume_device.h"

#include <string.h>

#include "crypto/sectors.h"
#include "crypto/wipe.h"
#include "standin-driver/caller.h"
#include "standin-driver/disk_controls.h"
#include "standin-driver/standin_test_protocol.h"
#include "volume/body_cipher.h"
#include "volume/header.h"
#include "volume/sector_service.h"

namespace {

constexpr int kMaxVolumes = 64;
// Sectors encrypted per file write: large enough that the file calls cost
// little beside the encryption, small enough to keep in every volume's
// device extension.
constexpr ULONG kChunkSize = 256 * 1024;
static_assert(kChunkSize % kSectorSize == 0, "whole sectors per chunk");

struct VolumeExtension {
  DeviceHeader header;
  KernelLock lock;  // guards the fields below; held for the whole of a request
  bool mounted;
  bool readOnly;
  char driveLetter;  // upper case
  uint8_t algorithm;
  uint8_t headerPlacement;
  uint64_t ownerSession;  // the logon session of the caller that mounted it
  char targetPath[VD_TARGET_PATH_SIZE];
  HANDLE file;
  uint64_t bodySize;  // a whole number of sectors
  IdleCounter idle;
  BodyCipher cipher;
  uint8_t chunk[kChunkSize];  // a write's sectors, encrypted here before they go to the file
};

KernelLock gTableLock;                 // guards gVolumes and the device names
PDEVICE_OBJECT gVolumes[kMaxVolumes];  // indexed by device number

VolumeExtension* Extension(PDEVICE_OBJECT device) {
  return static_cast<VolumeExtension*>(device->DeviceExtension);
}

char UpperDriveLetter(char letter) {
  return (letter >= 'a' && letter <= 'z') ? static_cast<char>(letter - 'a' + 'A') : letter;
}

NTSTATUS CheckMountRequest(const VolumeControlRecord* request) {
  char letter = UpperDriveLetter(request->driveLetter);
  if (letter < 'A' || letter > 'Z') return STATUS_INVALID_PARAMETER;
  if (AlgorithmKeySize(request->algorithm) == 0) return STATUS_INVALID_PARAMETER;
  if (request->headerPlacement != VD_HEADER_IN_VOLUME_FILE &&
      request->headerPlacement != VD_HEADER_EXTERNAL) {
    return STATUS_INVALID_PARAMETER;
  }
  if (request->readOnly > 1) return STATUS_INVALID_PARAMETER;
  if (request->targetPath[0] == '\0' ||
      memchr(request->targetPath, '\0', VD_TARGET_PATH_SIZE) == nullptr) {
    return STATUS_INVALID_PARAMETER;
  }
  return STATUS_SUCCESS;
}

// Opens the volume file (read only for a read-only mount; others may read
// it meanwhile but not write it) and answers the size of its body. For a
// request from user mode the system checks the caller's access to the file,
// as if the caller opened it: the driver's own rights never stand in.
NTSTATUS OpenVolumeFile(const VolumeControlRecord* request, KPROCESSOR_MODE requestorMode,
                        HANDLE* file, uint64_t* bodySize) {
  WCHAR pathBuffer[VD_TARGET_PATH_SIZE];
  UNICODE_STRING path = {0, sizeof pathBuffer, pathBuffer};
  ANSI_STRING ansiPath;
  RtlInitAnsiString(&ansiPath, request->targetPath);
  NTSTATUS status = RtlAnsiStringToUnicodeString(&path, &ansiPath, FALSE);
  if (!NT_SUCCESS(status)) return status;

  OBJECT_ATTRIBUTES attributes;
  ULONG flags = OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE |
                (requestorMode == UserMode ? OBJ_FORCE_ACCESS_CHECK : 0);
  InitializeObjectAttributes(&attributes, &path, flags, nullptr, nullptr);
  ACCESS_MASK access = SYNCHRONIZE | GENERIC_READ | (request->readOnly ? 0 : GENERIC_WRITE);
  IO_STATUS_BLOCK io;
  status = ZwCreateFile(
      file, access, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ, FILE_OPEN,
      FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE | FILE_RANDOM_ACCESS, nullptr, 0);
  if (!NT_SUCCESS(status)) return status;

  FILE_STANDARD_INFORMATION info;
  status = ZwQueryInformationFile(*file, &io, &info, sizeof info, FileStandardInformation);
  uint64_t fileSize = NT_SUCCESS(status) ? static_cast<uint64_t>(info.EndOfFile.QuadPart) : 0;
  // With the header in the volume file, the body is all but its last bytes.
  uint64_t headerBytes = request->headerPlacement == VD_HEADER_IN_VOLUME_FILE ? kHeaderSize : 0;
  *bodySize = fileSize > headerBytes ? fileSize - headerBytes : 0;
  if (NT_SUCCESS(status) && !SectorBodySizeValid(*bodySize)) {
    status = STATUS_INVALID_PARAMETER;
  }
  if (!NT_SUCCESS(status)) ZwClose(*file);
  return status;
}

// Creates the device on the lowest free number. A name still held by a
// device that is being deleted is skipped. Called with gTableLock held.
NTSTATUS CreateVolumeDevice(PDRIVER_OBJECT driver, bool readOnly, int* number,
                            PDEVICE_OBJECT* device) {
  for (int n = 0; n < kMaxVolumes; ++n) {
    if (gVolumes[n] != nullptr) continue;
    WCHAR nameBuffer[64];
    UNICODE_STRING name;
    MakeVolumeDeviceName(n, nameBuffer, &name);
    NTSTATUS status = IoCreateDevice(
        driver, sizeof(VolumeExtension), &name, FILE_DEVICE_DISK,
        FILE_DEVICE_SECURE_OPEN | (readOnly ? FILE_READ_ONLY_DEVICE : 0), FALSE, device);
    if (status == STATUS_OBJECT_NAME_COLLISION) continue;
    *number = n;
    return status;
  }
  return STATUS_INSUFFICIENT_RESOURCES;
}

// Closes the file, wipes the keys and deletes the device. Called with
// gTableLock held.
void RemoveVolume(int number) {
  PDEVICE_OBJECT device = gVolumes[number];
  VolumeExtension* volume = Extension(device);
  volume->lock.Acquire();
  volume->mounted = false;
  ZwClose(volume->file);
  volume->file = nullptr;
  BodyCipherWipe(&volume->cipher);
  volume->lock.Release();
  gVolumes[number] = nullptr;
  IoDeleteDevice(device);
}

// The caller's buffer of a read or write: an MDL's system address (direct
// I/O), else the system buffer.
uint8_t* TransferBuffer(PIRP irp) {
  if (irp->MdlAddress != nullptr) {
    return static_cast<uint8_t*>(MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority));
  }
  return static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);
}

// The volume file as the sector service reaches it: whole transfers at
// body offsets, answering 0 or the failure's NTSTATUS.
int32_t ReadBody(void* context, uint64_t offset, uint8_t* data, uint32_t length) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  IO_STATUS_BLOCK io;
  NTSTATUS status = ZwReadFile(static_cast<VolumeExtension*>(context)->file, nullptr, nullptr,
                               nullptr, &io, data, length, &at, nullptr);
  if (!NT_SUCCESS(status)) return status;
  return io.Information == length ? STATUS_SUCCESS : STATUS_IO_DEVICE_ERROR;
}

int32_t WriteBody(void* context, uint64_t offset, const uint8_t* data, uint32_t length) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  IO_STATUS_BLOCK io;
  NTSTATUS status = ZwWriteFile(static_cast<VolumeExtension*>(context)->file, nullptr, nullptr,
                                nullptr, &io, const_cast<uint8_t*>(data), length, &at, nullptr);
  if (!NT_SUCCESS(status)) return status;
  return io.Information == length ? STATUS_SUCCESS : STATUS_IO_DEVICE_ERROR;
}

// Reads and writes by the sector service's rules for a disk device: sector
// aligned, within the body. A read that starts at the end of the body or
// beyond answers STATUS_END_OF_FILE; one that runs past the end answers the
// sectors before it. A write that does not fit in the body is refused as a
// whole, so it can never reach the header. Reads are decrypted in the
// caller's buffer; writes are encrypted chunk by chunk in a copy, so that
// the caller's data stays as it is.
NTSTATUS Transfer(VolumeExtension* volume, PIRP irp, bool write, LONGLONG offset, ULONG length,
                  ULONG_PTR* information) {
  if (offset < 0) return STATUS_INVALID_PARAMETER;
  SectorPlan plan;
  switch (PlanSectorRequest({volume->bodySize, volume->readOnly}, static_cast<uint64_t>(offset),
                            length, write, SectorAlignment::kWholeSectors, &plan)) {
    case SectorVerdict::kServe:
      break;
    case SectorVerdict::kUnaligned:
      return STATUS_INVALID_PARAMETER;
    case SectorVerdict::kReadOnly:
      return STATUS_MEDIA_WRITE_PROTECTED;
    case SectorVerdict::kEndOfBody:
      return STATUS_END_OF_FILE;
    case SectorVerdict::kNoRoom:
      return STATUS_DISK_FULL;
  }
  if (plan.length == 0) return STATUS_SUCCESS;
  uint8_t* buffer = TransferBuffer(irp);
  if (buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;

  const SectorStore store = {volume, ReadBody, WriteBody};
  NTSTATUS status = write ? ServeSectorWrite(plan, &volume->cipher, store, buffer, volume->chunk,
                                             sizeof volume->chunk)
                          : ServeSectorRead(plan, &volume->cipher, store, buffer);
  if (!NT_SUCCESS(status)) return status;
  volume->idle = VD_IDLE_REARM;  // used: the program's next tick rearms the count
  *information = plan.length;
  return STATUS_SUCCESS;
}

// The driver's own controls of a volume are for the session that mounted
// it and for administrators.
NTSTATUS CheckVolumeCaller(const VolumeExtension* volume) {
  VolumeCaller caller;
  NTSTATUS status = IdentifyCaller(&caller, nullptr);
  if (!NT_SUCCESS(status)) return status;
  return MayUseVolume(caller, volume->ownerSession) ? STATUS_SUCCESS : STATUS_ACCESS_DENIED;
}

NTSTATUS HandleVolumeControl(VolumeExtension* volume, PIRP irp, PIO_STACK_LOCATION stack,
                             ULONG_PTR* information) {
  void* buffer = irp->AssociatedIrp.SystemBuffer;
  ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  if (code == IOCTL_VD_QUERY_VOLUME || code == IOCTL_VD_GET_IDLE || code == IOCTL_VD_SET_IDLE) {
    NTSTATUS status = CheckVolumeCaller(volume);
    if (!NT_SUCCESS(status)) return status;
  }
  switch (code) {
    case IOCTL_VD_QUERY_VOLUME: {
      if (outputLength < sizeof(VolumeControlRecord)) return STATUS_BUFFER_TOO_SMALL;
      // What the volume is, never its keys.
      VolumeControlRecord reply;
      memset(&reply, 0, sizeof reply);
      memcpy(reply.targetPath, volume->targetPath, sizeof reply.targetPath);
      reply.driveLetter = volume->driveLetter;
      reply.algorithm = volume->algorithm;
      reply.headerPlacement = volume->headerPlacement;
      reply.volumeSize = volume->bodySize;
      reply.logonSessionId = static_cast<uint32_t>(volume->ownerSession);
      reply.deviceNumber = volume->header.deviceNumber;
      reply.readOnly = volume->readOnly ? 1 : 0;
      memcpy(buffer, &reply, sizeof reply);
      *information = sizeof reply;
      return STATUS_SUCCESS;
    }
    case IOCTL_VD_GET_IDLE:
      if (outputLength < sizeof(IdleCounter)) return STATUS_BUFFER_TOO_SMALL;
      *static_cast<IdleCounter*>(buffer) = volume->idle;
      *information = sizeof(IdleCounter);
      return STATUS_SUCCESS;
    case IOCTL_VD_SET_IDLE:
      if (inputLength < sizeof(IdleCounter)) return STATUS_INVALID_PARAMETER;
      volume->idle = *static_cast<const IdleCounter*>(buffer);
      return STATUS_SUCCESS;
    // The dismount sequence's file-system controls, answered as a volume
    // without a mounted file system answers them: there is nothing to lock,
    // flush or dismount. (Under Wine only the dismount reaches the driver.)
    case VD_FSCTL_LOCK_VOLUME:
    case VD_FSCTL_DISMOUNT_VOLUME:
    case VD_FSCTL_UNLOCK_VOLUME:
      return STATUS_SUCCESS;
    default: {
      DiskFacts disk = {volume->bodySize, volume->readOnly, volume->header.deviceNumber};
      return HandleDiskControl(disk, irp, stack, information);
    }
  }
}

}  // namespace

void InitVolumeTable() { gTableLock.Init(); }

NTSTATUS MountVolumeDevice(PDRIVER_OBJECT driver, const VolumeControlRecord* request,
                           KPROCESSOR_MODE requestorMode, int8_t* deviceNumber) {
  NTSTATUS status = CheckMountRequest(request);
  if (!NT_SUCCESS(status)) return status;
  VolumeCaller caller;
  CallerSid user;
  status = IdentifyCaller(&caller, &user);
  if (!NT_SUCCESS(status)) return status;
  HANDLE file;
  uint64_t bodySize;
  status = OpenVolumeFile(request, requestorMode, &file, &bodySize);
  if (!NT_SUCCESS(status)) return status;

  LockHolder hold(&gTableLock);
  int number;
  PDEVICE_OBJECT device;
  status = CreateVolumeDevice(driver, request->readOnly == 1, &number, &device);
  if (NT_SUCCESS(status)) {
    status = ProtectDevice(device, user);
    if (!NT_SUCCESS(status)) IoDeleteDevice(device);
  }
  if (!NT_SUCCESS(status)) {
    ZwClose(file);
    return status;
  }
  VolumeExtension* volume = Extension(device);
  volume->header.kind = kStandinVolumeDevice;
  volume->header.deviceNumber = static_cast<int8_t>(number);
  volume->lock.Init();
  volume->readOnly = request->readOnly == 1;
  volume->driveLetter = UpperDriveLetter(request->driveLetter);
  volume->algorithm = request->algorithm;
  volume->headerPlacement = request->headerPlacement;
  volume->ownerSession = caller.logonSession;
  memcpy(volume->targetPath, request->targetPath, sizeof volume->targetPath);
  volume->file = file;
  volume->bodySize = bodySize;
  volume->idle = VD_IDLE_REARM;  // the program arms the count right after the mount
  BodyCipherInit(&volume->cipher, request->algorithm, request->sectorKey, request->sectorIvSeed);
  volume->mounted = true;
  device->Flags |= DO_DIRECT_IO;
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  gVolumes[number] = device;
  *deviceNumber = static_cast<int8_t>(number);
  return STATUS_SUCCESS;
}

NTSTATUS DismountVolumeDevices(char driveLetter) {
  VolumeCaller caller;
  NTSTATUS status = IdentifyCaller(&caller, nullptr);
  if (!NT_SUCCESS(status)) return status;
  char letter = UpperDriveLetter(driveLetter);
  LockHolder hold(&gTableLock);
  auto onLetter = [&](int n) {
    return gVolumes[n] != nullptr && Extension(gVolumes[n])->driveLetter == letter;
  };
  uint64_t owners[kMaxVolumes];
  int count = 0;
  for (int n = 0; n < kMaxVolumes; ++n) {
    if (onLetter(n)) owners[count++] = Extension(gVolumes[n])->ownerSession;
  }
  DismountChoice choice = ChooseDismount(caller, owners, count);
  if (choice == DismountChoice::kNothing) return STATUS_NO_SUCH_DEVICE;
  if (choice == DismountChoice::kRefused) return STATUS_ACCESS_DENIED;
  for (int n = 0; n < kMaxVolumes; ++n) {
    if (!onLetter(n)) continue;
    if (choice == DismountChoice::kOwn &&
        Extension(gVolumes[n])->ownerSession != caller.logonSession) {
      continue;
    }
    RemoveVolume(n);
  }
  return STATUS_SUCCESS;
}

void DismountAllVolumeDevices() {
  LockHolder hold(&gTableLock);
  for (int n = 0; n < kMaxVolumes; ++n) {
    if (gVolumes[n] != nullptr) RemoveVolume(n);
  }
}

NTSTATUS HandleVolumeRequest(PDEVICE_OBJECT device, PIRP irp, PIO_STACK_LOCATION stack,
                             ULONG_PTR* information) {
  VolumeExtension* volume = Extension(device);
  LockHolder hold(&volume->lock);
  UCHAR major = stack->MajorFunction;
  if (major == IRP_MJ_CLOSE || major == IRP_MJ_CLEANUP) return STATUS_SUCCESS;
  if (!volume->mounted) return STATUS_NO_SUCH_DEVICE;
  switch (major) {
    case IRP_MJ_CREATE:
      return STATUS_SUCCESS;
    case IRP_MJ_READ:
      return Transfer(volume, irp, false, stack->Parameters.Read.ByteOffset.QuadPart,
                      stack->Parameters.Read.Length, information);
    case IRP_MJ_WRITE:
      return Transfer(volume, irp, true, stack->Parameters.Write.ByteOffset.QuadPart,
                      stack->Parameters.Write.Length, information);
    case IRP_MJ_FLUSH_BUFFERS: {
      if (volume->readOnly) return STATUS_SUCCESS;
      IO_STATUS_BLOCK io;
      return ZwFlushBuffersFile(volume->file, &io);
    }
    case IRP_MJ_DEVICE_CONTROL:
      return HandleVolumeControl(volume, irp, stack, information);
    default:
      return STATUS_INVALID_DEVICE_REQUEST;
  }
}
