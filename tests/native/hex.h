// Hex helpers for known-answer tests (spaces in hex text are ignored): comparing hex strings makes
// GoogleTest print got and want in hex on a mismatch.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <string_view>
#include <vector>

inline std::vector<uint8_t> FromHex(std::string_view hex) {
  auto nibble = [](char c) -> uint8_t {
    if (c >= '0' && c <= '9') return (uint8_t)(c - '0');
    if (c >= 'a' && c <= 'f') return (uint8_t)(c - 'a' + 10);
    return (uint8_t)(c - 'A' + 10);
  };
  std::string digits;
  for (char c : hex) {
    if (c != ' ') digits += c;
  }
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    bytes.push_back((uint8_t)(nibble(digits[i]) << 4 | nibble(digits[i + 1])));
  }
  return bytes;
}

inline std::string ToHex(const uint8_t* data, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < size; ++i) {
    hex += kDigits[data[i] >> 4];
    hex += kDigits[data[i] & 15];
  }
  return hex;
}

inline std::string ToHex(const std::vector<uint8_t>& data) {
  return ToHex(data.data(), data.size());
}

inline std::vector<uint8_t> Bytes(std::string_view text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}
