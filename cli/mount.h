// The Linux mount: `mount` serves a volume's decrypted disk as
// MOUNTPOINT/volume through FUSE, `unmount` flushes and ends it. Other
// platforms answer that the commands are Linux's.
#pragma once
#include <functional>
#include <string>

#include "cli/cli.h"
#include "platform/file.h"

struct MountOptions {
  std::string volumePath;
  std::string mountPoint;
  std::string headerPath;  // empty: the header is the volume file's last 1044 bytes
  bool readOnly = false;
  bool foreground = false;  // serve in this process until unmounted
  std::string filesFolder;  // not empty: show the disk's ext2/3/4 files there (fuse2fs)
};

// Checks the mount point, then asks `readPassword` for the password, opens
// the volume's header with the mount command's checks and messages, and
// mounts. Without `foreground` it returns once MOUNTPOINT/volume is served
// by a process of its own.
int RunMount(const MountOptions& options, const CliStreams& io, FileSystem& fileSystem,
             const std::function<void(std::string*)>& readPassword);

// Unmounts the folders that show the disk's files, flushes the mounted
// volume, unmounts it and waits until its server has closed the volume file.
int RunUnmount(const std::string& mountPoint, const CliStreams& io);
