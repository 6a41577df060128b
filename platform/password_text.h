// Passwords beyond ASCII. A volume is sealed with its password's bytes, and
// a password is its letters in a Windows ANSI code page: the system's ANSI
// code page for the program and the Windows tool (what every volume made on
// that system holds), Windows-1252 for the Linux tool, unless the tool is
// given another with --codepage. ASCII letters are the same bytes in every
// one of them.
//
// A letter the code page cannot hold is never dropped or replaced in a new
// password: creating a volume and choosing a new password refuse it. Earlier
// versions read the window's password fields as the system's ANSI text, in
// which such a letter became "?" (or a look-alike the code page has); a
// password to open a volume is still read that way when it holds such
// letters, so that the volumes made then keep opening, and the shells
// recommend a new password when that is what opened one.
//
// The text passed in and the bytes returned are the caller's to wipe; the
// working copies made here are wiped before returning.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <string_view>
#include <vector>

constexpr uint32_t kUtf8CodePage = 65001;

// The code page of the command-line tool without --codepage: the system's
// ANSI code page on Windows, 1252 elsewhere.
uint32_t DefaultCodePage();

// Reads a --codepage value: a number ("1251", "65001"), "windows-1251",
// "cp1251" or "utf-8" ("utf8"), in any case. Whether the system has that
// code page shows when a password is converted.
bool ParseCodePage(std::string_view name, uint32_t* codePage);

enum class PasswordStatus {
  kHeld,         // every letter is in the code page
  kNotHeld,      // some letters are not; `bytes` reads them as earlier versions did
  kInvalidText,  // the input is not well-formed UTF-8
  kNoCodePage,   // this system cannot convert to the code page
};

// A password's bytes, wiped when it goes.
struct PasswordBytes {
  PasswordBytes() = default;
  ~PasswordBytes();
  PasswordBytes(PasswordBytes&&) = default;
  PasswordBytes& operator=(PasswordBytes&&) = delete;  // would free the old bytes unwiped

  PasswordStatus status = PasswordStatus::kHeld;
  // kHeld: the password's bytes in the code page. kNotHeld: the bytes that
  // earlier versions made of it. Otherwise empty.
  std::string bytes;
  // The letters the code page cannot hold, counted from 1.
  std::vector<uint32_t> notHeld;
  uint32_t letters = 0;  // the number of letters of the text
};

// Converts a password typed as UTF-8 (the tools) or UTF-16 (the window).
PasswordBytes PasswordFromUtf8(std::string_view text, uint32_t codePage);
PasswordBytes PasswordFromUtf16(std::u16string_view text, uint32_t codePage);

// Why a new password and its confirmation cannot seal a volume, or empty
// when they can: letters of either that the code page cannot hold, or a
// password of at most 64 letters that takes more than 64 bytes (a longer
// one is refused by the engines' own length check). `where` tells of the
// code page: "on this system (code page 1252)", "in code page 1252".
std::string NewPasswordRefusal(const PasswordBytes& password, const PasswordBytes& confirmation,
                               const std::string& where);

// What the shells say when a password to open a volume had letters that
// `where` cannot hold and the volume opened with the bytes earlier versions
// made of them; they add how to give the volume a new password.
std::string OpenedAsEarlierVersionsText(const PasswordBytes& password, const std::string& where);

// The length of the well-formed UTF-8 sequence of two to four bytes at
// text[i], or 0 when there is none.
size_t Utf8SequenceLength(std::string_view text, size_t i);

// The platform's conversion of one letter at a time.
class LetterEncoder {
 public:
  explicit LetterEncoder(uint32_t codePage);
  ~LetterEncoder();
  LetterEncoder(const LetterEncoder&) = delete;
  LetterEncoder& operator=(const LetterEncoder&) = delete;

  // Whether this system can convert to the code page.
  bool Available() const;
  // Appends the letter's bytes and returns true when the code page holds
  // it; otherwise appends what earlier versions made of it and returns
  // false. `letter` is a Unicode scalar value, or from UTF-16 text a lone
  // surrogate, which no code page holds.
  bool Append(char32_t letter, std::string* bytes);

 private:
  uint32_t codePage_;
  void* handle_ = nullptr;  // the platform's converter, where it keeps one
};
