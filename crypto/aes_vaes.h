// Sector encryption with VAES on 256-bit registers. Call only when UseVaes()
// is true; the bytes equal those of EncryptSectorsAes / DecryptSectorsAes
// on the portable path. Not part of the kernel build: kernel code may touch
// the ymm registers only after saving the interrupted thread's state.
#pragma once
#include <stdint.h>

#include "crypto/aes.h"

// Encrypts sixteen sectors at a time, two in each register, each with its
// own CBC chain and IV: twice the blocks in flight of the AES-NI path.
// Fewer than sixteen remaining sectors go to the AES-NI path.
void VaesEncryptSectors(const AesContext* ctx, const uint8_t ivSeed[16], uint8_t* data,
                        uint64_t firstSector, uint32_t sectorCount);
// CBC decryption is parallel within a sector: two blocks per register,
// sixteen blocks at a time.
void VaesDecryptSectors(const AesContext* ctx, const uint8_t ivSeed[16], uint8_t* data,
                        uint64_t firstSector, uint32_t sectorCount);
