// velmorcrypt-cli: see cli.h.
#include <signal.h>
#include <stdio.h>

#include <atomic>

#include "cli/cli.h"
#include "cli/terminal.h"

namespace {

std::atomic<bool> interrupted = false;

// The first Ctrl+C cancels a creation (which removes its files); a second
// one ends the program at once.
void OnInterrupt(int signal) {
  interrupted = true;
  ::signal(signal, SIG_DFL);
}

}  // namespace

int main(int argc, char** argv) {
  DisableCoreDumps();
  signal(SIGINT, OnInterrupt);
  signal(SIGTERM, OnInterrupt);
  const std::vector<std::string> args(argv + 1, argv + argc);
  return RunCli(args, {stdin, stdout, stderr}, SystemFileSystem(), &interrupted);
}
