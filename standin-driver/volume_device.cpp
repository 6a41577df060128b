#include "standin-driver/volume_device.h"

#include <string.h>

#include "standin-driver/disk_controls.h"
#include "standin-driver/request_log.h"
#include "standin-driver/standin_test_protocol.h"
#include "standin-driver/volume_file.h"
#include "volume/body_cipher.h"
#include "volume/header.h"
#include "volume/sector_service.h"

namespace {

constexpr int kMaxVolumes = 64;
// A mapping of a request's buffer that never runs code (missing from
// mingw-w64's headers).
constexpr ULONG kMdlMappingNoExecute = 0x40000000;

// One mounted volume. Its reads, writes and flushes wait in `queue`, linked
// through each request's own list entry (nothing is allocated per request),
// and are served one at a time by the volume's system thread, never in the
// caller's thread: the guest file system, its filters and the host's file
// system then never nest on one kernel stack, and the guest's top-level
// request never reaches the host's file system.
struct VolumeExtension {
  DeviceHeader header;
  // Set at the mount and never changed.
  bool readOnly;
  char driveLetter;  // upper case
  uint8_t algorithm;
  uint8_t headerPlacement;
  uint64_t ownerSession;  // the logon session of the caller that mounted it
  char targetPath[VD_TARGET_PATH_SIZE];
  // Read and written whole: one byte.
  volatile IdleCounter idle;
  // Guarded by queueLock.
  SpinLock queueLock;
  bool closing;   // being dismounted: nothing new opens it or joins the queue
  bool stopping;  // the thread ends once the queue is empty
  LIST_ENTRY queue;
  KSEMAPHORE pending;  // one count per queued request, and one to stop
  HANDLE thread;
  // Used by the volume's thread alone while it runs.
  VolumeFile file;
  BodyCipher cipher;
  uint8_t* chunk;  // a write's sectors, encrypted here before they go to the file
};

PDRIVER_OBJECT gDriver;
PDRIVER_UNLOAD gUnload;
KernelLock gTableLock;                 // guards gVolumes, gVolumeCount and the device names
PDEVICE_OBJECT gVolumes[kMaxVolumes];  // indexed by device number
int gVolumeCount;

VolumeExtension* Extension(PDEVICE_OBJECT device) {
  return static_cast<VolumeExtension*>(device->DeviceExtension);
}

// The driver may be unloaded only while no volume is mounted. Called with
// gTableLock held.
void CountVolumes(int change) {
  gVolumeCount += change;
  gDriver->DriverUnload = gVolumeCount == 0 ? gUnload : nullptr;
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

// Creates the device on the lowest free number. A name still held by a
// device that is being deleted is skipped. Called with gTableLock held.
NTSTATUS CreateVolumeDevice(bool readOnly, int* number, PDEVICE_OBJECT* device) {
  for (int n = 0; n < kMaxVolumes; ++n) {
    if (gVolumes[n] != nullptr) continue;
    WCHAR nameBuffer[64];
    UNICODE_STRING name;
    MakeVolumeDeviceName(n, nameBuffer, &name);
    NTSTATUS status = IoCreateDevice(
        gDriver, sizeof(VolumeExtension), &name, FILE_DEVICE_DISK,
        FILE_DEVICE_SECURE_OPEN | (readOnly ? FILE_READ_ONLY_DEVICE : 0), FALSE, device);
    if (status == STATUS_OBJECT_NAME_COLLISION) continue;
    *number = n;
    return status;
  }
  return STATUS_INSUFFICIENT_RESOURCES;
}

// ---- The volume's thread ----

// The caller's buffer of a read or write: an MDL's system address (direct
// I/O), never executable, mapped even when memory is short; else the system
// buffer. Null when the mapping fails: the request then fails, nothing else.
uint8_t* TransferBuffer(PIRP irp) {
  if (irp->MdlAddress != nullptr) {
    const auto priority = static_cast<MM_PAGE_PRIORITY>(HighPagePriority | kMdlMappingNoExecute);
    return static_cast<uint8_t*>(MmGetSystemAddressForMdlSafe(irp->MdlAddress, priority));
  }
  return static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);
}

// Reads and writes by the sector service's rules for a disk device: sector
// aligned, within the body. A read that starts at the end of the body or
// beyond answers STATUS_END_OF_FILE; one that runs past the end answers the
// sectors before it. A write that does not fit in the body is refused as a
// whole, so it can never reach the header. Reads are decrypted in the
// caller's buffer; writes are encrypted chunk by chunk in a copy, so that
// the caller's data stays as it is. The file is write-through, so every
// write is on the disk when it completes, whether or not the request asked
// for that (SL_WRITE_THROUGH).
NTSTATUS Transfer(VolumeExtension* volume, PIRP irp, bool write, LONGLONG offset, ULONG length,
                  ULONG_PTR* information) {
  if (offset < 0) return STATUS_INVALID_PARAMETER;
  SectorPlan plan;
  switch (PlanSectorRequest({volume->file.bodySize, volume->readOnly},
                            static_cast<uint64_t>(offset), length, write,
                            SectorAlignment::kWholeSectors, &plan)) {
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

  const SectorStore store = {&volume->file, ReadVolumeFile, WriteVolumeFile};
  NTSTATUS status =
      write ? ServeSectorWrite(plan, &volume->cipher, store, buffer, volume->chunk, kTransferSize)
            : ServeSectorRead(plan, &volume->cipher, store, buffer);
  if (!NT_SUCCESS(status)) return status;
  volume->idle = VD_IDLE_REARM;  // used: the program's next tick rearms the count
  *information = plan.length;
  return STATUS_SUCCESS;
}

NTSTATUS ServeFileRequest(VolumeExtension* volume, PIRP irp, PIO_STACK_LOCATION stack,
                          ULONG_PTR* information) {
  switch (stack->MajorFunction) {
    case IRP_MJ_READ:
      return Transfer(volume, irp, false, stack->Parameters.Read.ByteOffset.QuadPart,
                      stack->Parameters.Read.Length, information);
    case IRP_MJ_WRITE:
      return Transfer(volume, irp, true, stack->Parameters.Write.ByteOffset.QuadPart,
                      stack->Parameters.Write.Length, information);
    default:  // IRP_MJ_FLUSH_BUFFERS
      return FlushVolumeFile(&volume->file);
  }
}

// The next queued request; null once the thread is to stop.
PIRP TakeQueued(VolumeExtension* volume, bool* stop) {
  SpinHolder hold(&volume->queueLock);
  *stop = volume->stopping && IsListEmpty(&volume->queue);
  if (IsListEmpty(&volume->queue)) return nullptr;
  return CONTAINING_RECORD(RemoveHeadList(&volume->queue), IRP, Tail.Overlay.ListEntry);
}

void NTAPI ServeVolume(PVOID context) {
  auto* volume = static_cast<VolumeExtension*>(context);
  for (;;) {
    KeWaitForSingleObject(&volume->pending, Executive, KernelMode, FALSE, nullptr);
    bool stop = false;
    PIRP irp = TakeQueued(volume, &stop);
    if (stop) break;
    if (irp == nullptr) continue;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    StandinLogEntry entry;
    BeginLogEntry(&entry, &volume->header, irp, stack);
    ULONG_PTR information = 0;
    NTSTATUS status = ServeFileRequest(volume, irp, stack, &information);
    CompleteRequest(irp, &entry, status, information, false);
  }
  PsTerminateSystemThread(STATUS_SUCCESS);
}

NTSTATUS QueueFileRequest(VolumeExtension* volume, PIRP irp) {
  {
    SpinHolder hold(&volume->queueLock);
    if (volume->closing) return STATUS_NO_SUCH_DEVICE;
    IoMarkIrpPending(irp);
    InsertTailList(&volume->queue, &irp->Tail.Overlay.ListEntry);
  }
  KeReleaseSemaphore(&volume->pending, IO_NO_INCREMENT, 1, FALSE);
  return STATUS_PENDING;
}

bool Closing(VolumeExtension* volume) {
  SpinHolder hold(&volume->queueLock);
  return volume->closing;
}

void MarkClosing(VolumeExtension* volume, bool closing) {
  SpinHolder hold(&volume->queueLock);
  volume->closing = closing;
}

// ---- Mount and dismount ----

// Starts the volume's thread. Called with gTableLock held.
NTSTATUS StartVolume(VolumeExtension* volume) {
  volume->queueLock.Init();
  InitializeListHead(&volume->queue);
  KeInitializeSemaphore(&volume->pending, 0, MAXLONG);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, nullptr, OBJ_KERNEL_HANDLE, nullptr, nullptr);
  return PsCreateSystemThread(&volume->thread, SYNCHRONIZE, &attributes, nullptr, nullptr,
                              ServeVolume, volume);
}

// Everything of a volume but its device: its thread (after the requests
// already queued), its file (flushed) and its keys.
void EndVolume(VolumeExtension* volume) {
  {
    SpinHolder hold(&volume->queueLock);
    volume->closing = true;
    volume->stopping = true;
  }
  KeReleaseSemaphore(&volume->pending, IO_NO_INCREMENT, 1, FALSE);
  ZwWaitForSingleObject(volume->thread, FALSE, nullptr);
  ZwClose(volume->thread);
  CloseVolumeFile(&volume->file);
  BodyCipherWipe(&volume->cipher);
  FreeTransferBuffer(volume->chunk);
  volume->chunk = nullptr;
}

// Called with gTableLock held.
void RemoveVolume(int number) {
  PDEVICE_OBJECT device = gVolumes[number];
  EndVolume(Extension(device));
  gVolumes[number] = nullptr;
  CountVolumes(-1);
  ForgetOpeners(device);
  IoDeleteDevice(device);
}

// Wine gives a device no VPB and mounts no file system on it.
bool FileSystemMounted(PDEVICE_OBJECT device) {
  if (device->Vpb == nullptr) return false;
  KIRQL irql;
  IoAcquireVpbSpinLock(&irql);
  const bool mounted = (device->Vpb->Flags & VPB_MOUNTED) != 0;
  IoReleaseVpbSpinLock(irql);
  return mounted;
}

bool InUse(PDEVICE_OBJECT device, HANDLE callerProcess) {
  return FileSystemMounted(device) || OpenElsewhere(device, callerProcess) > 0;
}

// ---- The volume's controls ----

NTSTATUS HandleVolumeControl(VolumeExtension* volume, PIRP irp, PIO_STACK_LOCATION stack,
                             ULONG_PTR* information) {
  void* buffer = irp->AssociatedIrp.SystemBuffer;
  ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  // The driver's own controls of a volume are for the session that mounted
  // it and for administrators.
  if (code == IOCTL_VD_QUERY_VOLUME || code == IOCTL_VD_GET_IDLE || code == IOCTL_VD_SET_IDLE) {
    CallerIdentity identity;
    IdentifyRequest(irp, stack, &identity);
    if (!NT_SUCCESS(identity.status)) return identity.status;
    if (!MayUseVolume(identity.caller, volume->ownerSession)) return STATUS_ACCESS_DENIED;
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
      reply.volumeSize = volume->file.bodySize;
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
    // On Windows the file system mounted on the volume (RAW at least)
    // answers the file-system controls of the dismount sequence and the
    // driver never sees them. Wine sends FSCTL_DISMOUNT_VOLUME to the driver
    // as a device control instead (and answers the lock and unlock itself):
    // answered as a volume without a mounted file system answers it.
    case VD_FSCTL_DISMOUNT_VOLUME:
      return STATUS_SUCCESS;
    default: {
      DiskFacts disk = {volume->file.bodySize, volume->readOnly, volume->header.deviceNumber};
      return HandleDiskControl(disk, irp, stack, information);
    }
  }
}

}  // namespace

void InitVolumeTable(PDRIVER_OBJECT driver, PDRIVER_UNLOAD unload) {
  gDriver = driver;
  gUnload = unload;
  gTableLock.Init();
  driver->DriverUnload = unload;
}

NTSTATUS MountVolumeDevice(PDRIVER_OBJECT driver, const VolumeControlRecord* request,
                           KPROCESSOR_MODE requestorMode, const CallerIdentity& caller,
                           int8_t* deviceNumber) {
  NTSTATUS status = CheckMountRequest(request);
  if (!NT_SUCCESS(status)) return status;
  if (!NT_SUCCESS(caller.status)) return caller.status;
  VolumeFile file;
  status = OpenVolumeFile(request, requestorMode, &file);
  if (!NT_SUCCESS(status)) return status;
  uint8_t* chunk = AllocateTransferBuffer(file.sectorSize);

  LockHolder hold(&gTableLock);
  int number = -1;
  PDEVICE_OBJECT device = nullptr;
  if (chunk == nullptr) {
    status = STATUS_INSUFFICIENT_RESOURCES;
  } else if ((driver->Flags & DRVO_UNLOAD_INVOKED) != 0) {
    status = STATUS_DELETE_PENDING;  // a stop got in first
  } else {
    status = CreateVolumeDevice(request->readOnly == 1, &number, &device);
  }
  if (NT_SUCCESS(status)) {
    status = ProtectDevice(device, caller.sid);
    if (!NT_SUCCESS(status)) IoDeleteDevice(device);
  }
  VolumeExtension* volume = NT_SUCCESS(status) ? Extension(device) : nullptr;
  if (volume != nullptr) {
    volume->header.kind = kStandinVolumeDevice;
    volume->header.deviceNumber = static_cast<int8_t>(number);
    volume->readOnly = request->readOnly == 1;
    volume->driveLetter = UpperDriveLetter(request->driveLetter);
    volume->algorithm = request->algorithm;
    volume->headerPlacement = request->headerPlacement;
    volume->ownerSession = caller.caller.logonSession;
    memcpy(volume->targetPath, request->targetPath, sizeof volume->targetPath);
    volume->idle = VD_IDLE_REARM;  // the program arms the count right after the mount
    volume->file = file;
    volume->file.deviceNumber = static_cast<int8_t>(number);
    volume->chunk = chunk;
    BodyCipherInit(&volume->cipher, request->algorithm, request->sectorKey, request->sectorIvSeed);
    status = StartVolume(volume);
    if (!NT_SUCCESS(status)) {
      BodyCipherWipe(&volume->cipher);
      IoDeleteDevice(device);
    }
  }
  if (!NT_SUCCESS(status)) {
    CloseVolumeFile(&file);
    FreeTransferBuffer(chunk);
    return status;
  }
  device->Flags |= DO_DIRECT_IO;
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  gVolumes[number] = device;
  CountVolumes(+1);
  *deviceNumber = static_cast<int8_t>(number);
  return STATUS_SUCCESS;
}

NTSTATUS DismountVolumeDevices(char driveLetter, const CallerIdentity& caller, bool force) {
  if (!NT_SUCCESS(caller.status)) return caller.status;
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
  DismountChoice choice = ChooseDismount(caller.caller, owners, count);
  if (choice == DismountChoice::kNothing) return STATUS_NO_SUCH_DEVICE;
  if (choice == DismountChoice::kRefused) return STATUS_ACCESS_DENIED;
  auto chosen = [&](int n) {
    return onLetter(n) && (choice != DismountChoice::kOwn ||
                           Extension(gVolumes[n])->ownerSession == caller.caller.logonSession);
  };
  // Closing first: an open or a mount that comes after the check fails.
  bool busy = false;
  for (int n = 0; n < kMaxVolumes; ++n) {
    if (!chosen(n)) continue;
    MarkClosing(Extension(gVolumes[n]), true);
    busy = busy || (!force && InUse(gVolumes[n], caller.processId));
  }
  for (int n = 0; n < kMaxVolumes; ++n) {
    if (!chosen(n)) continue;
    if (busy) {
      MarkClosing(Extension(gVolumes[n]), false);
    } else {
      RemoveVolume(n);
    }
  }
  return busy ? STATUS_DEVICE_BUSY : STATUS_SUCCESS;
}

void DismountAllVolumeDevices() {
  LockHolder hold(&gTableLock);
  for (int n = 0; n < kMaxVolumes; ++n) {
    if (gVolumes[n] != nullptr) RemoveVolume(n);
  }
}

void FlushAllVolumes() {
  LockHolder hold(&gTableLock);
  for (int n = 0; n < kMaxVolumes; ++n) {
    if (gVolumes[n] != nullptr) FlushVolumeFile(&Extension(gVolumes[n])->file);
  }
}

NTSTATUS HandleVolumeRequest(PDEVICE_OBJECT device, PIRP irp, PIO_STACK_LOCATION stack,
                             ULONG_PTR* information) {
  VolumeExtension* volume = Extension(device);
  switch (stack->MajorFunction) {
    case IRP_MJ_CLEANUP:
    case IRP_MJ_CLOSE:
      return STATUS_SUCCESS;
    case IRP_MJ_CREATE:
      return Closing(volume) ? STATUS_DELETE_PENDING : STATUS_SUCCESS;
    case IRP_MJ_READ:
    case IRP_MJ_WRITE:
    case IRP_MJ_FLUSH_BUFFERS:
      return QueueFileRequest(volume, irp);
    case IRP_MJ_DEVICE_CONTROL:
      return Closing(volume) ? STATUS_NO_SUCH_DEVICE
                             : HandleVolumeControl(volume, irp, stack, information);
    default:
      return STATUS_INVALID_DEVICE_REQUEST;
  }
}
