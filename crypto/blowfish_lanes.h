// Blowfish sector encryption over four sectors at once. Each sector keeps
// its own CBC chain; the four chains interleave so that the table look-ups
// of one overlap those of the others instead of waiting on a single serial
// chain. Plain C++, for every processor; the bytes equal those of the
// sector-by-sector code.
#pragma once
#include <stdint.h>

#include "crypto/blowfish.h"

void BlowfishEncryptSectorsInterleaved(const BlowfishContext* ctx, const uint8_t ivSeed[8],
                                       uint8_t* data, uint64_t firstSector, uint32_t sectorCount);
