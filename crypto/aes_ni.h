// Sector encryption with AES-NI. Call only when UseAesNi() is true; the
// bytes equal those of EncryptSectorsAes / DecryptSectorsAes on the
// portable path.
#pragma once
#include <stdint.h>

#include "crypto/aes.h"

// Encrypts eight sectors at a time, each with its own CBC chain and IV, so
// that the serial chain of one sector does not leave the AES unit idle.
void AesNiEncryptSectors(const AesContext* ctx, const uint8_t ivSeed[16], uint8_t* data,
                         uint64_t firstSector, uint32_t sectorCount);
// CBC decryption is parallel within a sector: eight blocks at a time.
void AesNiDecryptSectors(const AesContext* ctx, const uint8_t ivSeed[16], uint8_t* data,
                         uint64_t firstSector, uint32_t sectorCount);
