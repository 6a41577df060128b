// The password change engine, driven by the Change Password dialog and by
// the command-line tool. The header is the last 1044 bytes of the named file
// (a volume file that holds its header, or an external header block); it is
// re-sealed under the new password and written back in place, and nothing
// else in the file changes.
//
// A 1044-byte write spans sectors and is not atomic, so a change keeps a
// backup beside the file while it writes (volume/header_backup.h). The
// change
//   1. writes and flushes the backup (a new private file, its folder flushed),
//   2. writes the new header in place, flushes it and reads it back,
//   3. removes the backup.
// A process killed or a power lost anywhere in between leaves the old header
// in place (1), a header torn between the two copies with a whole backup
// (2), or the new header in place (2, 3). Every open reads a torn header
// through its backup with either password (OpenHeaderReadOnly), and the next
// change repairs it in place before it replaces that backup.
//
// The backup's name belongs to the change: a change replaces only a backup
// of its own (stale or torn), and refuses, writing nothing, when anything
// else lies there (a user's file, a link), so that it never removes a file
// it did not make.
#pragma once
#include <stdint.h>

#include <string>

#include "platform/file.h"
#include "volume/header.h"
#include "volume/header_backup.h"
#include "volume/outcome.h"

struct ChangePasswordInput {
  std::string path;  // volume file or .ehb file
  std::string currentPassword;
  std::string newPassword;
  std::string confirmation;
  // Not empty when the shell could not turn the typed new password into a
  // volume's bytes (platform/password_text.h): the refusal it reports.
  std::string newPasswordRefusal = {};
};

struct ChangePasswordOutcome {
  Outcome outcome;
  // After a success: the folder of the file, ending in a separator.
  std::string lastDirectory;
};

// Checks the input in a fixed order, then reads, re-seals and writes back
// the header, flushed to the disk and read back before success is reported.
// Every failure has the caption "Apply Error" and leaves the old password
// working. A header torn by an interrupted change is first repaired in place
// from its backup with the current password; a stale backup is replaced by
// the change's own, and anything else at the backup's name refuses the
// change (BackupInTheWayMessage). The caller keeps its own copies of the
// passwords and wipes them.
ChangePasswordOutcome ChangeVolumePassword(FileSystem& fileSystem,
                                           const ChangePasswordInput& input);

enum class HeaderWrite {
  kDone,
  kFailed,          // a step failed: the old header is in place, or the
                    // backup stays to open a torn one
  kBackupInTheWay,  // something the change did not make lies at the
                    // backup's name: nothing was written
};

// Replaces the sealed header `original` (whole, as it lies) at `offset` of
// `file` (the file at `path`, open for reading and writing) by
// `replacement` with the steps above: the backup of both beside the file,
// the write in place flushed and read back, the backup removed. When a step
// fails, `original` is put back where it can be. The header restore of the
// command-line tool writes through this too.
HeaderWrite ReplaceHeaderSafely(FileSystem& fileSystem, const std::string& path, File& file,
                                uint64_t offset, const uint8_t original[kHeaderSize],
                                const uint8_t replacement[kHeaderSize]);

// Repairs a header torn between the two copies of its backup (`inPlace`, at
// `offset` of `file`) by writing the copy numbered `copy` (0 or 1) in place,
// flushed and read back; `inPlace` then holds it. The backup stays. The
// sectors are written one at a time, moving away from the tear, so that a
// write cut short anywhere leaves a header torn between the same two
// copies, which the backup still opens. False when a step fails.
bool RepairTornHeader(File& file, uint64_t offset, uint8_t inPlace[kHeaderSize],
                      const uint8_t copies[kHeaderBackupSize], int copy);

// The message of a change refused because of what lies at the backup's name
// of the file at `path`.
std::string BackupInTheWayMessage(const std::string& path);
