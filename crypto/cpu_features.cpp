#include "crypto/cpu_features.h"

#include <cpuid.h>

namespace {

constexpr unsigned kAesNi = 1u << 0;
constexpr unsigned kShaNi = 1u << 1;
constexpr unsigned kDetected = 1u << 2;

// Written once by whichever thread asks first; every thread computes the
// same value, so a race only repeats the detection. No static constructor:
// the driver compiles this file too.
unsigned g_features = 0;
bool g_disabled = false;

unsigned Detect() {
  unsigned features = kDetected;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return features;
  const bool sse = (ecx & bit_SSE4_1) != 0 && (ecx & bit_SSSE3) != 0;
  if (sse && (ecx & bit_AES) != 0) features |= kAesNi;
  // The SHA extensions: cpuid leaf 7, subleaf 0, ebx bit 29.
  if (sse && __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) != 0 && (ebx & bit_SHA) != 0) {
    features |= kShaNi;
  }
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

void SetFastPathsEnabled(bool enabled) {
  __atomic_store_n(&g_disabled, !enabled, __ATOMIC_RELAXED);
}
