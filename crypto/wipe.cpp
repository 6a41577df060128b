#include "crypto/wipe.h"

#include <string.h>

void SecureWipe(void* data, size_t length) {
  if (length == 0) return;
  memset(data, 0, length);
  // The empty statement claims to read the memory, so the stores above are
  // not dead to the optimiser even when the object dies right after.
  __asm__ __volatile__("" : : "r"(data) : "memory");
}
