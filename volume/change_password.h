// The password change engine, driven by the Change Password dialog and by
// the command-line tool. The header is the last 1044 bytes of the named file
// (a volume file that holds its header, or an external header block); it is
// re-sealed under the new password and written back in place, and nothing
// else in the file changes.
//
// A 1044-byte write spans sectors and is not atomic, so a change keeps a
// backup beside the file while it writes: "<file>.header-backup" holds the
// old sealed header followed by the new one (2 x 1044 bytes). The change
//   1. writes and flushes the backup,
//   2. writes the new header in place, flushes it and reads it back,
//   3. removes the backup.
// A process killed anywhere in between leaves the old header in place (1),
// a mix of the two headers in place with a whole backup (2), or the new
// header in place (2, 3). OpenHeaderRecovering settles what is left the
// next time the header is opened, whichever of the two passwords is given.
#pragma once
#include <stdint.h>

#include <string>

#include "platform/file.h"
#include "volume/header.h"
#include "volume/outcome.h"

struct ChangePasswordInput {
  std::string path;  // volume file or .ehb file
  std::string currentPassword;
  std::string newPassword;
  std::string confirmation;
};

struct ChangePasswordOutcome {
  Outcome outcome;
  // After a success: the folder of the file, ending in a separator.
  std::string lastDirectory;
};

// Checks the input in a fixed order, then reads, re-seals and writes back
// the header, flushed to the disk and read back before success is reported.
// Every failure has the caption "Apply Error" and leaves the old password
// working. A header left by an interrupted change is settled with the
// current password first. The caller keeps its own copies of the passwords
// and wipes them.
ChangePasswordOutcome ChangeVolumePassword(FileSystem& fileSystem,
                                           const ChangePasswordInput& input);

// The backup of a change in progress beside the file at `path`.
std::string HeaderBackupPath(const std::string& path);

// Opens `header`, the last 1044 bytes of the file at `path` as read, with
// the password, as OpenHeader does, and settles an interrupted change:
// - the header opens: it is whole, and a backup left beside the file is
//   removed;
// - it does not open, a backup lies beside the file, the header's bytes are
//   each the old or the new copy's byte at that place (so the backup belongs
//   to this header), and one of the copies opens with the password: that
//   copy is written back in place, flushed, and the backup removed. When the
//   file cannot be written the copy is still opened and the backup stays.
// Returns the AlgorithmId with `header` opened, or 0 with it unchanged.
int OpenHeaderRecovering(FileSystem& fileSystem, const std::string& path,
                         uint8_t header[kHeaderSize], const uint8_t* password,
                         uint32_t passwordLength);
