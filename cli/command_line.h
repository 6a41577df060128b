// What the tool's commands share: the command line, passwords, messages
// and the progress bar.
#pragma once
#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/terminal.h"
#include "crypto/wipe.h"
#include "platform/password_text.h"
#include "volume/header_backup.h"
#include "volume/outcome.h"

constexpr char kProgram[] = "velmorcrypt-cli";

// The option of every command that reads a password.
#define VM_CODEPAGE_OPTION                                                            \
  "  --codepage N       the Windows code page of the password's letters: 1250 to\n"   \
  "                     1258, 874, 932, 936, 949, 950 or 65001, also as windows-N,\n" \
  "                     cpN or utf-8 (default: the system's ANSI code page on\n"      \
  "                     Windows, 1252 elsewhere)\n"

// Wipes a string's whole buffer and empties it.
void WipeString(std::string* text);

// The command line of one command: its positional arguments and options.
struct Arguments {
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;
  bool passwordStdin = false;
  bool help = false;
  std::set<std::string> flags;  // the command's own options without a value that were given
};

int UsageError(const CliStreams& io, const std::string& command, const std::string& error);

// Parses the command line of `command`; false when the command ends there,
// with `*code` set: a line it cannot understand, or --help, which shows
// `usage`.
bool ParseCommand(const std::vector<std::string>& args, const CliStreams& io,
                  const std::string& command, const char* usage,
                  const std::vector<std::string>& valueOptions,
                  const std::vector<std::string>& flagOptions, Arguments* parsed, int* code);

// Where the passwords come from (standard input, one per line, or the
// terminal without echo, as UTF-8 text) and the code page that turns them
// into a volume's bytes: --codepage, else the system's ANSI code page on
// Windows and 1252 elsewhere.
class SecretSource {
 public:
  // The stream is read unbuffered: a buffered stream would keep the
  // passwords in its buffer, which is freed unwiped when it closes.
  SecretSource(const CliStreams& io, const Arguments& parsed)
      : io_(io), fromStdin_(parsed.passwordStdin) {
    setvbuf(io_.in, nullptr, _IONBF, 0);
    if (fromStdin_ && IsTerminal(io_.in)) {
      fprintf(io_.err,
              "%s: warning: --password-stdin reads the terminal with its echo on: the password "
              "is shown as it is typed\n",
              kProgram);
    }
    const auto option = parsed.values.find("--codepage");
    codePageName_ = option == parsed.values.end() ? "" : option->second;
  }

  // Whether the passwords can be read; otherwise tells why and sets `*code`.
  bool Ready(const std::string& command, int* code) {
    codePage_ = DefaultCodePage();
    if (!codePageName_.empty() && !ParseCodePage(codePageName_, &codePage_)) {
      *code = UsageError(io_, command,
                         "unknown code page '" + codePageName_ +
                             "' (a number such as 1251, windows-1251, cp1251 or utf-8)");
      return false;
    }
    if (!LetterEncoder(codePage_).Available()) {
      fprintf(io_.err, "%s: code page %u is not available on this system\n", kProgram, codePage_);
      *code = kExitFailure;
      return false;
    }
    if (!fromStdin_ && !IsTerminal(io_.in)) {
      *code =
          UsageError(io_, command, "no terminal to read the password from; use --password-stdin");
      return false;
    }
    return true;
  }

  // A password that opens a volume. Letters the code page cannot hold are
  // read as earlier versions stored them, and Opened then recommends a new
  // password. False after text that is not UTF-8 (told on the error stream).
  bool ReadExisting(const char* prompt, std::string* bytes) {
    const PasswordBytes password = Read(prompt);
    if (password.status == PasswordStatus::kInvalidText) return false;
    *bytes = password.bytes;
    if (password.status == PasswordStatus::kNotHeld) {
      opened_ = OpenedAsEarlierVersionsText(password, Where());
    }
    return true;
  }

  // A new password and its confirmation, and the engine's refusal of them
  // when the code page cannot hold them.
  bool ReadNew(const char* prompt, const char* confirmPrompt, std::string* bytes,
               std::string* confirmation, std::string* refusal) {
    const PasswordBytes password = Read(prompt);
    if (password.status == PasswordStatus::kInvalidText) return false;
    const PasswordBytes confirmed = Read(confirmPrompt);
    if (confirmed.status == PasswordStatus::kInvalidText) return false;
    *bytes = password.bytes;
    *confirmation = confirmed.bytes;
    *refusal = NewPasswordRefusal(password, confirmed, Where());
    if (password.status == PasswordStatus::kNotHeld ||
        confirmed.status == PasswordStatus::kNotHeld) {
      *refusal += " Another code page can be chosen with --codepage.";
    }
    return true;
  }

  // The exit code of a command that opened a volume with a password from
  // ReadExisting: after a success through the bytes of earlier versions,
  // says so and recommends a new password.
  int Opened(int code) const {
    if (code == kExitSuccess && !opened_.empty()) {
      fprintf(io_.err, "%s: warning: %s Please give it a new password (%s passwd).\n", kProgram,
              opened_.c_str(), kProgram);
    }
    return code;
  }

 private:
  PasswordBytes Read(const char* prompt) const {
    std::string line;
    if (fromStdin_) {
      ReadLine(io_.in, &line);
    } else {
      ReadHiddenLine(io_.in, io_.err, prompt, &line);
    }
    PasswordBytes password = PasswordFromUtf8(line, codePage_);
    WipeString(&line);
    if (password.status == PasswordStatus::kInvalidText) {
      fprintf(io_.err, "%s: the password is not UTF-8 text\n", kProgram);
    }
    return password;
  }

  std::string Where() const { return "in code page " + std::to_string(codePage_); }

  const CliStreams& io_;
  bool fromStdin_;
  std::string codePageName_;
  uint32_t codePage_ = 0;
  std::string opened_;  // not empty: the password opened as earlier versions stored it
};

// The exit code of an engine's outcome, its message shown: on `out` after
// a success, on `err` after a failure.
int Finish(const CliStreams& io, const Outcome& outcome);

// A progress bar on the terminal, redrawn when the percentage changes.
class ProgressBar {
 public:
  explicit ProgressBar(FILE* stream) : stream_(IsTerminal(stream) ? stream : nullptr) {}

  void Show(uint32_t done, uint32_t total) {
    if (stream_ == nullptr || total == 0) return;
    const int percent = static_cast<int>(uint64_t{done} * 100 / total);
    if (percent == shown_) return;
    shown_ = percent;
    constexpr int kWidth = 40;
    char bar[kWidth + 1];
    const int filled = percent * kWidth / 100;
    memset(bar, '#', filled);
    memset(bar + filled, '.', kWidth - filled);
    bar[kWidth] = '\0';
    fprintf(stream_, "\r[%s] %3d%%  %" PRIu32 "/%" PRIu32 " MB", bar, percent, done, total);
    fflush(stream_);
  }

  void End() {
    if (stream_ != nullptr && shown_ >= 0) fputc('\n', stream_);
  }

 private:
  FILE* stream_;
  int shown_ = -1;
};

// Whether anything lies at `path` (a file, a link, a pipe: nothing is
// opened, so a pipe planted there cannot block), told on `err`; the command
// then stops unless --force was given.
bool Exists(const CliStreams& io, FileSystem& fileSystem, const std::string& path);

// `text` as a JSON string. Control characters are escaped; a byte that is
// not part of a well-formed UTF-8 sequence (a path in another encoding)
// becomes U+FFFD, so that the output is always valid JSON.
std::string JsonString(const std::string& text);

// "none", "stale", "torn" or "foreign".
const char* BackupStateName(BackupState backup);

// The AlgorithmId of a name as the tool takes it ("aes-128"), or
// kAlgorithmNone.
int ParseAlgorithm(const std::string& name);
