// The tool's care of a volume without a mount: `export` writes its
// decrypted body to a plain disk image, `import` makes a new volume from
// one, and `check` tells what is sound and what is not (the file system's
// own checker is the Linux mount's part, linux-mount/mount.h). Resizing is
// the resize engine's (volume/resize_volume.h).
#pragma once
#include <stdint.h>

#include <atomic>
#include <string>
#include <vector>

#include "cli/volume_info.h"
#include "platform/file.h"
#include "volume/body_stream.h"
#include "volume/create_volume.h"
#include "volume/outcome.h"
#include "volume/resize_volume.h"

struct ExportInput {
  std::string volumePath;
  std::string headerPath;  // empty: the header is in the volume file
  std::string imagePath;
  std::string password;
  bool force = false;  // replace a file at imagePath (never the volume or its header block)
};

// Opens the volume's header with the password, then streams the decrypted
// body into a new private file at imagePath (created exclusively unless
// `force`), flushed. The volume is held with a shared lock, as read-only
// mounts hold it, so that no read-write mount changes it meanwhile; a
// volume that changed all the same (its size or its last write time), a
// failed read or write, a full disk and a cancel remove the image.
Outcome ExportVolume(FileSystem& fileSystem, const ExportInput& input,
                     const StreamProgress& progress = {},
                     const std::atomic<bool>* cancel = nullptr);

struct ImportInput {
  std::string imagePath;
  // The new volume: its paths, passwords, algorithm and replaceExisting;
  // its size and contents come from the image.
  CreateVolumeInput volume;
};

// Makes a new volume whose body is the image's sectors, encrypted, followed
// by encrypted zeros up to a whole megabyte (CreateVolume, with its checks
// and messages). The image must be a whole number of 512-byte sectors, from
// one sector to 999999 MB; an image that changes meanwhile, a failed read
// and every failure of the creation leave no volume. Sets input.volume's
// size.
Outcome ImportImage(FileSystem& fileSystem, ImportInput& input, const StreamProgress& progress = {},
                    const std::atomic<bool>* cancel = nullptr);

// What `check` finds, without writing anything.
struct VolumeCheck {
  bool opened = false;    // the header opened with the password
  VolumeInfo info;        // algorithm, placement, body size, header backup
  uint64_t fileSize = 0;  // the volume file's
  bool sizeFits = false;  // a whole number of megabytes (and the header)
  PendingResize resize;   // a journal beside the volume
  std::vector<std::string> problems;
};

VolumeCheck CheckVolume(FileSystem& fileSystem, const std::string& volumePath,
                        const std::string& headerPath, const std::string& password);
