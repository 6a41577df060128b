// The tool's header backup and restore. A volume lives or dies by its
// 1044-byte sealed header, so `backup-header` saves it to a file of its own
// (in the external header block's format: exactly the 1044 sealed bytes),
// and `restore-header` writes such a file back over the header in place,
// with the password change's crash safety (ReplaceHeaderSafely). A restored
// header brings back the password it had when it was saved.
#pragma once
#include <string>

#include "platform/file.h"
#include "volume/outcome.h"

struct HeaderCopyInput {
  std::string volumePath;
  std::string headerPath;  // the external header block; empty: the header is in the volume file
  std::string copyPath;    // the header backup file
  std::string password;
  bool force = false;  // backup: replace a file at copyPath; restore: see RestoreVolumeHeader
};

// Opens the volume's header with the password (the checks and messages of
// `info`), then writes the sealed header, as it lies on the disk, to a new
// private file at copyPath (created exclusively unless `force`). A header
// torn by an interrupted password change is not saved: `passwd` repairs it
// first. Never writes to the volume or its header block, nor under the name
// of a password change's backup of either (HeaderBackupPath).
Outcome BackupVolumeHeader(FileSystem& fileSystem, const HeaderCopyInput& input);

// Writes the header saved in copyPath back in place. The saved header must
// open with the password; when the header in place opens with it too, both
// must hold the same body keys (a header of another volume is refused even
// with `force`). A header in place that does not open with the password is
// replaced only with `force`. A header torn by an interrupted password
// change is made whole from its backup first. Every refusal leaves the
// volume as it was, as does every failure but one after that repair, which
// leaves the repaired header.
Outcome RestoreVolumeHeader(FileSystem& fileSystem, const HeaderCopyInput& input);
