// How the program reads the driver's records, restated from their raw bytes
// for the targets that check it: the display form of a targetPath and the
// little-endian integers.
#pragma once
#include <stdint.h>
#include <string.h>

#include <string>
#include <string_view>

#include "driver/protocol.h"

inline constexpr size_t kRecordSize = sizeof(VolumeControlRecord);
inline constexpr size_t kAlgorithmOffset = 261;
inline constexpr size_t kVolumeSizeOffset = 392;

inline uint64_t LoadLittleEndian(const uint8_t* bytes, int count) {
  uint64_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

inline std::string_view TextFrom(std::string_view text, size_t index) {
  return index < text.size() ? text.substr(index) : std::string_view();
}

// targetPath is read up to its NUL or the end of its 260 bytes. When its
// sixth character is an upper-case N it is the UNC form \??\UNC\server\...
// and shows as \\ and the text from index 8; otherwise the text from index 4
// (after \??\) shows.
inline std::string ExpectedDisplay(const uint8_t* targetPath) {
  constexpr size_t kUncMarkIndex = 5;
  constexpr size_t kLocalTextIndex = 4;
  constexpr size_t kUncTextIndex = 8;
  const char* chars = reinterpret_cast<const char*>(targetPath);
  const std::string_view text(chars, strnlen(chars, VD_TARGET_PATH_SIZE));
  if (text.size() > kUncMarkIndex && text[kUncMarkIndex] == 'N') {
    return "\\\\" + std::string(TextFrom(text, kUncTextIndex));
  }
  return std::string(TextFrom(text, kLocalTextIndex));
}
