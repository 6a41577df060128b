// The operating system's cryptographic random source.
#include "crypto/random.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>
#else
#include <errno.h>
#include <sys/random.h>
#endif

#ifdef _WIN32

bool SystemRandom(uint8_t* dest, uint32_t size) {
  NTSTATUS status = BCryptGenRandom(nullptr, dest, size, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  return BCRYPT_SUCCESS(status);
}

#else

bool SystemRandom(uint8_t* dest, uint32_t size) {
  while (size > 0) {
    ssize_t got = getrandom(dest, size, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    dest += got;
    size -= (uint32_t)got;
  }
  return true;
}

#endif
