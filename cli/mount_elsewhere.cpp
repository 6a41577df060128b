// The Linux mount's commands where there is no FUSE: the program mounts
// volumes as drive letters instead, and Windows formats a drive after its
// mount.
#include "linux-mount/mount.h"

namespace {

int LinuxOnly(const CliStreams& io, const char* what) {
  fprintf(io.err, "velmorcrypt-cli: %s works on Linux only; %s\n", what,
          "on Windows the program mounts volumes as drive letters, and Windows formats a drive "
          "after its first mount");
  return kExitFailure;
}

}  // namespace

int RunMount(const MountOptions&, const CliStreams& io, FileSystem&,
             const std::function<void(std::string*)>&) {
  return LinuxOnly(io, "mount");
}

int RunUnmount(const std::string&, const CliStreams& io) { return LinuxOnly(io, "unmount"); }

int PrepareNewFileSystem(NewFileSystem, uint64_t, const CliStreams& io) {
  LinuxOnly(io, "--filesystem");
  return -1;
}

int WriteNewFileSystem(int, FileSystem&, const std::string&, const std::string&, const std::string&,
                       const CliStreams& io) {
  return LinuxOnly(io, "--filesystem");
}

void DiscardNewFileSystem(int) {}

FileSystemCheck CheckVolumeFileSystem(FileSystem&, const std::string&, const std::string&,
                                      const std::string&) {
  FileSystemCheck check;
  check.report = "the file systems' checkers run on Linux";
  return check;
}

int VolumeFileSystemType(FileSystem&, const std::string&, const std::string&, const std::string&,
                         const CliStreams& io, std::string*) {
  return LinuxOnly(io, "--grow-filesystem");
}

bool FileSystemGrows(const std::string&) { return false; }

int GrowVolumeFileSystem(FileSystem&, const std::string&, const std::string&, const std::string&,
                         const CliStreams& io) {
  return LinuxOnly(io, "--grow-filesystem");
}
