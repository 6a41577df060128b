// One letter at a time into a Windows code page, with glibc's iconv.
#include <iconv.h>
#include <stdint.h>

#include <string>

#include "crypto/wipe.h"
#include "platform/password_text.h"

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(static_cast<intptr_t>(-1));

// The code pages whose letters take two bytes (Japanese, Simplified Chinese,
// Korean, Traditional Chinese) or up to four (UTF-8). In every other Windows
// code page a letter is one byte: glibc's CP1255 and CP1258 write some
// letters as a base letter and a combining mark, which Windows does not.
bool OneBytePerLetter(uint32_t codePage) {
  return codePage != 932 && codePage != 936 && codePage != 949 && codePage != 950 &&
         codePage != kUtf8CodePage;
}

}  // namespace

uint32_t DefaultCodePage() { return 1252; }

LetterEncoder::LetterEncoder(uint32_t codePage) : codePage_(codePage) {
  const std::string name =
      codePage == kUtf8CodePage ? std::string("UTF-8") : "CP" + std::to_string(codePage);
  const iconv_t converter = iconv_open(name.c_str(), "UTF-32LE");
  if (converter != kNoConverter) handle_ = converter;
}

LetterEncoder::~LetterEncoder() {
  if (handle_ != nullptr) iconv_close(static_cast<iconv_t>(handle_));
}

bool LetterEncoder::Available() const { return handle_ != nullptr; }

bool LetterEncoder::Append(char32_t letter, std::string* bytes) {
  const auto converter = static_cast<iconv_t>(handle_);
  char in[4] = {static_cast<char>(letter), static_cast<char>(letter >> 8),
                static_cast<char>(letter >> 16), static_cast<char>(letter >> 24)};
  char out[16];
  char* inPointer = in;
  char* outPointer = out;
  size_t inLeft = sizeof in;
  size_t outLeft = sizeof out;
  const bool converted =
      iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft) != static_cast<size_t>(-1) &&
      iconv(converter, nullptr, nullptr, &outPointer, &outLeft) != static_cast<size_t>(-1);
  iconv(converter, nullptr, nullptr, nullptr, nullptr);  // a fresh state for the next letter
  const size_t length = sizeof out - outLeft;
  const bool held = converted && length > 0 && (length == 1 || !OneBytePerLetter(codePage_));
  if (held) bytes->append(out, length);
  SecureWipe(in, sizeof in);
  SecureWipe(out, sizeof out);
  // Earlier versions had the window's text in the system's code page, where
  // such a letter became its replacement character.
  if (!held) bytes->push_back('?');
  return held;
}
