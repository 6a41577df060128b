// SHA-1 compression with the SHA extensions. Call only when UseShaNi() is
// true; the result equals the portable compression's.
#pragma once
#include <stdint.h>

void Sha1CompressBlocksNi(uint32_t state[5], const uint8_t* blocks, uint32_t blockCount);
// Compresses `count` independent one-block messages (64 bytes apart, each
// already padded), each from SHA-1's initial state, several side by side;
// writes their digests big-endian, 20 bytes apart.
void Sha1NiDigestsOfBlocks(const uint8_t* blocks, uint32_t count, uint8_t* digests);
