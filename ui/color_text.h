// The browser's link colours are stored as text such as "0,128,0": three
// decimal numbers (red, green, blue) separated by commas.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>

struct Rgb {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Parses "r,g,b". Each number is read the way atoi reads it (leading blanks
// skipped, an optional sign, digits up to the first other character, no
// digits give 0) and only its low 8 bits are kept, so "300" gives 44. The
// text is refused when either comma is missing or nothing follows the second.
std::optional<Rgb> ParseColorText(const char* text);

// Registry value types as the registry reports them.
inline constexpr uint32_t kRegistryString = 1;        // REG_SZ
inline constexpr uint32_t kRegistryExpandString = 2;  // REG_EXPAND_SZ
inline constexpr size_t kColorValueBufferSize = 12;   // "255,255,255" and its zero

// A colour value read from the registry: it counts only when it is a string
// (plain or expandable), at least one byte long, and its last byte is the
// terminating zero; then its text is parsed as above.
std::optional<Rgb> ParseColorValue(uint32_t type, const char* data, size_t length);
