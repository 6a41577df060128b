// The password change engine, driven by the Change Password dialog and by
// the command-line tool. The header is the last 1044 bytes of the named file
// (a volume file that holds its header, or an external header block); it is
// re-sealed under the new password and written back in place, and nothing
// else in the file changes.
#pragma once
#include <string>

#include "platform/file.h"
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
// the header, flushed to the disk before success is reported. Every failure
// has the caption "Apply Error" and leaves the old password working. The
// caller keeps its own copies of the passwords and wipes them.
ChangePasswordOutcome ChangeVolumePassword(FileSystem& fileSystem,
                                           const ChangePasswordInput& input);
