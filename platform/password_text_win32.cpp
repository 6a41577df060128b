// One letter at a time into a Windows code page, with WideCharToMultiByte.
#include <windows.h>

#include "crypto/wipe.h"
#include "platform/password_text.h"

namespace {

// Converts without best-fit letters; `usedDefault` tells of a letter the
// code page cannot hold. UTF-8 takes neither the best-fit flag nor a
// default character: there a letter is held unless it is a lone surrogate.
int ConvertExactly(uint32_t codePage, const wchar_t* units, int count, char* out, int size,
                   BOOL* usedDefault) {
  const bool utf8 = codePage == kUtf8CodePage;
  return WideCharToMultiByte(codePage, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, units,
                             count, out, size, nullptr, utf8 ? nullptr : usedDefault);
}

}  // namespace

uint32_t DefaultCodePage() { return GetACP(); }

LetterEncoder::LetterEncoder(uint32_t codePage) : codePage_(codePage) {}

LetterEncoder::~LetterEncoder() = default;

// Some code pages take no flags at all (ISO-2022, UTF-7, GB18030): they
// cannot tell a held letter from a replaced one, so they are not offered.
bool LetterEncoder::Available() const {
  char out[4];
  BOOL usedDefault = FALSE;
  return IsValidCodePage(codePage_) &&
         ConvertExactly(codePage_, L"a", 1, out, sizeof out, &usedDefault) == 1;
}

bool LetterEncoder::Append(char32_t letter, std::string* bytes) {
  wchar_t units[2];
  int count = 1;
  if (letter >= 0x10000) {
    units[0] = static_cast<wchar_t>(0xD800 + ((letter - 0x10000) >> 10));
    units[1] = static_cast<wchar_t>(0xDC00 + ((letter - 0x10000) & 0x3FF));
    count = 2;
  } else {
    units[0] = static_cast<wchar_t>(letter);
  }
  char out[16];
  BOOL usedDefault = FALSE;
  int length = ConvertExactly(codePage_, units, count, out, sizeof out, &usedDefault);
  const bool held = length > 0 && !usedDefault;
  if (!held) {
    // What earlier versions had: the window's text as the system's ANSI
    // text (GetWindowTextA), where such a letter became a look-alike of the
    // code page or its default character.
    length = WideCharToMultiByte(codePage_, 0, units, count, out, sizeof out, nullptr, nullptr);
  }
  if (length > 0) bytes->append(out, static_cast<size_t>(length));
  SecureWipe(units, sizeof units);
  SecureWipe(out, sizeof out);
  return held;
}
