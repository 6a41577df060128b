// A wipe of secrets that the compiler cannot remove.
#pragma once
#include <stddef.h>

void SecureWipe(void* data, size_t length);
