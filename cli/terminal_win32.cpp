// Password entry on a Windows console.
#include <io.h>
#include <windows.h>

#include "cli/terminal.h"

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
  }
  ReadLine(in, line);
  if (hidden) {
    SetConsoleMode(console, savedMode);
    SetConsoleCtrlHandler(RestoreOnBreak, FALSE);
  }
  fputc('\n', prompter);
}
