// Byte-order helpers: words are always loaded and stored through these,
// never through casts of the buffer.
#pragma once
#include <stdint.h>

inline uint32_t LoadBigEndian32(const uint8_t* p) {
  return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | (uint32_t)p[3];
}

inline void StoreBigEndian32(uint8_t* p, uint32_t value) {
  p[0] = (uint8_t)(value >> 24);
  p[1] = (uint8_t)(value >> 16);
  p[2] = (uint8_t)(value >> 8);
  p[3] = (uint8_t)value;
}

inline uint32_t LoadLittleEndian32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

inline void StoreLittleEndian32(uint8_t* p, uint32_t value) {
  p[0] = (uint8_t)value;
  p[1] = (uint8_t)(value >> 8);
  p[2] = (uint8_t)(value >> 16);
  p[3] = (uint8_t)(value >> 24);
}

inline void StoreLittleEndian64(uint8_t* p, uint64_t value) {
  StoreLittleEndian32(p, (uint32_t)value);
  StoreLittleEndian32(p + 4, (uint32_t)(value >> 32));
}

inline uint32_t RotateLeft32(uint32_t value, int count) {
  return (value << count) | (value >> (32 - count));
}

inline uint32_t RotateRight32(uint32_t value, int count) {
  return (value >> count) | (value << (32 - count));
}
