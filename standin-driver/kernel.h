// The kernel headers and the lock primitives of the stand-in driver.
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

// Every allocation of the driver: non-paged and never executable.
constexpr POOL_TYPE kDriverPool = NonPagedPoolNx;

// A lock held across waits and file I/O, at PASSIVE_LEVEL: a
// synchronization event, which any thread may set for the next waiter. (A
// kernel mutex would do on Windows, but Wine never hands one from the thread
// that releases it to a thread that waits for it, and its device host then
// hangs.) Normal kernel APCs stay off while it is held, so the holder cannot
// be suspended with it; the special APCs that complete file I/O still run.
class KernelLock {
 public:
  void Init() { KeInitializeEvent(&event_, SynchronizationEvent, TRUE); }
  void Acquire() {
    KeEnterCriticalRegion();
    KeWaitForSingleObject(&event_, Executive, KernelMode, FALSE, nullptr);
  }
  void Release() {
    KeSetEvent(&event_, IO_NO_INCREMENT, FALSE);
    KeLeaveCriticalRegion();
  }

 private:
  KEVENT event_;
};

// A spin lock, for the short work that never waits: queues, tables and the
// test log, from any thread up to DISPATCH_LEVEL.
class SpinLock {
 public:
  void Init() { KeInitializeSpinLock(&lock_); }
  KIRQL Acquire() {
    KIRQL irql;
    KeAcquireSpinLock(&lock_, &irql);
    return irql;
  }
  void Release(KIRQL irql) { KeReleaseSpinLock(&lock_, irql); }

 private:
  KSPIN_LOCK lock_;
};

// Holds a lock for the lifetime of a scope.
class LockHolder {
 public:
  explicit LockHolder(KernelLock* lock) : lock_(lock) { lock_->Acquire(); }
  ~LockHolder() { lock_->Release(); }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

 private:
  KernelLock* lock_;
};

class SpinHolder {
 public:
  explicit SpinHolder(SpinLock* lock) : lock_(lock), irql_(lock->Acquire()) {}
  ~SpinHolder() { lock_->Release(irql_); }
  SpinHolder(const SpinHolder&) = delete;
  SpinHolder& operator=(const SpinHolder&) = delete;

 private:
  SpinLock* lock_;
  KIRQL irql_;
};

// What every device extension of the driver starts with.
struct DeviceHeader {
  uint8_t kind;         // StandinDeviceKind
  int8_t deviceNumber;  // N of a volume device, -1 for the control device
};
