// Run-time selection of the cryptography's fast paths. The portable code is
// the baseline; a fast path is used only where the processor offers its
// instructions, and it gives the same bytes.
#pragma once

// AES-NI with SSE4.1, and fast paths enabled.
bool UseAesNi();
// The SHA extensions with SSE4.1, and fast paths enabled.
bool UseShaNi();
// False after SetFastPathsEnabled(false): the fast paths in plain C++, which
// need no particular processor, follow the same switch.
bool FastPathsEnabled();
// Turns every fast path off (false) or back on (true, the default), so that
// tests can compare the portable code with the fast paths on one machine.
void SetFastPathsEnabled(bool enabled);
