// The command-line tool over the volume engines, for scripts and machines
// without a desktop:
//
//   velmorcrypt-cli create VOLUME --size MB [--algorithm NAME] [--header FILE.ehb] [--force]
//   velmorcrypt-cli passwd FILE
//   velmorcrypt-cli info VOLUME [--header FILE.ehb] [--json]
//   velmorcrypt-cli backup-header VOLUME FILE [--header FILE.ehb] [--force]
//   velmorcrypt-cli restore-header VOLUME FILE [--header FILE.ehb] [--force]
//   velmorcrypt-cli resize | check | export | import ...   (cli/care_commands.h)
//   velmorcrypt-cli mount VOLUME FOLDER ... | unmount FOLDER  (Linux)
//   velmorcrypt-cli benchmark
//
// Passwords come from the terminal without echo, or with --password-stdin
// one per line from standard input; never from the command line.
#pragma once
#include <stdio.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/file.h"

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;  // the engine refused or failed; its message is on `err`
constexpr int kExitUsage = 2;    // the command line could not be understood

struct CliStreams {
  FILE* in;
  FILE* out;
  FILE* err;
};

// Runs the tool with the arguments that follow the program's name and
// returns its exit code. `cancel`, when set during a creation, stops it and
// removes its files.
int RunCli(const std::vector<std::string>& args, const CliStreams& io, FileSystem& fileSystem,
           const std::atomic<bool>* cancel);
