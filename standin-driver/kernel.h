// The kernel headers and the one lock primitive of the stand-in driver.
#pragma once
// wdm.h defines these two itself; in C++ the compiler's own inline
// definitions from intrin.h would clash with them.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
// The tagged pool functions, not their untagged stand-ins.
#define POOL_TAGGING 1
// ntifs.h (which includes ntddk.h) for the token and security calls and
// ZwFlushBuffersFile.
#include <ntifs.h>
// The disk controls' codes and records; they build on ntddk.h's types.
#include <mountdev.h>
#include <ntdddisk.h>
#include <ntddstor.h>
#include <stdint.h>

// A kernel mutex: waiting on it keeps the thread at PASSIVE_LEVEL, so the
// file I/O that a volume request performs may run while it is held.
class KernelLock {
 public:
  void Init() { KeInitializeMutex(&mutex_, 0); }
  void Acquire() { KeWaitForSingleObject(&mutex_, Executive, KernelMode, FALSE, nullptr); }
  void Release() { KeReleaseMutex(&mutex_, FALSE); }

 private:
  KMUTEX mutex_;
};

// Holds a KernelLock for the lifetime of a scope.
class LockHolder {
 public:
  explicit LockHolder(KernelLock* lock) : lock_(lock) { lock_->Acquire(); }
  ~LockHolder() { lock_->Release(); }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

 private:
  KernelLock* lock_;
};

// What every device extension of the driver starts with.
struct DeviceHeader {
  uint8_t kind;         // StandinDeviceKind
  int8_t deviceNumber;  // N of a volume device, -1 for the control device
};
