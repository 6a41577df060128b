// What the command-line tool's `info` tells about a volume: its algorithm,
// where its header lies and how large its body is. The checks run in the
// mount command's order, with its messages.
#pragma once
#include <stdint.h>

#include <string>

#include "platform/file.h"
#include "volume/header_backup.h"
#include "volume/outcome.h"

struct VolumeInfo {
  int algorithm = 0;  // AlgorithmId
  bool externalHeader = false;
  uint64_t bodySize = 0;  // bytes
  // The password change backup beside the header's file; a torn header was
  // opened through it.
  BackupState backup = BackupState::kNone;
};

// Opens the header of the volume (from `headerPath` when not empty, else
// from the last 1044 bytes of the volume file) with the password, and looks
// at the backup beside it. Reads only; the opened header is wiped before it
// returns.
Outcome ReadVolumeInfo(FileSystem& fileSystem, const std::string& volumePath,
                       const std::string& headerPath, const std::string& password,
                       VolumeInfo* info);
