#include "standin-driver/request_log.h"

#include <string.h>

#include "standin-driver/volume_device.h"

static_assert(kStandinMajorCreate == IRP_MJ_CREATE && kStandinMajorClose == IRP_MJ_CLOSE &&
                  kStandinMajorRead == IRP_MJ_READ && kStandinMajorWrite == IRP_MJ_WRITE &&
                  kStandinMajorFlushBuffers == IRP_MJ_FLUSH_BUFFERS &&
                  kStandinMajorDeviceControl == IRP_MJ_DEVICE_CONTROL &&
                  kStandinMajorCleanup == IRP_MJ_CLEANUP,
              "major function numbers");

namespace {

SpinLock gLogLock;  // guards everything below
StandinLogEntry gLog[kStandinLogCapacity];
uint32_t gLogFirst;  // index of the oldest entry
uint32_t gLogCount;
uint32_t gSequence;

struct ArmedFailure {
  uint32_t majorFunction;
  uint32_t controlCode;  // 0: any
  NTSTATUS status;
  uint32_t count;  // requests still to fail; 0 when disarmed
};
ArmedFailure gFailure;

struct ChosenCaller {
  bool chosen;
  VolumeCaller caller;
};
ChosenCaller gChosenCaller;

struct ChosenVolumeFile {
  ULONG sectorSize;  // 0: as the disk reports
  ULONG attributes;  // added to the file's own
};
ChosenVolumeFile gChosenVolumeFile;

ULONG ControlCode(PIO_STACK_LOCATION stack) {
  return stack->MajorFunction == IRP_MJ_DEVICE_CONTROL
             ? stack->Parameters.DeviceIoControl.IoControlCode
             : 0;
}

NTSTATUS TakeLog(void* buffer, ULONG outputLength, ULONG_PTR* information) {
  SpinHolder hold(&gLogLock);
  uint32_t count = outputLength / sizeof(StandinLogEntry);
  if (count > gLogCount) count = gLogCount;
  auto* out = static_cast<StandinLogEntry*>(buffer);
  for (uint32_t i = 0; i < count; ++i) {
    memcpy(&out[i], &gLog[gLogFirst], sizeof(StandinLogEntry));
    gLogFirst = (gLogFirst + 1) % kStandinLogCapacity;
  }
  gLogCount -= count;
  *information = count * sizeof(StandinLogEntry);
  return STATUS_SUCCESS;
}

NTSTATUS ArmFailure(const StandinTestRequest& request) {
  if (request.count != 0 &&
      (request.majorFunction > IRP_MJ_MAXIMUM_FUNCTION || NT_SUCCESS(request.status))) {
    return STATUS_INVALID_PARAMETER;
  }
  SpinHolder hold(&gLogLock);
  gFailure = {request.majorFunction, request.controlCode, request.status, request.count};
  return STATUS_SUCCESS;
}

NTSTATUS ChooseCaller(const StandinTestRequest& request) {
  if (request.chosen > 1 || request.administrator > 1) return STATUS_INVALID_PARAMETER;
  SpinHolder hold(&gLogLock);
  gChosenCaller = {request.chosen == 1, {request.logonSession, request.administrator == 1}};
  return STATUS_SUCCESS;
}

NTSTATUS ChooseVolumeFile(const StandinTestRequest& request) {
  const uint32_t size = request.sectorSize;
  if (size != 0 && (size < 512 || (size & (size - 1)) != 0)) return STATUS_INVALID_PARAMETER;
  SpinHolder hold(&gLogLock);
  gChosenVolumeFile = {size, request.fileAttributes};
  return STATUS_SUCCESS;
}

// Adds a finished entry to the log; the oldest entry gives way when it is
// full.
void AddToLog(StandinLogEntry* entry) {
  SpinHolder hold(&gLogLock);
  entry->sequence = gSequence++;
  uint32_t slot = (gLogFirst + gLogCount) % kStandinLogCapacity;
  memcpy(&gLog[slot], entry, sizeof *entry);
  if (gLogCount < kStandinLogCapacity) {
    ++gLogCount;
  } else {
    gLogFirst = (gLogFirst + 1) % kStandinLogCapacity;
  }
}

uint32_t ThreadNumber(HANDLE id) { return static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(id)); }

NTSTATUS ReadSecurity(PDEVICE_OBJECT device, void* buffer, ULONG outputLength,
                      ULONG_PTR* information) {
  HANDLE handle;
  NTSTATUS status = ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, nullptr, READ_CONTROL, nullptr,
                                          KernelMode, &handle);
  if (!NT_SUCCESS(status)) return status;
  ULONG needed = 0;
  status = ZwQuerySecurityObject(handle, DACL_SECURITY_INFORMATION, buffer, outputLength, &needed);
  ZwClose(handle);
  if (NT_SUCCESS(status)) *information = needed;
  return status;
}

}  // namespace

void InitRequestLog() { gLogLock.Init(); }

bool IsTestControl(PIO_STACK_LOCATION stack) { return ControlCode(stack) == IOCTL_VD_STANDIN_TEST; }

NTSTATUS HandleTestControl(PIRP irp, PIO_STACK_LOCATION stack, ULONG_PTR* information) {
  if (stack->Parameters.DeviceIoControl.InputBufferLength < sizeof(StandinTestRequest)) {
    return STATUS_INVALID_PARAMETER;
  }
  // Input and output share the system buffer: read the request first.
  StandinTestRequest request;
  memcpy(&request, irp->AssociatedIrp.SystemBuffer, sizeof request);
  switch (request.command) {
    case kStandinTakeLog:
      return TakeLog(irp->AssociatedIrp.SystemBuffer,
                     stack->Parameters.DeviceIoControl.OutputBufferLength, information);
    case kStandinFailRequests:
      return ArmFailure(request);
    case kStandinChooseCaller:
      return ChooseCaller(request);
    case kStandinReadSecurity:
      return ReadSecurity(stack->DeviceObject, irp->AssociatedIrp.SystemBuffer,
                          stack->Parameters.DeviceIoControl.OutputBufferLength, information);
    case kStandinChooseVolumeFile:
      return ChooseVolumeFile(request);
    case kStandinShutdown:
      FlushAllVolumes();
      return STATUS_SUCCESS;
    default:
      return STATUS_INVALID_PARAMETER;
  }
}

void BeginLogEntry(StandinLogEntry* entry, const DeviceHeader* device, PIRP irp,
                   PIO_STACK_LOCATION stack) {
  memset(entry, 0, sizeof *entry);
  entry->majorFunction = stack->MajorFunction;
  entry->deviceKind = device->kind;
  entry->deviceNumber = device->deviceNumber;
  entry->controlCode = ControlCode(stack);
  entry->arrivalThread = ThreadNumber(irp->Tail.Overlay.DriverContext[0]);
  switch (stack->MajorFunction) {
    case IRP_MJ_READ:
      entry->offset = static_cast<uint64_t>(stack->Parameters.Read.ByteOffset.QuadPart);
      entry->length = stack->Parameters.Read.Length;
      break;
    case IRP_MJ_WRITE:
      entry->offset = static_cast<uint64_t>(stack->Parameters.Write.ByteOffset.QuadPart);
      entry->length = stack->Parameters.Write.Length;
      break;
    case IRP_MJ_DEVICE_CONTROL:
      entry->inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
      entry->outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
      break;
    default:
      break;
  }
  bool carriesRecord =
      entry->controlCode == IOCTL_VD_MOUNT || entry->controlCode == IOCTL_VD_DISMOUNT;
  if (!carriesRecord || entry->inputLength < sizeof(VolumeControlRecord)) return;
  // The record's plain fields, never its keys.
  const auto* record = static_cast<const VolumeControlRecord*>(irp->AssociatedIrp.SystemBuffer);
  memcpy(entry->targetPath, record->targetPath, sizeof entry->targetPath - 1);
  entry->driveLetter = record->driveLetter;
  entry->algorithm = record->algorithm;
  entry->headerPlacement = record->headerPlacement;
  entry->readOnly = record->readOnly;
  entry->logonSessionId = record->logonSessionId;
}

void FinishLogEntry(StandinLogEntry* entry, NTSTATUS status, ULONG_PTR information, bool injected) {
  entry->status = status;
  entry->transferred = static_cast<uint32_t>(information);
  entry->injected = injected ? 1 : 0;
  entry->servingThread = ThreadNumber(PsGetCurrentThreadId());
  AddToLog(entry);
}

void LogFileOpen(NTSTATUS status, ULONG options, ULONG mode, ULONG sectorSize,
                 const SECURITY_QUALITY_OF_SERVICE& qos) {
  StandinLogEntry entry;
  memset(&entry, 0, sizeof entry);
  entry.majorFunction = IRP_MJ_CREATE;
  entry.deviceKind = kStandinVolumeFile;
  entry.deviceNumber = -1;
  entry.status = status;
  entry.fileOptions = options;
  entry.fileMode = mode;
  entry.sectorSize = sectorSize;
  entry.qosLevel = static_cast<uint8_t>(qos.ImpersonationLevel);
  entry.qosTracking = qos.ContextTrackingMode;
  entry.qosEffectiveOnly = qos.EffectiveOnly;
  entry.servingThread = ThreadNumber(PsGetCurrentThreadId());
  AddToLog(&entry);
}

void LogFileOperation(int8_t deviceNumber, UCHAR major, NTSTATUS status) {
  StandinLogEntry entry;
  memset(&entry, 0, sizeof entry);
  entry.majorFunction = major;
  entry.deviceKind = kStandinVolumeFile;
  entry.deviceNumber = deviceNumber;
  entry.status = status;
  entry.servingThread = ThreadNumber(PsGetCurrentThreadId());
  AddToLog(&entry);
}

bool TakeInjectedFailure(PIO_STACK_LOCATION stack, NTSTATUS* status) {
  SpinHolder hold(&gLogLock);
  if (gFailure.count == 0 || gFailure.majorFunction != stack->MajorFunction) return false;
  if (gFailure.controlCode != 0 && gFailure.controlCode != ControlCode(stack)) return false;
  --gFailure.count;
  *status = gFailure.status;
  return true;
}

void TakeChosenCaller(VolumeCaller* caller) {
  SpinHolder hold(&gLogLock);
  if (gChosenCaller.chosen) *caller = gChosenCaller.caller;
}

ULONG TakeChosenSectorSize(ULONG reported) {
  SpinHolder hold(&gLogLock);
  return gChosenVolumeFile.sectorSize != 0 ? gChosenVolumeFile.sectorSize : reported;
}

ULONG TakeChosenFileAttributes(ULONG reported) {
  SpinHolder hold(&gLogLock);
  return reported | gChosenVolumeFile.attributes;
}
