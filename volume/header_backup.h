// The backup that a password change keeps beside the file whose header it
// rewrites: "<file>.header-backup", the old sealed header followed by the
// new one (2 x 1044 bytes), written with one write before the header in
// place is touched.
//
// The header is written in place with one 1044-byte write that starts on a
// 512-byte sector boundary (after a body of whole sectors in a volume file,
// at offset 0 of an external header block), so a write cut short by a power
// loss or a kill leaves its sectors (512 + 512 + 20 bytes) as a prefix of
// the copy being written over the other copy. Such a header is torn: it
// opens with neither password, and the backup repairs it. Nothing else
// does: a header in place that equals one of the copies is whole (the
// backup is stale, left by a finished or undone change), as is one beside a
// backup cut short while it was written (whole sectors of a backup of the
// header in place: the change never wrote in place). A backup that fits
// none of these is foreign and ignored, whatever it holds, so that a file
// planted beside a volume can never open or change it, and no change
// removes it.
#pragma once
#include <stdint.h>

#include <string>

#include "platform/file.h"
#include "volume/header.h"

constexpr uint32_t kHeaderBackupSize = 2 * kHeaderSize;
constexpr uint32_t kDiskSectorSize = 512;

// The backup of a change in progress beside the file at `path`.
std::string HeaderBackupPath(const std::string& path);

// A stale or torn backup is a change's own; anything else at its name is
// not, and no change removes or replaces it.
enum class BackupState {
  kNone,     // nothing lies at the backup's name
  kStale,    // the header in place is one of its copies, or the backup is
             // one of it cut short
  kTorn,     // the header in place is torn between its copies
  kForeign,  // it fits no interrupted change of the header in place, or it
             // is no file that can be read (a link, a pipe, a folder)
};

// Whether `inPlace` is `over` written part-way by `written`: its first one
// or two sectors from `written`, the rest from `over`.
bool IsTornWrite(const uint8_t inPlace[kHeaderSize], const uint8_t written[kHeaderSize],
                 const uint8_t over[kHeaderSize]);

// Reads the backup beside `path`, never through a symbolic link, and tells
// how `inPlace` (the sealed header in place) relates to it. For kTorn,
// `copies` holds the backup. Reads only.
BackupState ExamineHeaderBackup(FileSystem& fileSystem, const std::string& path,
                                const uint8_t inPlace[kHeaderSize],
                                uint8_t copies[kHeaderBackupSize]);

// The copy of a backup that opens with the password into a well-formed
// header (its signature and reserved bytes as sealed): its index, 0 (old)
// or 1 (new), with `opened` holding it opened and `*algorithm` its
// AlgorithmId; -1 when neither does, with `opened` untouched.
int OpenBackupCopy(const uint8_t copies[kHeaderBackupSize], const uint8_t* password,
                   uint32_t passwordLength, uint8_t opened[kHeaderSize], int* algorithm);

// Opens `header` (the sealed header read from the file at `path`) with the
// password, as OpenHeader does; when it is torn and a backup copy opens
// with the password, that copy is opened into `header` instead, in memory
// only. Never writes, removes or creates a file: the read paths (mounts, the
// tool's info) call this, and only a password change repairs the file.
// Returns the AlgorithmId, or 0 with `header` unchanged. `backup`, when
// given, receives the state of the backup beside the file (looked at only
// when asked for or needed).
int OpenHeaderReadOnly(FileSystem& fileSystem, const std::string& path, uint8_t header[kHeaderSize],
                       const uint8_t* password, uint32_t passwordLength,
                       BackupState* backup = nullptr);
