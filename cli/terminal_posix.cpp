// Password entry on a POSIX terminal.
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include "cli/terminal.h"

namespace {

int hiddenFd = -1;
struct termios savedMode;

// Puts the echo back before the signal ends the program.
void RestoreAndRaise(int signal) {
  tcsetattr(hiddenFd, TCSAFLUSH, &savedMode);
  ::signal(signal, SIG_DFL);
  raise(signal);
}

}  // namespace

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)) == 1; }

void ReadHiddenLine(FILE* in, FILE* prompter, const char* prompt, std::string* line) {
  fputs(prompt, prompter);
  fflush(prompter);
  const int fd = fileno(in);
  struct termios mode;
  const bool hidden = tcgetattr(fd, &savedMode) == 0;
  struct sigaction restore = {}, previous[3];
  const int signals[3] = {SIGINT, SIGTERM, SIGHUP};
  if (hidden) {
    hiddenFd = fd;
    restore.sa_handler = RestoreAndRaise;
    for (int i = 0; i < 3; ++i) sigaction(signals[i], &restore, &previous[i]);
    mode = savedMode;
    mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    mode.c_lflag |= ECHONL;
    tcsetattr(fd, TCSAFLUSH, &mode);
  }
  ReadLine(in, line);
  if (hidden) {
    tcsetattr(fd, TCSAFLUSH, &savedMode);
    for (int i = 0; i < 3; ++i) sigaction(signals[i], &previous[i], nullptr);
    hiddenFd = -1;
  } else {
    fputc('\n', prompter);
  }
}
