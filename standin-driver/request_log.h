// For tests: the log of the requests the driver received, failures armed to
// answer chosen requests, and callers chosen in place of their tokens (the
// private control code of standin_test_protocol.h). Only the test variant of
// the driver, built with VM_STANDIN_TEST_HOOK, has them; in the shipped
// driver they are empty and the test control code is unknown.
#pragma once
#include "driver/volume_owner.h"
#include "standin-driver/kernel.h"
#include "standin-driver/standin_test_protocol.h"

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
// Adds the entry, with the request's outcome, to the log.
void FinishLogEntry(StandinLogEntry* entry, NTSTATUS status, ULONG_PTR information, bool injected);

// True when an armed failure matches the request; `status` is then the
// answer to give instead of handling it.
bool TakeInjectedFailure(PIO_STACK_LOCATION stack, NTSTATUS* status);

// Replaces the session and rights read from the caller's token by those a
// test chose, if it chose any.
void TakeChosenCaller(VolumeCaller* caller);

// For its lifetime, the current thread impersonates the token a test chose
// to present, if it chose one; Status() tells whether that failed.
class PresentedToken {
 public:
  PresentedToken();
  ~PresentedToken();
  PresentedToken(const PresentedToken&) = delete;
  PresentedToken& operator=(const PresentedToken&) = delete;
  NTSTATUS Status() const { return status_; }

 private:
  NTSTATUS status_ = STATUS_SUCCESS;
  bool impersonating_ = false;
};

#else

inline void InitRequestLog() {}
inline bool IsTestControl(PIO_STACK_LOCATION) { return false; }
inline NTSTATUS HandleTestControl(PIRP, PIO_STACK_LOCATION, ULONG_PTR*) {
  return STATUS_INVALID_DEVICE_REQUEST;
}
inline void BeginLogEntry(StandinLogEntry*, const DeviceHeader*, PIRP, PIO_STACK_LOCATION) {}
inline void FinishLogEntry(StandinLogEntry*, NTSTATUS, ULONG_PTR, bool) {}
inline bool TakeInjectedFailure(PIO_STACK_LOCATION, NTSTATUS*) { return false; }
inline void TakeChosenCaller(VolumeCaller*) {}
struct PresentedToken {
  NTSTATUS Status() const { return STATUS_SUCCESS; }
};

#endif
