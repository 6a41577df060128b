#include "ui/color_text.h"

#include <cstring>

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// atoi without its undefined overflow: the value is accumulated modulo 2^32,
// which keeps the low 8 bits exact.
uint8_t LowByteOfNumber(const char* p) {
  while (IsBlank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  uint32_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) value = value * 10u + static_cast<uint32_t>(*p - '0');
  if (negative) value = 0u - value;
  return static_cast<uint8_t>(value & 0xFFu);
}

}  // namespace

std::optional<Rgb> ParseColorText(const char* text) {
  const char* first = std::strchr(text, ',');
  if (first == nullptr) return std::nullopt;
  const char* second = std::strchr(first + 1, ',');
  if (second == nullptr || second[1] == '\0') return std::nullopt;
  return Rgb{LowByteOfNumber(text), LowByteOfNumber(first + 1), LowByteOfNumber(second + 1)};
}

std::optional<Rgb> ParseColorValue(uint32_t type, const char* data, size_t length) {
  if (type != kRegistryString && type != kRegistryExpandString) return std::nullopt;
  if (length == 0 || data[length - 1] != '\0') return std::nullopt;
  return ParseColorText(data);
}
