// For tests: the log of the requests the driver received and of what it did
// with the volume files, failures armed to answer chosen requests, callers
// chosen in place of their tokens, and volume files taken as on a disk a
// test chose (the private control code of standin_test_protocol.h). Only the
// test variant of the driver, built with VM_STANDIN_TEST_HOOK, has them; in
// the shipped driver they are empty and the test control code is unknown.
#pragma once
#include "driver/volume_owner.h"
#include "standin-driver/kernel.h"
#include "standin-driver/standin_test_protocol.h"

// Where a request arrived: the id of the thread that dispatched it, kept in
// the request while the driver owns it.
inline void NoteArrival(PIRP irp) { irp->Tail.Overlay.DriverContext[0] = PsGetCurrentThreadId(); }

#ifdef VM_STANDIN_TEST_HOOK

void InitRequestLog();

// True for the test control code itself (on any of the driver's devices),
// which is neither logged nor failed.
bool IsTestControl(PIO_STACK_LOCATION stack);
NTSTATUS HandleTestControl(PIRP irp, PIO_STACK_LOCATION stack, ULONG_PTR* information);

// Notes what a request asks for, before it is handled (the handler may wipe
// the request's buffer).
void BeginLogEntry(StandinLogEntry* entry, const DeviceHeader* device, PIRP irp,
                   PIO_STACK_LOCATION stack);
// Adds the entry, with the request's outcome and the thread that served it,
// to the log.
void FinishLogEntry(StandinLogEntry* entry, NTSTATUS status, ULONG_PTR information, bool injected);

// Adds what the driver did with a volume file to the log: opened it (before
// its device exists, so with device number -1), with the options, mode,
// sector size and quality of service it got; flushed or closed the file of
// volume device `deviceNumber`.
void LogFileOpen(NTSTATUS status, ULONG options, ULONG mode, ULONG sectorSize,
                 const SECURITY_QUALITY_OF_SERVICE& qos);
void LogFileOperation(int8_t deviceNumber, UCHAR major, NTSTATUS status);

// True when an armed failure matches the request; `status` is then the
// answer to give instead of handling it.
bool TakeInjectedFailure(PIO_STACK_LOCATION stack, NTSTATUS* status);

// Replaces the session and rights read from the caller's token by those a
// test chose, if it chose any.
void TakeChosenCaller(VolumeCaller* caller);

// What a volume file's disk and attributes are taken to be: as reported,
// or as a test chose.
ULONG TakeChosenSectorSize(ULONG reported);
ULONG TakeChosenFileAttributes(ULONG reported);

#else

inline void InitRequestLog() {}
inline bool IsTestControl(PIO_STACK_LOCATION) { return false; }
inline NTSTATUS HandleTestControl(PIRP, PIO_STACK_LOCATION, ULONG_PTR*) {
  return STATUS_INVALID_DEVICE_REQUEST;
}
inline void BeginLogEntry(StandinLogEntry*, const DeviceHeader*, PIRP, PIO_STACK_LOCATION) {}
inline void FinishLogEntry(StandinLogEntry*, NTSTATUS, ULONG_PTR, bool) {}
inline void LogFileOpen(NTSTATUS, ULONG, ULONG, ULONG, const SECURITY_QUALITY_OF_SERVICE&) {}
inline void LogFileOperation(int8_t, UCHAR, NTSTATUS) {}
inline bool TakeInjectedFailure(PIO_STACK_LOCATION, NTSTATUS*) { return false; }
inline void TakeChosenCaller(VolumeCaller*) {}
inline ULONG TakeChosenSectorSize(ULONG reported) { return reported; }
inline ULONG TakeChosenFileAttributes(ULONG reported) { return reported; }

#endif

// Completes a request and adds it, with its outcome, to the log. A warning
// such as STATUS_BUFFER_OVERFLOW keeps the bytes it answered.
inline void CompleteRequest(PIRP irp, StandinLogEntry* entry, NTSTATUS status,
                            ULONG_PTR information, bool injected) {
  if (NT_ERROR(status)) information = 0;
  FinishLogEntry(entry, status, information, injected);
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
}
