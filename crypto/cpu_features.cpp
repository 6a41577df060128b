#include "crypto/cpu_features.h"

#include <cpuid.h>
#include <stdint.h>

namespace {

constexpr unsigned kAesNi = 1u << 0;
constexpr unsigned kShaNi = 1u << 1;
constexpr unsigned kVaes = 1u << 2;
constexpr unsigned kDetected = 1u << 3;

// Written once by whichever thread asks first; every thread computes the
// same value, so a race only repeats the detection. No static constructor:
// the driver compiles this file too.
unsigned g_features = 0;
bool g_disabled = false;
bool g_vaesDisabled = false;

// The state components that the operating system saves on a thread switch
// (XCR0); only asked where cpuid says it has turned XSAVE on.
uint64_t SavedStateComponents() {
  uint32_t low = 0, high = 0;
  __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return (uint64_t)high << 32 | low;
}

unsigned Detect() {
  unsigned features = kDetected;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return features;
  const bool sse = (ecx & bit_SSE4_1) != 0 && (ecx & bit_SSSE3) != 0;
  const bool aesNi = sse && (ecx & bit_AES) != 0;
  if (aesNi) features |= kAesNi;
  // The ymm registers are usable when the OS has turned XSAVE on and saves
  // both the SSE and the AVX state (XCR0 bits 1 and 2).
  const bool ymmSaved =
      (ecx & bit_OSXSAVE) != 0 && (ecx & bit_AVX) != 0 && (SavedStateComponents() & 0x6) == 0x6;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return features;
  // The SHA extensions: leaf 7, subleaf 0, ebx bit 29.
  if (sse && (ebx & bit_SHA) != 0) features |= kShaNi;
  // VAES: leaf 7, subleaf 0, ecx bit 9; the 256-bit integer loads, stores
  // and shuffles around it need AVX2 (ebx bit 5).
  if (aesNi && ymmSaved && (ebx & bit_AVX2) != 0 && (ecx & bit_VAES) != 0) features |= kVaes;
  return features;
}

unsigned Features() {
  if (__atomic_load_n(&g_disabled, __ATOMIC_RELAXED)) return 0;
  unsigned features = __atomic_load_n(&g_features, __ATOMIC_RELAXED);
  if (features == 0) {
    features = Detect();
    __atomic_store_n(&g_features, features, __ATOMIC_RELAXED);
  }
  return features;
}

}  // namespace

bool FastPathsEnabled() { return !__atomic_load_n(&g_disabled, __ATOMIC_RELAXED); }

bool UseAesNi() { return (Features() & kAesNi) != 0; }

bool UseShaNi() { return (Features() & kShaNi) != 0; }

bool UseVaes() {
  return !__atomic_load_n(&g_vaesDisabled, __ATOMIC_RELAXED) && (Features() & kVaes) != 0;
}

void SetFastPathsEnabled(bool enabled) {
  __atomic_store_n(&g_disabled, !enabled, __ATOMIC_RELAXED);
}

void SetVaesEnabled(bool enabled) { __atomic_store_n(&g_vaesDisabled, !enabled, __ATOMIC_RELAXED); }
