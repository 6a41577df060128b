// The Linux mount's disk server (libfuse3): a folder that holds one file,
// `volume`, the decrypted body of a volume. Its sectors are decrypted and
// encrypted on the fly by the sector service's rules (volume/sector_service.h).
// It is mounted either privately, under a folder of the caller's own, for a
// file system's driver or FUSE server to show the files (the private
// disk), or on the user's folder (--disk).
#pragma once
#include <stdint.h>
#include <stdio.h>
#include <sys/types.h>
#include <time.h>

#include <functional>
#include <string>

#include "volume/body_cipher.h"

// The name of the disk in the mounted folder.
constexpr char kVolumeFileName[] = "volume";
// The largest read or write the disk takes in one request (the kernel's
// limit for a FUSE request).
constexpr unsigned kDiskMaxTransfer = 1024 * 1024;
// The file system type of our disk mounts in /proc/self/mountinfo, and
// their source: this prefix and the serving process's id
// ("velmorcrypt:4711"), so that `unmount` can wait for the server of a
// mount it has recognised as the caller's own. The disk answers no
// extended attributes at all: the kernel then stops asking for them,
// where it would otherwise ask for the security attributes before every
// write.
constexpr char kDiskMountType[] = "fuse.velmorcrypt";
constexpr char kDiskMountSource[] = "velmorcrypt:";
// The serving process's id that a mount's source names, or 0 when the
// source is not one of our disks'.
pid_t DiskServerPid(const std::string& source);

struct ServedVolume {
  int fd = -1;            // the volume file, open read-write or read-only; closed by the server
  uint64_t bodySize = 0;  // bytes, whole sectors
  uint64_t fileSize = 0;  // the volume file's size at mount: the body and any header in it
  bool readOnly = false;
  // The private disk has one user, the file system on it: the kernel may
  // cache its writes and send them in large requests (writeback cache),
  // and fsync still reaches the volume file. On the user's folder every
  // write reaches the server at once, so that its error reaches the writer.
  bool privateDisk = false;
  struct timespec modified = {};  // shown as the disk's times
  BodyCipher cipher = {};         // keyed; wiped by the server when it ends
};

struct ServeHooks {
  // Called once the kernel talks to the server (the mount is there).
  std::function<void()> onReady;
  // Unmounts the disk when the server is asked to end (SIGINT, SIGTERM,
  // SIGHUP); false while it is in use, and the server then serves on.
  std::function<bool()> unmount;
  // Read by the server until the command that started it has set up the
  // rest of the mount: when it ends without a byte (the command died), the
  // server ends as if it got SIGTERM. -1: none.
  int setupFd = -1;
};

// Mounts `volume` on `mountPoint` (a path that reaches the folder) and
// serves it until it is unmounted or asked to end. The process leaves its
// terminal once mounted (its standard streams go to /dev/null) and is not
// dumpable; the keys stay in locked memory. When it returns, the volume
// file has been flushed and closed and the keys wiped. Returns 0, or 1
// after a message on `err` when the mount could not be made, the keys
// could not be locked in memory, or the final flush failed.
int ServeVolume(ServedVolume* volume, const std::string& mountPoint, const ServeHooks& hooks,
                FILE* err);
