// Run-time selection of the cryptography's fast paths. The portable code is
// the baseline; a fast path is used only where the processor offers its
// instructions, and it gives the same bytes.
#pragma once

// AES-NI with SSE4.1, and fast paths enabled.
bool UseAesNi();
// VAES on 256-bit registers with AVX2, where the operating system saves the
// ymm registers across thread switches, and fast paths and VAES enabled.
bool UseVaes();
// The SHA extensions with SSE4.1, and fast paths enabled.
bool UseShaNi();
// False after SetFastPathsEnabled(false): the fast paths in plain C++, which
// need no particular processor, follow the same switch.
bool FastPathsEnabled();
// Turns every fast path off (false) or back on (true, the default), so that
// tests can compare the portable code with the fast paths on one machine.
void SetFastPathsEnabled(bool enabled);
// Turns the VAES path alone off (false) or back on, so that the AES-NI path
// can be compared and measured on a processor that has both.
void SetVaesEnabled(bool enabled);
