// Password entry on a POSIX terminal.
#include <errno.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include "cli/terminal.h"

namespace {

int hiddenFd = -1;
struct termios savedMode;
struct termios hiddenMode;

// The signals that end or stop the program from the terminal or from
// outside while the echo is off.
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

// Puts the echo back and lets the signal do what it does by default: end
// the program, or stop it (Ctrl+Z). A program continued after a stop hides
// the entry again and goes on reading.
void RestoreAndRaise(int signal) {
  const int savedErrno = errno;
  tcsetattr(hiddenFd, TCSAFLUSH, &savedMode);
  struct sigaction byDefault = {}, ours;
  byDefault.sa_handler = SIG_DFL;
  sigaction(signal, &byDefault, &ours);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
  sigprocmask(SIG_BLOCK, &only, nullptr);
  sigaction(signal, &ours, nullptr);
  tcsetattr(hiddenFd, TCSAFLUSH, &hiddenMode);
  errno = savedErrno;
}

}  // namespace

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)) == 1; }

void DisableCoreDumps() {
  const struct rlimit none = {0, 0};
  setrlimit(RLIMIT_CORE, &none);
  // Also keeps a core dump helper of the system and other processes of the
  // user (ptrace, /proc/<pid>/mem) away from the memory.
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

void ReadHiddenLine(FILE* in, FILE* prompter, const char* prompt, std::string* line) {
  fputs(prompt, prompter);
  fflush(prompter);
  const int fd = fileno(in);
  const bool hidden = tcgetattr(fd, &savedMode) == 0;
  struct sigaction restore = {}, previous[kSignalCount];
  if (hidden) {
    hiddenFd = fd;
    hiddenMode = savedMode;
    hiddenMode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    hiddenMode.c_lflag |= ECHONL;
    restore.sa_handler = RestoreAndRaise;
    // A read interrupted by a stop goes on once the program is continued.
    restore.sa_flags = SA_RESTART;
    for (int i = 0; i < kSignalCount; ++i) sigaction(kSignals[i], &restore, &previous[i]);
    tcsetattr(fd, TCSAFLUSH, &hiddenMode);
  }
  ReadLine(in, line);
  if (hidden) {
    tcsetattr(fd, TCSAFLUSH, &savedMode);
    for (int i = 0; i < kSignalCount; ++i) sigaction(kSignals[i], &previous[i], nullptr);
    hiddenFd = -1;
  } else {
    fputc('\n', prompter);
  }
}
