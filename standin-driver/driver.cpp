// The stand-in disk driver velmorcrypt.sys: the control device
// "\Device\Velmorcrypt" ("\\.\Velmorcrypt"), which mounts and dismounts
// volumes and answers the version, and one volume device per mounted volume
// (volume_device.cpp). Every request goes through one dispatch routine,
// which in the test variant logs it for tests; a volume's file I/O is served
// from a worker thread when it arrives above PASSIVE_LEVEL, everything else
// at once.
#include <string.h>

#include "crypto/wipe.h"
#include "standin-driver/caller.h"
#include "standin-driver/kernel.h"
#include "standin-driver/request_log.h"
#include "standin-driver/standin_test_protocol.h"
#include "standin-driver/volume_device.h"

namespace {

constexpr ULONG kPoolTag = 'V' | ('m' << 8) | ('V' << 16) | ('z' << 24);  // "VmVz"

PDEVICE_OBJECT gControlDevice;

// Copies a mount or dismount record out of the system buffer and wipes the
// buffer (a mount request carries the volume's keys, and the same buffer
// carries the reply back). The record stays as the caller sent it: a
// targetPath without its NUL is refused by the mount, never cut.
void TakeRecord(PIRP irp, ULONG inputLength, VolumeControlRecord* record) {
  memcpy(record, irp->AssociatedIrp.SystemBuffer, sizeof *record);
  SecureWipe(irp->AssociatedIrp.SystemBuffer, inputLength);
}

NTSTATUS HandleControlDeviceControl(PDEVICE_OBJECT device, PIRP irp, PIO_STACK_LOCATION stack,
                                    ULONG_PTR* information) {
  void* buffer = irp->AssociatedIrp.SystemBuffer;
  ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_VD_GET_VERSION: {
      if (outputLength < sizeof(DriverVersion)) return STATUS_BUFFER_TOO_SMALL;
      DriverVersion version = {kStandinVersionMajor, kStandinVersionMinor, kStandinVersionBuild};
      memcpy(buffer, &version, sizeof version);
      *information = sizeof version;
      return STATUS_SUCCESS;
    }
    case IOCTL_VD_MOUNT: {
      if (inputLength < sizeof(VolumeControlRecord)) return STATUS_INVALID_PARAMETER;
      if (outputLength < sizeof(VolumeControlRecord)) return STATUS_BUFFER_TOO_SMALL;
      VolumeControlRecord record;
      TakeRecord(irp, inputLength, &record);
      int8_t deviceNumber = -1;
      NTSTATUS status =
          MountVolumeDevice(device->DriverObject, &record, irp->RequestorMode, &deviceNumber);
      SecureWipe(&record, sizeof record);
      if (!NT_SUCCESS(status)) return status;
      // The reply carries the device number and nothing else.
      VolumeControlRecord reply;
      memset(&reply, 0, sizeof reply);
      reply.deviceNumber = deviceNumber;
      memcpy(buffer, &reply, sizeof reply);
      *information = sizeof reply;
      return STATUS_SUCCESS;
    }
    case IOCTL_VD_DISMOUNT: {
      if (inputLength < sizeof(VolumeControlRecord)) return STATUS_INVALID_PARAMETER;
      VolumeControlRecord record;
      TakeRecord(irp, inputLength, &record);
      NTSTATUS status = DismountVolumeDevices(record.driveLetter);
      SecureWipe(&record, sizeof record);
      return status;
    }
    default:
      return STATUS_INVALID_DEVICE_REQUEST;
  }
}

NTSTATUS HandleControlRequest(PDEVICE_OBJECT device, PIRP irp, PIO_STACK_LOCATION stack,
                              ULONG_PTR* information) {
  switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
    case IRP_MJ_CLEANUP:
    case IRP_MJ_CLOSE:
      return STATUS_SUCCESS;
    case IRP_MJ_DEVICE_CONTROL:
      return HandleControlDeviceControl(device, irp, stack, information);
    default:
      return STATUS_INVALID_DEVICE_REQUEST;
  }
}

// A mount request carries a volume's keys. When it fails, however early,
// they do not stay behind in the system buffer either.
void WipeFailedMountRequest(PIRP irp, PIO_STACK_LOCATION stack) {
  if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL &&
      stack->Parameters.DeviceIoControl.IoControlCode == IOCTL_VD_MOUNT &&
      irp->AssociatedIrp.SystemBuffer != nullptr) {
    SecureWipe(irp->AssociatedIrp.SystemBuffer,
               stack->Parameters.DeviceIoControl.InputBufferLength);
  }
}

// Completes a request and adds it, with its outcome, to the log. A warning
// such as STATUS_BUFFER_OVERFLOW keeps the bytes it answered.
void CompleteRequest(PIRP irp, StandinLogEntry* entry, NTSTATUS status, ULONG_PTR information,
                     bool injected) {
  if (NT_ERROR(status)) information = 0;
  FinishLogEntry(entry, status, information, injected);
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
}

// A volume's reads, writes and flushes go to the volume file, which needs
// PASSIVE_LEVEL. They are served in the caller's thread when it runs at
// PASSIVE_LEVEL; a file system's paging I/O, which on Windows may arrive
// above it, is served from a system worker thread instead. Under Wine every
// request arrives at PASSIVE_LEVEL on the driver host's one dispatch thread,
// which matters: Wine's kernel mutexes are never handed from the thread that
// releases one to a thread that waits for it, so requests served on worker
// threads, which contend for the volume and log locks, would hang for good.
bool NeedsWorkerThread(const DeviceHeader* device, PIO_STACK_LOCATION stack) {
  UCHAR major = stack->MajorFunction;
  return device->kind == kStandinVolumeDevice &&
         (major == IRP_MJ_READ || major == IRP_MJ_WRITE || major == IRP_MJ_FLUSH_BUFFERS) &&
         KeGetCurrentIrql() > PASSIVE_LEVEL;
}

struct QueuedRequest {
  PIO_WORKITEM workItem;
  PIRP irp;
  StandinLogEntry entry;
};

void NTAPI ServeQueuedRequest(PDEVICE_OBJECT device, PVOID context) {
  auto* queued = static_cast<QueuedRequest*>(context);
  ULONG_PTR information = 0;
  NTSTATUS status = HandleVolumeRequest(device, queued->irp,
                                        IoGetCurrentIrpStackLocation(queued->irp), &information);
  CompleteRequest(queued->irp, &queued->entry, status, information, false);
  IoFreeWorkItem(queued->workItem);
  ExFreePoolWithTag(queued, kPoolTag);
}

// Queues the request to a worker thread; false when there is no memory
// for that.
bool QueueRequest(PDEVICE_OBJECT device, PIRP irp, const StandinLogEntry& entry) {
  auto* queued = static_cast<QueuedRequest*>(
      ExAllocatePoolWithTag(NonPagedPool, sizeof(QueuedRequest), kPoolTag));
  if (queued == nullptr) return false;
  queued->workItem = IoAllocateWorkItem(device);
  if (queued->workItem == nullptr) {
    ExFreePoolWithTag(queued, kPoolTag);
    return false;
  }
  queued->irp = irp;
  queued->entry = entry;
  IoMarkIrpPending(irp);
  IoQueueWorkItem(queued->workItem, ServeQueuedRequest, DelayedWorkQueue, queued);
  return true;
}

NTSTATUS NTAPI DispatchRequest(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const auto* header = static_cast<const DeviceHeader*>(device->DeviceExtension);
  ULONG_PTR information = 0;
  NTSTATUS status;
  if (IsTestControl(stack)) {
    status = HandleTestControl(irp, stack, &information);
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = NT_SUCCESS(status) ? information : 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
  }
  StandinLogEntry entry = {};
  BeginLogEntry(&entry, header, irp, stack);
  bool injected = TakeInjectedFailure(stack, &status);
  if (!injected && NeedsWorkerThread(header, stack)) {
    if (QueueRequest(device, irp, entry)) return STATUS_PENDING;
    status = STATUS_INSUFFICIENT_RESOURCES;
  } else if (!injected) {
    status = header->kind == kStandinControlDevice
                 ? HandleControlRequest(device, irp, stack, &information)
                 : HandleVolumeRequest(device, irp, stack, &information);
  }
  if (!NT_SUCCESS(status)) WipeFailedMountRequest(irp, stack);
  CompleteRequest(irp, &entry, status, information, injected);
  return status;
}

// Nothing outlives the driver: every volume is dismounted and its keys are
// wiped.
void NTAPI Unload(PDRIVER_OBJECT) {
  DismountAllVolumeDevices();
  UNICODE_STRING dosName;
  RtlInitUnicodeString(&dosName, VD_CONTROL_DEVICE_DOS_NAME);
  IoDeleteSymbolicLink(&dosName);
  IoDeleteDevice(gControlDevice);
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  InitRequestLog();
  InitVolumeTable();
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, VD_CONTROL_DEVICE_NT_NAME);
  NTSTATUS status = IoCreateDevice(driver, sizeof(DeviceHeader), &name, FILE_DEVICE_UNKNOWN,
                                   FILE_DEVICE_SECURE_OPEN, FALSE, &gControlDevice);
  if (!NT_SUCCESS(status)) return status;
  auto* header = static_cast<DeviceHeader*>(gControlDevice->DeviceExtension);
  header->kind = kStandinControlDevice;
  header->deviceNumber = -1;
  // Any signed-in user may send requests; the driver checks each itself.
  status = ProtectDevice(gControlDevice, AuthenticatedUsersSid());
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(gControlDevice);
    return status;
  }

  UNICODE_STRING dosName;
  RtlInitUnicodeString(&dosName, VD_CONTROL_DEVICE_DOS_NAME);
  status = IoCreateSymbolicLink(&dosName, &name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(gControlDevice);
    return status;
  }

  const UCHAR kHandledMajors[] = {IRP_MJ_CREATE,        IRP_MJ_CLEANUP, IRP_MJ_CLOSE,
                                  IRP_MJ_READ,          IRP_MJ_WRITE,   IRP_MJ_FLUSH_BUFFERS,
                                  IRP_MJ_DEVICE_CONTROL};
  for (UCHAR major : kHandledMajors) driver->MajorFunction[major] = DispatchRequest;
  driver->DriverUnload = Unload;
  gControlDevice->Flags |= DO_BUFFERED_IO;
  gControlDevice->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}
