#include "standin-driver/request_log.h"

#include <string.h>

static_assert(kStandinMajorCreate == IRP_MJ_CREATE && kStandinMajorClose == IRP_MJ_CLOSE &&
                  kStandinMajorRead == IRP_MJ_READ && kStandinMajorWrite == IRP_MJ_WRITE &&
                  kStandinMajorFlushBuffers == IRP_MJ_FLUSH_BUFFERS &&
                  kStandinMajorDeviceControl == IRP_MJ_DEVICE_CONTROL &&
                  kStandinMajorCleanup == IRP_MJ_CLEANUP,
              "major function numbers");

namespace {

KernelLock gLogLock;  // guards everything below
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
  bool impersonate;
  SECURITY_IMPERSONATION_LEVEL level;
};
ChosenCaller gChosenCaller;

ULONG ControlCode(PIO_STACK_LOCATION stack) {
  return stack->MajorFunction == IRP_MJ_DEVICE_CONTROL
             ? stack->Parameters.DeviceIoControl.IoControlCode
             : 0;
}

NTSTATUS TakeLog(void* buffer, ULONG outputLength, ULONG_PTR* information) {
  LockHolder hold(&gLogLock);
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
  LockHolder hold(&gLogLock);
  gFailure = {request.majorFunction, request.controlCode, request.status, request.count};
  return STATUS_SUCCESS;
}

NTSTATUS ChooseCaller(const StandinTestRequest& request) {
  if (request.chosen > 1 || request.administrator > 1 || request.impersonate > 1 ||
      request.impersonationLevel > SecurityDelegation) {
    return STATUS_INVALID_PARAMETER;
  }
  LockHolder hold(&gLogLock);
  gChosenCaller = {request.chosen == 1,
                   {request.logonSession, request.administrator == 1},
                   request.impersonate == 1,
                   static_cast<SECURITY_IMPERSONATION_LEVEL>(request.impersonationLevel)};
  return STATUS_SUCCESS;
}

// The driver's process token duplicated as an impersonation token at
// `level`.
NTSTATUS DuplicateProcessToken(SECURITY_IMPERSONATION_LEVEL level, HANDLE* duplicate) {
  HANDLE process;
  NTSTATUS status =
      ZwOpenProcessTokenEx(NtCurrentProcess(), TOKEN_DUPLICATE, OBJ_KERNEL_HANDLE, &process);
  if (!NT_SUCCESS(status)) return status;
  SECURITY_QUALITY_OF_SERVICE qos = {sizeof qos, level, SECURITY_STATIC_TRACKING, FALSE};
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, nullptr, OBJ_KERNEL_HANDLE, nullptr, nullptr);
  attributes.SecurityQualityOfService = &qos;
  status = ZwDuplicateToken(process, TOKEN_IMPERSONATE | TOKEN_QUERY, &attributes, FALSE,
                            TokenImpersonation, duplicate);
  ZwClose(process);
  return status;
}

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
  LockHolder hold(&gLogLock);
  entry->sequence = gSequence++;
  uint32_t slot = (gLogFirst + gLogCount) % kStandinLogCapacity;
  memcpy(&gLog[slot], entry, sizeof *entry);
  if (gLogCount < kStandinLogCapacity) {
    ++gLogCount;
  } else {
    gLogFirst = (gLogFirst + 1) % kStandinLogCapacity;  // the oldest entry is overwritten
  }
}

bool TakeInjectedFailure(PIO_STACK_LOCATION stack, NTSTATUS* status) {
  LockHolder hold(&gLogLock);
  if (gFailure.count == 0 || gFailure.majorFunction != stack->MajorFunction) return false;
  if (gFailure.controlCode != 0 && gFailure.controlCode != ControlCode(stack)) return false;
  --gFailure.count;
  *status = gFailure.status;
  return true;
}

void TakeChosenCaller(VolumeCaller* caller) {
  LockHolder hold(&gLogLock);
  if (gChosenCaller.chosen) *caller = gChosenCaller.caller;
}

PresentedToken::PresentedToken() {
  SECURITY_IMPERSONATION_LEVEL level;
  {
    LockHolder hold(&gLogLock);
    if (!gChosenCaller.impersonate) return;
    level = gChosenCaller.level;
  }
  HANDLE token;
  status_ = DuplicateProcessToken(level, &token);
  if (!NT_SUCCESS(status_)) return;
  status_ =
      ZwSetInformationThread(NtCurrentThread(), ThreadImpersonationToken, &token, sizeof token);
  ZwClose(token);
  impersonating_ = NT_SUCCESS(status_);
}

PresentedToken::~PresentedToken() {
  HANDLE none = nullptr;
  if (impersonating_) {
    ZwSetInformationThread(NtCurrentThread(), ThreadImpersonationToken, &none, sizeof none);
  }
}
