// Password entry on a Windows console.
#include <io.h>
#include <windows.h>

#include "cli/terminal.h"
#include "crypto/wipe.h"

namespace {

HANDLE HandleOf(FILE* stream) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))); }

HANDLE hiddenConsole = INVALID_HANDLE_VALUE;
DWORD savedMode = 0;

// Puts the echo back when Ctrl+C or Ctrl+Break ends the program meanwhile;
// the next handler (the default one) then ends it.
BOOL WINAPI RestoreOnBreak(DWORD) {
  SetConsoleMode(hiddenConsole, savedMode);
  return FALSE;
}

// Reads the line typed at the console as Unicode and keeps it as UTF-8: the
// C runtime would read the console's OEM code page, in which a letter is
// other bytes than in the program's window. At most a third of
// kMaxLineLength characters are kept, so that the text fits the room
// reserved for it.
void ReadConsoleLine(HANDLE console, std::string* line) {
  line->clear();
  line->reserve(kMaxLineLength);
  constexpr DWORD kMaxUnits = kMaxLineLength / 3;
  wchar_t units[kMaxUnits];
  wchar_t unit = 0;
  DWORD count = 0;
  DWORD read = 0;
  while (ReadConsoleW(console, &unit, 1, &read, nullptr) && read == 1 && unit != L'\n') {
    if (count < kMaxUnits) units[count++] = unit;
  }
  if (count > 0 && units[count - 1] == L'\r') --count;
  char text[kMaxLineLength];
  const int length = WideCharToMultiByte(CP_UTF8, 0, units, static_cast<int>(count), text,
                                         sizeof text, nullptr, nullptr);
  if (length > 0) line->assign(text, static_cast<size_t>(length));
  SecureWipe(units, sizeof units);
  SecureWipe(&unit, sizeof unit);
  SecureWipe(text, sizeof text);
}

}  // namespace

// Windows writes no core files of its own; crash dumps are a setting of the
// machine's error reporting that a program cannot refuse.
void DisableCoreDumps() {}

bool IsTerminal(FILE* stream) {
  DWORD mode;
  return GetConsoleMode(HandleOf(stream), &mode) != 0;
}

void ReadHiddenLine(FILE* in, FILE* prompter, const char* prompt, std::string* line) {
  fputs(prompt, prompter);
  fflush(prompter);
  const HANDLE console = HandleOf(in);
  const bool hidden = GetConsoleMode(console, &savedMode) != 0;
  if (hidden) {
    hiddenConsole = console;
    SetConsoleCtrlHandler(RestoreOnBreak, TRUE);
    SetConsoleMode(console, savedMode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    ReadConsoleLine(console, line);
    SetConsoleMode(console, savedMode);
    SetConsoleCtrlHandler(RestoreOnBreak, FALSE);
  } else {
    ReadLine(in, line);
  }
  fputc('\n', prompter);
}
