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

#include <vector>

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
// How often `unmount` tries a busy mount, 100 ms apart.
constexpr int kUnmountAttempts = 30;

int Fail(const CliStreams& io, const std::string& message) {
  fprintf(io.err, "%s: %s\n", kProgram, message.c_str());
  return kExitFailure;
}

// The mount command's own messages, as the other commands show them.
int FailWith(const CliStreams& io, const char* message) {
  fprintf(io.err, "%s\n", message);
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
  if (served->fd < 0) return FailWith(io, "Error opening Velmorcrypt volume.");
  served->bodySize = info.bodySize;
  served->fileSize = info.bodySize + (info.externalHeader ? 0 : kHeaderSize);
  served->readOnly = options.readOnly;
  struct stat file;
  if (fstat(served->fd, &file) != 0 || !S_ISREG(file.st_mode) ||
      static_cast<uint64_t>(file.st_size) != served->fileSize) {
    return FailWith(io, "Error reading Velmorcrypt volume.");
  }
  served->modified = file.st_mtim;
  if (!SectorBodySizeValid(served->bodySize)) return FailWith(io, "Error trying to mount disk.");
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
  if (pipe2(ready, O_CLOEXEC) != 0) return FailWith(io, "Error trying to mount disk.");
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
  if (child < 0) return FailWith(io, "Error trying to mount disk.");
  if (got != 1) {
    waitpid(child, nullptr, 0);  // the server reported why and ended
    return kExitFailure;
  }
  fputs("Velmorcrypt volume successfully mounted.\n", io.out);
  return kExitSuccess;
}

// Runs `program` (looked up in PATH) with `arguments` and answers whether it
// succeeded; it reports its own errors on standard error unless `quiet`.
bool RunProgram(const char* program, const std::vector<std::string>& arguments,
                bool quiet = false) {
  std::vector<std::string> copies = arguments;
  copies.insert(copies.begin(), program);
  std::vector<char*> argv;
  for (std::string& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (quiet) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t child;
  const int spawned = posix_spawnp(&child, program, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool RunFusermount(const std::vector<std::string>& arguments, bool quiet = false) {
  return RunProgram("fusermount3", arguments, quiet);
}

// A field of /proc/self/mountinfo, whose blanks and backslashes are
// written as octal escapes.
std::string Unescape(const std::string& field) {
  std::string text;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      text += static_cast<char>(strtol(field.substr(i + 1, 3).c_str(), nullptr, 8));
      i += 3;
    } else {
      text += field[i];
    }
  }
  return text;
}

// The FUSE mounts (such as fuse2fs folders) whose source is `disk`.
std::vector<std::string> FoldersShowing(const std::string& disk) {
  std::vector<std::string> folders;
  FILE* table = fopen("/proc/self/mountinfo", "re");
  if (table == nullptr) return folders;
  char* line = nullptr;
  size_t size = 0;
  while (getline(&line, &size, table) > 0) {
    // ID PARENT MAJOR:MINOR ROOT MOUNTPOINT OPTIONS [TAGS...] - TYPE SOURCE OPTIONS
    char target[4096], type[256], source[4096];
    const char* rest = strstr(line, " - ");
    if (rest == nullptr || sscanf(line, "%*s %*s %*s %*s %4095s", target) != 1 ||
        sscanf(rest, " - %255s %4095s", type, source) != 2) {
      continue;
    }
    if (strncmp(type, "fuse", 4) == 0 && Unescape(source) == disk) {
      folders.push_back(Unescape(target));
    }
  }
  free(line);
  fclose(table);
  return folders;
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

// Shows the file system on the served disk as `folder` through fuse2fs
// (e2fsprogs), for the user who mounted, without root. The first sectors
// tell what the disk holds; FAT, which only the kernel shows as a folder,
// is named with the tools that reach it without root.
bool ShowFiles(const std::string& mountPoint, const std::string& folder, bool readOnly,
               const CliStreams& io) {
  const std::string disk = mountPoint + "/" + kVolumeFileName;
  uint8_t start[2048] = {};
  const int fd = open(disk.c_str(), O_RDONLY | O_CLOEXEC);
  const bool read = fd >= 0 && pread(fd, start, sizeof start, 0) == sizeof start;
  if (fd >= 0) close(fd);
  constexpr size_t kExtMagic = 1080;  // the superblock at 1024, its magic 0xEF53 at 56
  if (!read || start[kExtMagic] != 0x53 || start[kExtMagic + 1] != 0xEF) {
    const bool fat = start[510] == 0x55 && start[511] == 0xAA &&
                     (memcmp(start + 54, "FAT", 3) == 0 || memcmp(start + 82, "FAT", 3) == 0);
    Fail(io, fat ? "the volume holds a FAT file system, which --files cannot show as a folder; "
                   "use mtools on " +
                       disk + " (mdir -i " + disk + "), or as root mount -o loop"
                 : "the volume holds no ext2/3/4 file system to show; make one first (mkfs.ext4 " +
                       disk + ")");
    return false;
  }
  std::vector<std::string> arguments = {disk, folder};
  if (readOnly) arguments.insert(arguments.end(), {"-o", "ro"});
  if (!RunProgram("fuse2fs", arguments)) {
    Fail(io, "fuse2fs could not show the volume's files in " + folder);
    return false;
  }
  fprintf(io.out, "The volume's files are in %s.\n", folder.c_str());
  return true;
}

}  // namespace

int RunMount(const MountOptions& options, const CliStreams& io, FileSystem& fileSystem,
             const std::function<void(std::string*)>& readPassword) {
  std::string mountPoint;
  std::string error = CheckMountPoint(options.mountPoint, &mountPoint);
  if (!error.empty()) return Fail(io, error);
  std::string filesFolder;
  if (!options.filesFolder.empty()) {
    error = CheckMountPoint(options.filesFolder, &filesFolder);
    if (!error.empty()) return Fail(io, error);
  }

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
      if (result == kExitSuccess && !filesFolder.empty() &&
          !ShowFiles(mountPoint, filesFolder, options.readOnly, io)) {
        RunUnmount(mountPoint, io);  // nothing stays half done
        result = kExitFailure;
      }
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

  // Folders that show the disk's files go first, so that their writes
  // reach the disk.
  char* resolved = realpath(mountPoint.c_str(), nullptr);
  const std::string disk = std::string(resolved != nullptr ? resolved : "") + "/" + kVolumeFileName;
  free(resolved);
  for (const std::string& folder : FoldersShowing(disk)) {
    if (!RunFusermount({"-u", "--", folder})) {
      if (pidFd >= 0) close(pidFd);
      return Fail(io, "could not unmount " + folder + ", which shows the volume's files");
    }
  }

  // Everything written through the mount reaches the disk before it ends.
  bool flushed = false;
  const int opened = open(disk.c_str(), O_RDONLY | O_CLOEXEC);
  if (opened >= 0) {
    flushed = fsync(opened) == 0;
    close(opened);
  }
  // A folder's server closes the disk a moment after its unmount: a busy
  // mount is tried again for a while before the failure is told.
  bool unmounted = false;
  for (int attempt = 0; attempt < kUnmountAttempts && !unmounted; ++attempt) {
    if (attempt > 0) usleep(100000);
    unmounted = RunFusermount({"-u", "--", mountPoint}, attempt + 1 < kUnmountAttempts);
  }
  if (!unmounted) {
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
