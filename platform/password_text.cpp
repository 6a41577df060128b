#include "platform/password_text.h"

#include <ctype.h>

#include "crypto/wipe.h"
#include "volume/header.h"

namespace {

// The letters of a password while it is converted; wiped when done. Room for
// every letter is reserved up front, so that no reallocation leaves a copy.
class Letters {
 public:
  explicit Letters(size_t capacity) { text_.reserve(capacity); }
  ~Letters() { SecureWipe(text_.data(), text_.capacity() * sizeof(char32_t)); }
  Letters(const Letters&) = delete;
  Letters& operator=(const Letters&) = delete;

  void Add(char32_t letter) { text_.push_back(letter); }
  const std::u32string& Text() const { return text_; }

 private:
  std::u32string text_;
};

PasswordBytes Convert(const Letters& letters, uint32_t codePage) {
  PasswordBytes result;
  LetterEncoder encoder(codePage);
  if (!encoder.Available()) {
    result.status = PasswordStatus::kNoCodePage;
    return result;
  }
  const std::u32string& text = letters.Text();
  // No letter takes more than four bytes in any code page.
  result.bytes.reserve(text.size() * 4);
  for (size_t i = 0; i < text.size(); ++i) {
    if (!encoder.Append(text[i], &result.bytes)) {
      result.notHeld.push_back(static_cast<uint32_t>(i + 1));
    }
  }
  result.letters = static_cast<uint32_t>(text.size());
  result.status = result.notHeld.empty() ? PasswordStatus::kHeld : PasswordStatus::kNotHeld;
  return result;
}

// The letters at `positions` (from 1, ascending), as a message names them:
// "Letter 3", "Letters 1 to 6", "Letters 2, 5 and 7 to 9".
std::string LettersText(const std::vector<uint32_t>& positions) {
  std::vector<std::string> items;
  for (size_t i = 0; i < positions.size();) {
    size_t end = i;
    while (end + 1 < positions.size() && positions[end + 1] == positions[end] + 1) ++end;
    if (end >= i + 2) {
      items.push_back(std::to_string(positions[i]) + " to " + std::to_string(positions[end]));
    } else {
      end = i;
      items.push_back(std::to_string(positions[i]));
    }
    i = end + 1;
  }
  std::string text = positions.size() == 1 ? "Letter " : "Letters ";
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += i + 1 == items.size() ? " and " : ", ";
    text += items[i];
  }
  return text;
}

}  // namespace

PasswordBytes::~PasswordBytes() { SecureWipe(bytes.data(), bytes.capacity()); }

size_t Utf8SequenceLength(std::string_view text, size_t i) {
  const auto at = [&text](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = at(i);
  size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  if (at(i + 1) < low || at(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
  }
  return length;
}

bool ParseCodePage(std::string_view name, uint32_t* codePage) {
  std::string lower;
  for (char c : name) lower += static_cast<char>(tolower(static_cast<unsigned char>(c)));
  if (lower == "utf-8" || lower == "utf8") {
    *codePage = kUtf8CodePage;
    return true;
  }
  std::string_view digits = lower;
  for (std::string_view prefix : {"windows-", "cp"}) {
    if (digits.starts_with(prefix)) {
      digits.remove_prefix(prefix.size());
      break;
    }
  }
  if (digits.empty() || digits.size() > 5 || digits[0] == '0') return false;
  uint32_t number = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<uint32_t>(c - '0');
  }
  if (number > 0xFFFF) return false;
  *codePage = number;
  return true;
}

PasswordBytes PasswordFromUtf8(std::string_view text, uint32_t codePage) {
  Letters letters(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      letters.Add(lead);
      ++i;
      continue;
    }
    const size_t length = Utf8SequenceLength(text, i);
    if (length == 0) {
      PasswordBytes invalid;
      invalid.status = PasswordStatus::kInvalidText;
      return invalid;
    }
    char32_t letter = lead & (0xFF >> (length + 1));
    for (size_t k = 1; k < length; ++k) {
      letter = (letter << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    letters.Add(letter);
    i += length;
  }
  return Convert(letters, codePage);
}

PasswordBytes PasswordFromUtf16(std::u16string_view text, uint32_t codePage) {
  Letters letters(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    const bool pair = unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() &&
                      text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    if (pair) {
      letters.Add(0x10000 + ((char32_t{unit} - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else {
      letters.Add(unit);  // a lone surrogate stays a letter of its own
    }
  }
  return Convert(letters, codePage);
}

std::string NewPasswordRefusal(const PasswordBytes& password, const PasswordBytes& confirmation,
                               const std::string& where) {
  if (password.status == PasswordStatus::kNotHeld) {
    return LettersText(password.notHeld) + " of the password cannot be used " + where + ".";
  }
  if (confirmation.status == PasswordStatus::kNotHeld) {
    return LettersText(confirmation.notHeld) + " of the confirmation cannot be used " + where + ".";
  }
  if (password.letters <= kMaxPasswordLength && password.bytes.size() > kMaxPasswordLength) {
    return "The password takes " + std::to_string(password.bytes.size()) + " bytes " + where +
           "; passwords cannot be longer than " + std::to_string(kMaxPasswordLength) + " bytes.";
  }
  return "";
}

std::string OpenedAsEarlierVersionsText(const PasswordBytes& password, const std::string& where) {
  return LettersText(password.notHeld) + " of the password cannot be used " + where +
         ". The volume opened with them as earlier versions stored them (as \"?\" or a "
         "look-alike), so other passwords open it too.";
}
