// What the command-line tool's `info` tells about a volume: its algorithm,
// where its header lies and how large its body is. The checks run in the
// mount command's order, with its messages.
#pragma once
#include <stdint.h>

#include <string>

#include "crypto/wipe.h"
#include "platform/file.h"
#include "volume/header.h"
#include "volume/header_backup.h"
#include "volume/outcome.h"
#include "volume/resize_volume.h"

struct VolumeInfo {
  int algorithm = 0;  // AlgorithmId
  bool externalHeader = false;
  uint64_t bodySize = 0;  // bytes
  // The password change backup beside the header's file; a torn header was
  // opened through it.
  BackupState backup = BackupState::kNone;
  // A resize journal beside the volume file (ReadVolumeInfo only).
  PendingResize resize;
};

// A header buffer that is wiped however the command ends.
struct HeaderBuffer {
  uint8_t bytes[kHeaderSize];
  HeaderBuffer() = default;
  HeaderBuffer(const HeaderBuffer&) = delete;
  HeaderBuffer& operator=(const HeaderBuffer&) = delete;
  ~HeaderBuffer() { SecureWipe(bytes, sizeof bytes); }
};

// Opens the header of the volume (from `headerPath` when not empty, else
// from the last 1044 bytes of the volume file) with the password, after
// checking that the volume file opens in `mode` (kRead or kReadWrite), and
// looks at the backup beside it; writes nothing. On success `header` holds
// the opened header.
Outcome OpenVolumeHeader(FileSystem& fileSystem, const std::string& volumePath,
                         const std::string& headerPath, const std::string& password, OpenMode mode,
                         VolumeInfo* info, HeaderBuffer* header);

// OpenVolumeHeader for reading only, and the resize journal beside the
// volume, checked with the opened header's keys; the opened header is wiped
// before it returns.
Outcome ReadVolumeInfo(FileSystem& fileSystem, const std::string& volumePath,
                       const std::string& headerPath, const std::string& password,
                       VolumeInfo* info);
