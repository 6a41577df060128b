// The Linux mount's server (libfuse3): a folder that holds one file,
// `volume`, the decrypted body of a volume. Its sectors are decrypted and
// encrypted on the fly by the sector service's rules (volume/sector_service.h).
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
// The extended attribute of the mounted folder that answers the serving
// process's id: how `unmount` recognises our mounts and waits for them.
constexpr char kServerPidAttribute[] = "user.velmorcrypt.pid";

struct ServedVolume {
  int fd = -1;            // the volume file, open read-write or read-only; closed by the server
  uint64_t bodySize = 0;  // bytes, whole sectors
  uint64_t fileSize = 0;  // the volume file's size at mount: the body and any header in it
  bool readOnly = false;
  struct timespec modified = {};  // shown as the disk's times
  BodyCipher cipher = {};         // keyed; wiped by the server when it ends
};

// Mounts `volume` on `mountPoint` (an absolute path) and serves it until it
// is unmounted or the process gets SIGINT, SIGTERM or SIGHUP (which unmount
// it). `onReady` is called once the kernel talks to the server. With
// `detach`, the process leaves its terminal once mounted (its standard
// streams go to /dev/null). When it returns, the volume file has been
// flushed and closed and the keys wiped. Returns 0, or 1 after a message on
// `err` when the mount could not be made or the final flush failed.
int ServeVolume(ServedVolume* volume, const std::string& mountPoint, bool detach,
                const std::function<void()>& onReady, FILE* err);
