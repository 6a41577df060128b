// The idle timeout of automatic dismount, in minutes (0 = off): the value
// "AutoDismount" under HKEY_LOCAL_MACHINE "SOFTWARE\Kestrane\Velmorcrypt",
// machine-wide unlike the per-user settings.
#pragma once
#include <stdint.h>

// Reads the timeout. A value that cannot be read is written as REG_DWORD 0
// and 0 is returned; 0 as well when the key cannot be opened or created. The
// stored type is not checked; a value shorter than four bytes is taken as
// its little-endian number.
uint32_t LoadAutoDismount();
// Writes the timeout as REG_DWORD. False when the key cannot be opened or
// created (nothing is written then).
bool SaveAutoDismount(uint32_t minutes);
