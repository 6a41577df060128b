// The mount commands where there is no FUSE: the program mounts volumes as
// drive letters instead.
#include "cli/mount.h"

namespace {

int LinuxOnly(const CliStreams& io) {
  fputs(
      "velmorcrypt-cli: mount and unmount work on Linux only; on Windows the program mounts "
      "volumes as drive letters\n",
      io.err);
  return kExitFailure;
}

}  // namespace

int RunMount(const MountOptions&, const CliStreams& io, FileSystem&,
             const std::function<void(std::string*)>&) {
  return LinuxOnly(io);
}

int RunUnmount(const std::string&, const CliStreams& io) { return LinuxOnly(io); }
