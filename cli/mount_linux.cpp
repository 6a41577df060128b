#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "cli/fuse_server.h"
#include "cli/mount.h"
#include "cli/volume_info.h"
#include "crypto/wipe.h"
#include "volume/sector_service.h"

extern char** environ;

namespace {

constexpr char kProgram[] = "velmorcrypt-cli";
// How long `unmount` waits for the server to flush and end.
constexpr int kServerEndMilliseconds = 120000;

int Fail(const CliStreams& io, const std::string& message) {
  fprintf(io.err, "%s: %s\n", kProgram, message.c_str());
  return kExitFailure;
}

// The mount point must be an existing folder that nothing is mounted on yet.
// Answers an error text, or "" with the folder's absolute path.
std::string CheckMountPoint(const std::string& path, std::string* absolute) {
  struct stat folder;
  if (stat(path.c_str(), &folder) != 0) {
    if (errno == ENOENT) return "mount point " + path + " does not exist";
    if (errno == ENOTCONN) {
      return path + " is a mount whose server has ended; unmount it first";
    }
    return "cannot use " + path + " as a mount point: " + strerror(errno);
  }
  if (!S_ISDIR(folder.st_mode)) return "mount point " + path + " is not a folder";
  struct stat parent;
  if (stat((path + "/..").c_str(), &parent) == 0 &&
      (parent.st_dev != folder.st_dev || parent.st_ino == folder.st_ino)) {
    return "something is mounted on " + path + " already";
  }
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return "cannot use " + path + " as a mount point: " + strerror(errno);
  *absolute = resolved;
  free(resolved);
  return "";
}

// Opens the volume file for serving and checks that it is the file whose
// header was opened: a regular file of the size seen then.
int OpenServedFile(const MountOptions& options, const VolumeInfo& info, const CliStreams& io,
                   ServedVolume* served) {
  served->fd = open(options.volumePath.c_str(), (options.readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (served->fd < 0) return Fail(io, "Error opening Velmorcrypt volume.");
  served->bodySize = info.bodySize;
  served->fileSize = info.bodySize + (info.externalHeader ? 0 : kHeaderSize);
  served->readOnly = options.readOnly;
  struct stat file;
  if (fstat(served->fd, &file) != 0 || !S_ISREG(file.st_mode) ||
      static_cast<uint64_t>(file.st_size) != served->fileSize) {
    return Fail(io, "Error reading Velmorcrypt volume.");
  }
  served->modified = file.st_mtim;
  if (!SectorBodySizeValid(served->bodySize)) return Fail(io, "Error trying to mount disk.");
  // One writer or any number of readers: a read-write mount holds the file
  // alone, read-only mounts share it.
  if (flock(served->fd, (options.readOnly ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
    return Fail(io, options.volumePath + " is mounted already");
  }
  return kExitSuccess;
}

// Serves in a process of its own and returns once it serves, or with the
// failure that it reported.
int Detach(ServedVolume* served, const std::string& mountPoint, const CliStreams& io) {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return Fail(io, "Error trying to mount disk.");
  fflush(io.out);
  fflush(io.err);
  const pid_t child = fork();
  if (child == 0) {
    close(ready[0]);
    setsid();
    const int result = ServeVolume(
        served, mountPoint, true,
        [&ready] {
          const char byte = 1;
          if (write(ready[1], &byte, 1) != 1) {
            // The waiting command has gone; the mount serves all the same.
          }
          close(ready[1]);
        },
        io.err);
    _exit(result);
  }
  close(ready[1]);
  char byte = 0;
  ssize_t got;
  do {
    got = read(ready[0], &byte, 1);
  } while (got < 0 && errno == EINTR);
  close(ready[0]);
  if (child < 0) return Fail(io, "Error trying to mount disk.");
  if (got != 1) {
    waitpid(child, nullptr, 0);  // the server reported why and ended
    return kExitFailure;
  }
  fputs("Velmorcrypt volume successfully mounted.\n", io.out);
  return kExitSuccess;
}

// Runs fusermount3 with `arguments` and answers whether it succeeded; it
// reports its own errors on standard error.
bool RunFusermount(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  std::string program = "fusermount3";
  argv.push_back(program.data());
  std::vector<std::string> copies = arguments;
  for (std::string& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t child;
  if (posix_spawnp(&child, "fusermount3", nullptr, nullptr, argv.data(), environ) != 0) {
    return false;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Waits until the process has ended; false after kServerEndMilliseconds.
bool WaitForEnd(pid_t pid, int pidFd) {
  if (pidFd >= 0) {
    struct pollfd poller = {pidFd, POLLIN, 0};
    int result;
    do {
      result = poll(&poller, 1, kServerEndMilliseconds);
    } while (result < 0 && errno == EINTR);
    return result > 0;
  }
  for (int waited = 0; waited < kServerEndMilliseconds; waited += 10) {
    if (kill(pid, 0) != 0 && errno == ESRCH) return true;
    usleep(10000);
  }
  return false;
}

}  // namespace

int RunMount(const MountOptions& options, const CliStreams& io, FileSystem& fileSystem,
             const std::function<void(std::string*)>& readPassword) {
  std::string mountPoint;
  const std::string error = CheckMountPoint(options.mountPoint, &mountPoint);
  if (!error.empty()) return Fail(io, error);

  std::string password;
  readPassword(&password);
  VolumeInfo info;
  HeaderBuffer header;
  const Outcome outcome =
      OpenVolumeHeader(fileSystem, options.volumePath, options.headerPath, password,
                       options.readOnly ? OpenMode::kRead : OpenMode::kReadWrite, &info, &header);
  SecureWipe(password.data(), password.capacity());
  if (!outcome.success) {
    fprintf(io.err, "%s\n", outcome.message.c_str());
    return kExitFailure;
  }
  ServedVolume served;
  int result = OpenServedFile(options, info, io, &served);
  if (result == kExitSuccess) {
    BodyCipherInit(&served.cipher, info.algorithm, header.bytes + kSectorKeyOffset,
                   header.bytes + kSectorIvSeedOffset);
    SecureWipe(header.bytes, sizeof header.bytes);
    if (options.foreground) {
      result = ServeVolume(
          &served, mountPoint, false,
          [&io, &options, &mountPoint] {
            fprintf(io.out, "Velmorcrypt volume successfully mounted.\n");
            fprintf(io.err, "Serving %s as %s/%s until it is unmounted (Ctrl+C unmounts).\n",
                    options.volumePath.c_str(), mountPoint.c_str(), kVolumeFileName);
            fflush(io.out);
          },
          io.err);
    } else {
      result = Detach(&served, mountPoint, io);
    }
  }
  if (served.fd >= 0) close(served.fd);
  BodyCipherWipe(&served.cipher);
  return result;
}

int RunUnmount(const std::string& mountPoint, const CliStreams& io) {
  char text[32] = {};
  const ssize_t length = getxattr(mountPoint.c_str(), kServerPidAttribute, text, sizeof text - 1);
  if (length < 0 && errno == ENOTCONN) {
    // The server has gone; only the kernel's end of the mount is left.
    return RunFusermount({"-u", "--", mountPoint}) ? kExitSuccess
                                                   : Fail(io, "could not unmount " + mountPoint);
  }
  const long pid = length > 0 ? strtol(text, nullptr, 10) : 0;
  if (pid <= 0) return Fail(io, "no velmorcrypt volume is mounted on " + mountPoint);
  const int pidFd = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));

  // Everything written through the mount reaches the disk before it ends.
  bool flushed = false;
  const int disk = open((mountPoint + "/" + kVolumeFileName).c_str(), O_RDONLY | O_CLOEXEC);
  if (disk >= 0) {
    flushed = fsync(disk) == 0;
    close(disk);
  }
  if (!RunFusermount({"-u", "--", mountPoint})) {
    if (pidFd >= 0) close(pidFd);
    return Fail(io, "could not unmount " + mountPoint);
  }
  const bool ended = WaitForEnd(static_cast<pid_t>(pid), pidFd);
  if (pidFd >= 0) close(pidFd);
  if (!ended)
    return Fail(io, "the mount's server (process " + std::to_string(pid) + ") has not ended yet");
  if (!flushed) return Fail(io, "flushing the volume failed; the last writes may be lost");
  return kExitSuccess;
}
