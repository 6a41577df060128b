// The hyperlink's colour values: ParseColorValue on arbitrary registry data
// of any type and length, and ParseColorText on the text it holds.
//
// Input: the value's type (Byte, modulo 4: none, string, expandable string,
// binary), then its data (the rest, any bytes, not terminated).
//
// Checked: a value counts only when it is a string or an expandable string
// whose last byte is its terminating zero, and then it reads as its text.
// A text is refused exactly when its first comma, or a second comma after
// it, is missing, or nothing follows the second comma. Otherwise each of the
// three numbers is its field read as atoi reads it (leading blanks, a sign,
// digits), kept modulo 256: compared with the C library's atoi where the
// number fits an int, and with the number's value modulo 256 everywhere.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "fuzz/fuzz_input.h"
#include "ui/color_text.h"

namespace {

bool IsCBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The low 8 bits of the number at the start of `field`, as atoi reads it.
uint8_t ExpectedComponent(const char* field) {
  const char* p = field;
  while (IsCBlank(*p)) ++p;
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  unsigned lowByte = 0;
  int digits = 0;
  for (; *p >= '0' && *p <= '9'; ++p, ++digits) lowByte = (lowByte * 10 + (*p - '0')) % 256;
  if (negative) lowByte = (256 - lowByte) % 256;
  // Nine digits always fit an int, so atoi is defined there.
  if (digits <= 9) FUZZ_CHECK(static_cast<uint8_t>(atoi(field)) == lowByte);
  return static_cast<uint8_t>(lowByte);
}

void CheckText(const char* text) {
  const std::optional<Rgb> parsed = ParseColorText(text);
  const char* first = strchr(text, ',');
  const char* second = first == nullptr ? nullptr : strchr(first + 1, ',');
  if (second == nullptr || second[1] == '\0') {
    FUZZ_CHECK(!parsed);
    return;
  }
  FUZZ_CHECK(parsed);
  FUZZ_CHECK(parsed->red == ExpectedComponent(text));
  FUZZ_CHECK(parsed->green == ExpectedComponent(first + 1));
  FUZZ_CHECK(parsed->blue == ExpectedComponent(second + 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  const uint32_t type = input.Byte() % 4;
  const ExactBytes value(input.Rest());
  const char* valueText = reinterpret_cast<const char*>(value.data());

  // Any data read as a text: up to its first zero, or all of it and a zero.
  const ExactBytes text(std::string(value.view()) + '\0');
  CheckText(reinterpret_cast<const char*>(text.data()));

  const std::optional<Rgb> parsed = ParseColorValue(type, valueText, value.size());
  const bool counts = (type == kRegistryString || type == kRegistryExpandString) &&
                      value.size() > 0 && valueText[value.size() - 1] == '\0';
  if (counts) {
    FUZZ_CHECK(parsed == ParseColorText(valueText));
  } else {
    FUZZ_CHECK(!parsed);
  }
  return 0;
}
