// Blowfish sectors with their table look-ups interleaved, so that those of
// one block overlap those of others instead of waiting on a single serial
// chain. Plain C++, for every processor; the bytes equal those of the
// sector-by-sector code.
#pragma once
#include <stdint.h>

#include "crypto/blowfish.h"

// Encryption: four sectors at once, each keeping its own CBC chain.
void BlowfishEncryptSectorsInterleaved(const BlowfishContext* ctx, const uint8_t ivSeed[8],
                                       uint8_t* data, uint64_t firstSector, uint32_t sectorCount);
// Decryption: CBC decryption has no chain to wait for, so the blocks of one
// sector go through the rounds four at a time.
void BlowfishDecryptSectorsInterleaved(const BlowfishContext* ctx, const uint8_t ivSeed[8],
                                       uint8_t* data, uint64_t firstSector, uint32_t sectorCount);
