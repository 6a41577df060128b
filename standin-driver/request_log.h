// For tests: the log of the requests the driver received, and failures
// armed to answer chosen requests (the private control code of
// standin_test_protocol.h).
#pragma once
#include "standin-driver/kernel.h"
#include "standin-driver/standin_test_protocol.h"

void InitRequestLog();

// True for the test control code itself, which is neither logged nor failed.
bool IsTestControl(const DeviceHeader* device, PIO_STACK_LOCATION stack);
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
