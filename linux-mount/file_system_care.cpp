// `check` and `resize --grow-filesystem` on a volume's file system: the
// decrypted disk is served privately (OpenDecryptedDisk) and Debian's tools
// run on it, each in a process group of its own, so that a Ctrl+C at the
// terminal never cuts a tool short in the middle of its writes.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "linux-mount/file_systems.h"
#include "linux-mount/mount.h"
#include "linux-mount/programs.h"

namespace {

constexpr int kMountTableRetries = 3;

struct ToolRun : ProgramRun {
  std::string output;  // what it wrote on its standard output and error
};

// Runs the tool `arguments[0]` (found as FindProgram finds it) with its
// standard input /dev/null and its output kept.
ToolRun RunTool(const std::vector<std::string>& arguments) {
  ToolRun run;
  const std::string program = FindProgram(arguments[0].c_str());
  const int output = memfd_create("velmorcrypt-tool-output", MFD_CLOEXEC);
  if (program.empty() || output < 0) {
    if (output >= 0) close(output);
    return run;
  }
  static_cast<ProgramRun&>(run) = RunProgram(program, arguments, {{output, 1}, {output, 2}}, true);
  char buffer[4096];
  ssize_t got;
  off_t at = 0;
  while ((got = pread(output, buffer, sizeof buffer, at)) > 0) {
    run.output.append(buffer, static_cast<size_t>(got));
    at += got;
  }
  close(output);
  return run;
}

bool IsExt(const std::string& type) { return type == "ext2" || type == "ext3" || type == "ext4"; }

// The read-only checker of a file system, as libblkid names it; empty when
// the machine has none for it.
std::vector<std::string> CheckerFor(const std::string& type) {
  if (IsExt(type)) return {"e2fsck", "-fn"};
  if (type == "ntfs") return {"ntfsfix", "-n"};
  if (type == "exfat") return {"fsck.exfat", "-n"};
  if (type == "vfat") return {"fsck.fat", "-n"};
  return {};
}

std::string Joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
  return text;
}

// The file system that libblkid finds on the open disk.
std::string TypeOn(const DecryptedDisk& disk) {
  const int fd = open(disk.Path().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return "";
  const std::string type = DetectFileSystem(fd);
  close(fd);
  return type;
}

// What OpenDecryptedDisk said when it failed, from the stream it wrote to.
std::string ReadBack(FILE* stream) {
  std::string text;
  rewind(stream);
  for (int c = fgetc(stream); c != EOF; c = fgetc(stream)) text.push_back(static_cast<char>(c));
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

}  // namespace

FileSystemCheck CheckVolumeFileSystem(FileSystem& fileSystem, const std::string& volumePath,
                                      const std::string& headerPath, const std::string& password) {
  FileSystemCheck check;
  FILE* said = tmpfile();
  if (said == nullptr) {
    check.report = "no temporary file for the messages";
    return check;
  }
  DecryptedDisk disk;
  const CliStreams quiet = {stdin, said, said};
  if (OpenDecryptedDisk(fileSystem, volumePath, headerPath, password, true, quiet, &disk) !=
      kExitSuccess) {
    check.report = "the decrypted disk could not be served: " + ReadBack(said);
    fclose(said);
    return check;
  }
  fclose(said);
  check.type = TypeOn(disk);
  const std::vector<std::string> checker = CheckerFor(check.type);
  if (check.type.empty()) {
    check.report = "no file system that this machine recognises";
    return check;
  }
  if (checker.empty()) {
    check.report = "this machine has no checker for " + check.type;
    return check;
  }
  check.checker = Joined(checker);
  std::vector<std::string> arguments = checker;
  arguments.push_back(disk.Path());
  const ToolRun run = RunTool(arguments);
  if (!run.started) {
    check.report = checker[0] + " is not installed";
    return check;
  }
  check.result =
      run.status == 0 ? FileSystemCheck::Result::kClean : FileSystemCheck::Result::kFaults;
  if (run.status != 0) check.report = run.output;
  return check;
}

int VolumeFileSystemType(FileSystem& fileSystem, const std::string& volumePath,
                         const std::string& headerPath, const std::string& password,
                         const CliStreams& io, std::string* type) {
  DecryptedDisk disk;
  const int opened =
      OpenDecryptedDisk(fileSystem, volumePath, headerPath, password, true, io, &disk);
  if (opened == kExitSuccess) *type = TypeOn(disk);
  return opened;
}

bool FileSystemGrows(const std::string& type) { return IsExt(type) || type == "ntfs"; }

int GrowVolumeFileSystem(FileSystem& fileSystem, const std::string& volumePath,
                         const std::string& headerPath, const std::string& password,
                         const CliStreams& io) {
  DecryptedDisk disk;
  const int opened =
      OpenDecryptedDisk(fileSystem, volumePath, headerPath, password, false, io, &disk);
  if (opened != kExitSuccess) return opened;
  const std::string type = TypeOn(disk);
  // ext2/3/4 are checked first, as resize2fs asks; the check mends only
  // what is safe to mend without a question (-p) and stops on the rest.
  std::vector<std::vector<std::string>> steps;
  if (IsExt(type)) {
    steps = {{"e2fsck", "-f", "-p", disk.Path()}, {"resize2fs", disk.Path()}};
  } else if (type == "ntfs") {
    steps = {{"ntfsresize", "--force", disk.Path()}};
  } else {
    fprintf(io.err, "velmorcrypt-cli: the volume holds %s, which no tool here grows\n",
            type.empty() ? "no file system that this machine recognises" : type.c_str());
    return kExitFailure;
  }
  for (const std::vector<std::string>& step : steps) {
    ToolRun run = RunTool(step);
    // ntfsresize reads the mount table before it writes anything, and
    // stops when a mount listed there goes away meanwhile: it may try again.
    for (int retry = 0; retry < kMountTableRetries && run.status != 0 &&
                        run.output.find("mount state") != std::string::npos;
         ++retry) {
      run = RunTool(step);
    }
    // e2fsck -p answers 1 when it mended something.
    const bool passed = run.status == 0 || (step[0] == "e2fsck" && run.status == 1);
    if (!passed) {
      fprintf(io.err, "%s", run.output.c_str());
      fprintf(io.err, "velmorcrypt-cli: %s\n",
              run.started ? (step[0] + " failed; the file system keeps its size").c_str()
                          : (step[0] + " is not installed").c_str());
      return kExitFailure;
    }
  }
  return kExitSuccess;
}
