// The programs the Linux mount runs (mkfs tools, FUSE servers,
// fusermount3): found on the PATH or in the system's folders, run with
// chosen descriptors, waited for.
#pragma once
#include <string>
#include <utility>
#include <vector>

// The full path of `program`, looked for on the PATH and then in /usr/sbin
// and /sbin (which an ordinary user's PATH leaves out); "" when it is not
// installed.
std::string FindProgram(const char* program);

struct ProgramRun {
  bool started = false;
  bool succeeded = false;  // exited with 0
  int status = -1;         // the exit code; -1 when it did not exit by itself
};

// Runs `program` (a full path) with `arguments` (its own name first) and
// waits for it. Standard input and output are /dev/null, standard error is
// ours; each pair of `descriptors` puts a descriptor of ours (first) at a
// number of the program's (second). The program starts with no signal
// blocked and the termination signals at their default; with
// `ownProcessGroup`, in a process group of its own, which a Ctrl+C at the
// terminal does not reach.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::vector<std::pair<int, int>>& descriptors = {},
                      bool ownProcessGroup = false);
