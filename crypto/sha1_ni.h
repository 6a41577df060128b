// SHA-1 compression with the SHA extensions. Call only when UseShaNi() is
// true; the result equals the portable compression's.
#pragma once
#include <stdint.h>

void Sha1CompressBlocksNi(uint32_t state[5], const uint8_t* blocks, uint32_t blockCount);
