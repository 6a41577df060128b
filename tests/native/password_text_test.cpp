// Passwords in a code page: one table of code pages and letters, read as
// the tools read them (UTF-8) and as the window reads them (UTF-16), with
// glibc's iconv natively and WideCharToMultiByte in the Windows build, so
// that both give a volume the same bytes. Then the --codepage names.
#include "platform/password_text.h"

#include <gtest/gtest.h>

#include <string>

#include "hex.h"

namespace {

std::string HexOf(const std::string& bytes) {
  return ToHex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// A password as the tools read it (UTF-8) and as the window does (UTF-16).
#define TYPED(text) text, u"" text

struct Row {
  uint32_t codePage;
  const char* utf8;
  const char16_t* utf16;  // none for text that is not UTF-8
  PasswordStatus status;
  std::string bytes;    // hex: the password's bytes, or those of earlier versions
  std::string refusal;  // of it as a new password, its own confirmation
};

TEST(PasswordTextTest, EachReaderGivesTheCodePagesBytesAndRefusesWhatItCannotHold) {
  using enum PasswordStatus;
  std::string sixtyFourBytes, sixtySixBytes;
  for (int i = 0; i < 32; ++i) sixtyFourBytes += "82a0";
  sixtySixBytes = sixtyFourBytes + "82a0";
  const Row rows[] = {
      {1252, TYPED("secret pw 1!"), kHeld, "736563726574207077203121", ""},
      {932, TYPED("secret pw 1!"), kHeld, "736563726574207077203121", ""},
      {1252, TYPED("Grüße"), kHeld, "4772fcdf65", ""},
      {1250, TYPED("Łódź"), kHeld, "a3f3649f", ""},
      {1251, TYPED("Пароль"), kHeld, "cfe0f0eeebfc", ""},
      {1253, TYPED("Κωδικός"), kHeld, "caf9e4e9eafcf2", ""},
      {932, TYPED("パスワード"), kHeld, "83708358838f815b8368", ""},
      {65001, TYPED("Grüße😀"), kHeld, "4772c3bcc39f65f09f9880", ""},
      // Letters the code page cannot hold: "?" as earlier versions had them.
      {1252, TYPED("Пароль"), kNotHeld, "3f3f3f3f3f3f",
       "Letters 1 to 6 of the password cannot be used in code page 1252."},
      {1252, TYPED("Пa日本語"), kNotHeld, "3f613f3f3f",
       "Letters 1 and 3 to 5 of the password cannot be used in code page 1252."},
      {1251, TYPED("xαy"), kNotHeld, "783f79",
       "Letter 2 of the password cannot be used in code page 1251."},
      // 64 bytes pass; more from fewer than 65 letters are refused, never cut.
      {932, TYPED("ああああああああああああああああああああああああああああああああ"), kHeld,
       sixtyFourBytes, ""},
      {932, TYPED("あああああああああああああああああああああああああああああああああ"), kHeld,
       sixtySixBytes,
       "The password takes 66 bytes in code page 932; passwords cannot be longer than 64 bytes."},
      {1234, TYPED("pw"), kNoCodePage, "", ""},
      {54936, TYPED("pw"), kNoCodePage, "", ""},  // GB18030: no exact conversion on Windows
      {1252, "a\xED\xA0\x80", nullptr, kInvalidText, "", ""},  // an encoded surrogate
      {1252, "Gr\xC3", nullptr, kInvalidText, "", ""},         // a sequence cut short
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.codePage) + " " + row.utf8);
    const std::string where = "in code page " + std::to_string(row.codePage);
    const PasswordBytes fromUtf8 = PasswordFromUtf8(row.utf8, row.codePage);
    EXPECT_EQ(fromUtf8.status, row.status);
    EXPECT_EQ(HexOf(fromUtf8.bytes), row.bytes);
    EXPECT_EQ(NewPasswordRefusal(fromUtf8, fromUtf8, where), row.refusal);
    if (row.utf16 == nullptr) continue;
    const PasswordBytes fromUtf16 = PasswordFromUtf16(row.utf16, row.codePage);
    EXPECT_EQ(fromUtf16.status, row.status);
    EXPECT_EQ(HexOf(fromUtf16.bytes), row.bytes);
    EXPECT_EQ(fromUtf16.notHeld, fromUtf8.notHeld);
  }
  // A confirmation with such letters is refused, and a lone surrogate (only
  // the window's text can hold one) is a letter no code page holds.
  const PasswordBytes held = PasswordFromUtf8("secret", 1252);
  const PasswordBytes lone = PasswordFromUtf16(u"a\xD800z", 1252);
  EXPECT_EQ(HexOf(lone.bytes), "613f7a");
  EXPECT_EQ(NewPasswordRefusal(held, lone, "on this system"),
            "Letter 2 of the confirmation cannot be used on this system.");
}

TEST(PasswordTextTest, CodePageNames) {
  // clang-format off
  const std::pair<const char*, uint32_t> names[] = {
      {"1251", 1251}, {"windows-1251", 1251}, {"CP1252", 1252}, {"Windows-874", 874},
      {"utf-8", 65001}, {"UTF8", 65001}, {"65001", 65001}, {"latin1", 0}, {"", 0}, {"cp", 0},
      {"01252", 0}, {"70000", 0}, {"windows-", 0}, {"12a", 0}, {"windows-cp1252", 0}};
  // clang-format on
  for (const auto& [name, expected] : names) {
    uint32_t codePage = 0;
    EXPECT_EQ(ParseCodePage(name, &codePage), expected != 0) << name;
    EXPECT_EQ(codePage, expected) << name;
  }
}

}  // namespace
