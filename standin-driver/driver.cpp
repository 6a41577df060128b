// The stand-in disk driver velmorcrypt.sys: the control device
// "\Device\Velmorcrypt" ("\\.\Velmorcrypt"), which mounts and dismounts
// volumes and answers the version, and one volume device per mounted volume
// (volume_device.cpp). Every request goes through one dispatch routine,
// which in the test variant logs it for tests; a volume's reads, writes and
// flushes are served on the volume's own thread, everything else at once.
#include <string.h>

#include "crypto/wipe.h"
#include "standin-driver/caller.h"
#include "standin-driver/kernel.h"
#include "standin-driver/request_log.h"
#include "standin-driver/standin_test_protocol.h"
#include "standin-driver/volume_device.h"

namespace {

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
      CallerIdentity caller;
      IdentifyRequest(irp, stack, &caller);
      int8_t deviceNumber = -1;
      NTSTATUS status = MountVolumeDevice(device->DriverObject, &record, irp->RequestorMode, caller,
                                          &deviceNumber);
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
      CallerIdentity caller;
      IdentifyRequest(irp, stack, &caller);
      NTSTATUS status = DismountVolumeDevices(record.driveLetter, caller, record.force == 1);
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
    case IRP_MJ_SHUTDOWN:
      // The system is going down: what the volumes' files still hold goes
      // to their disks.
      FlushAllVolumes();
      return STATUS_SUCCESS;
    default:
      return STATUS_INVALID_DEVICE_REQUEST;
  }
}

NTSTATUS HandleRequest(PDEVICE_OBJECT device, PIRP irp, PIO_STACK_LOCATION stack,
                       ULONG_PTR* information) {
  const auto* header = static_cast<const DeviceHeader*>(device->DeviceExtension);
  // Who opens a handle is noted with its file object, and forgotten with it.
  NTSTATUS status = STATUS_SUCCESS;
  if (stack->MajorFunction == IRP_MJ_CREATE) status = NoteOpener(irp, stack);
  if (stack->MajorFunction == IRP_MJ_CLEANUP) NoteCleanup(stack->FileObject);
  if (stack->MajorFunction == IRP_MJ_CLOSE) ForgetOpener(stack->FileObject);
  if (NT_SUCCESS(status)) {
    status = header->kind == kStandinControlDevice
                 ? HandleControlRequest(device, irp, stack, information)
                 : HandleVolumeRequest(device, irp, stack, information);
  }
  if (stack->MajorFunction == IRP_MJ_CREATE && !NT_SUCCESS(status)) {
    ForgetOpener(stack->FileObject);
  }
  return status;
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
  NoteArrival(irp);
  StandinLogEntry entry = {};
  BeginLogEntry(&entry, header, irp, stack);
  bool injected = TakeInjectedFailure(stack, &status);
  if (!injected) {
    status = HandleRequest(device, irp, stack, &information);
    // Queued to a volume's thread, which completes and logs it.
    if (status == STATUS_PENDING) return status;
  }
  if (!NT_SUCCESS(status)) WipeFailedMountRequest(irp, stack);
  CompleteRequest(irp, &entry, status, information, injected);
  return status;
}

// Called only while no volume is mounted (the driver refuses a stop
// otherwise); should a stop have got in before a mount that raced it, that
// volume is dismounted and its keys wiped all the same.
void NTAPI Unload(PDRIVER_OBJECT) {
  DismountAllVolumeDevices();
  IoUnregisterShutdownNotification(gControlDevice);
  UNICODE_STRING dosName;
  RtlInitUnicodeString(&dosName, VD_CONTROL_DEVICE_DOS_NAME);
  IoDeleteSymbolicLink(&dosName);
  IoDeleteDevice(gControlDevice);
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
  InitRequestLog();
  InitCallers();
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
  UNICODE_STRING dosName;
  RtlInitUnicodeString(&dosName, VD_CONTROL_DEVICE_DOS_NAME);
  if (NT_SUCCESS(status)) status = IoCreateSymbolicLink(&dosName, &name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(gControlDevice);
    return status;
  }
  // The volumes' files are flushed when the system shuts down.
  status = IoRegisterShutdownNotification(gControlDevice);
  if (!NT_SUCCESS(status)) {
    IoDeleteSymbolicLink(&dosName);
    IoDeleteDevice(gControlDevice);
    return status;
  }

  const UCHAR kHandledMajors[] = {IRP_MJ_CREATE,         IRP_MJ_CLEANUP, IRP_MJ_CLOSE,
                                  IRP_MJ_READ,           IRP_MJ_WRITE,   IRP_MJ_FLUSH_BUFFERS,
                                  IRP_MJ_DEVICE_CONTROL, IRP_MJ_SHUTDOWN};
  for (UCHAR major : kHandledMajors) driver->MajorFunction[major] = DispatchRequest;
  InitVolumeTable(driver, Unload);
  gControlDevice->Flags |= DO_BUFFERED_IO;
  gControlDevice->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}
