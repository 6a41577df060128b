// Growing a volume's body. New sectors are written as a new volume's are
// (the encryption of zeros, never a hole), and a kill or a power loss at
// any point leaves a volume that opens with its password at its old size or
// at its new one.
//
// With the header in the volume file (its last 1044 bytes), the header
// moves to the new end. The growth
//   1. writes a journal beside the volume, "VOLUME.resize" (a new private
//      file, flushed with its folder): the old and the new size, and a MAC
//      under the volume's own keys, so that no planted file passes for one;
//   2. reserves the new space (no hole, no full disk later on);
//   3. writes the header at the new end with one write (the file's size
//      changes with it), flushes it and reads it back: from here on the
//      volume opens at its new size, and the old header stays where it was
//      (a write that a kill cannot split; should a power loss keep part of
//      it from the disk, the journal leads the next resize to the old one);
//   4. fills the new megabytes after the first with encrypted zeros, in
//      fixed memory, with progress; Ctrl+C stops between megabytes, flushes
//      and records in the journal how far it came;
//   5. writes the first new megabyte, which holds the old header, last, and
//      flushes;
//   6. removes the journal and flushes its folder.
// A journal left by a kill or a stop is recognised by `info`, `check` and
// the next resize: resizing to its new size finishes the growth, resizing
// to its old size undoes it (the header in use is written back over the
// old one's place and the file cut to its old size: byte for byte the old
// file).
//
// With an external header block the header does not move: the growth
// reserves, extends the file, fills every new megabyte and flushes, with the
// same journal.
//
// The volume file is held with an exclusive lock throughout, as a
// read-write mount holds it, so that no mount serves it meanwhile; the
// growth is refused while a mount holds it. A header torn by an interrupted
// password change is refused (the change repairs it), and the password
// change backup is never touched: the header moves unchanged, so a stale
// backup stays stale.
#pragma once
#include <stdint.h>

#include <atomic>
#include <string>

#include "platform/file.h"
#include "volume/body_cipher.h"
#include "volume/body_stream.h"
#include "volume/header.h"
#include "volume/outcome.h"

struct ResizeVolumeInput {
  std::string volumePath;
  std::string headerPath;  // the external header block; empty: the header is in the volume file
  std::string password;
  uint32_t sizeMb = 0;  // the body's new size in megabytes
  // Grow although the body does not decrypt with the external header
  // block's keys to what a volume holds (zeros or a file system's start).
  bool force = false;
};

enum class ResizeResult {
  kGrown,      // the body is sizeMb megabytes now
  kUnchanged,  // it was already
  kUndone,     // an interrupted growth was undone: the body is its old size again
  kStopped,    // cancelled or failed part-way: the journal tells the rest
  kRefused,    // nothing was changed
};

struct ResizeOutcome {
  Outcome outcome;
  ResizeResult result = ResizeResult::kRefused;
  uint32_t fromMb = 0;
  uint32_t toMb = 0;
};

// Checks the input (volume, password, size), opens the header with the
// password and grows the body to input.sizeMb megabytes, or finishes or
// undoes an interrupted growth (see above). Every refusal changes nothing.
// `progress` and `cancel` as for StreamSectors; a cancelled growth leaves a
// volume that opens at its new size and a journal that says what is left.
ResizeOutcome ResizeVolume(FileSystem& fileSystem, const ResizeVolumeInput& input,
                           const StreamProgress& progress = {},
                           const std::atomic<bool>* cancel = nullptr);

// The journal of a growth in progress beside the volume file at `volumePath`.
std::string ResizeJournalPath(const std::string& volumePath);

struct PendingResize {
  enum class State {
    kNone,     // nothing lies at the journal's name
    kPending,  // a growth of this volume was interrupted
    kForeign,  // what lies there is no journal of this volume's
  };
  State state = State::kNone;
  bool externalHeader = false;
  uint32_t fromMb = 0;
  uint32_t toMb = 0;
  uint32_t nextMb = 0;  // the growth has written the new megabytes from the fill's start up to this
};

// What finishes or undoes an interrupted growth of `volumePath` from
// `fromMb` to `toMb`, as the messages say it (without a closing stop).
std::string ResizeAdvice(const std::string& volumePath, uint32_t fromMb, uint32_t toMb);

// Reads the journal beside the volume without following a link and checks
// it with the body keys of `opened` (an opened header); with `opened` null
// (the header does not open) a journal is taken at its word, for the
// reports only: a resize acts on none that the keys do not vouch for.
// Reads only.
PendingResize ExamineResizeJournal(FileSystem& fileSystem, const std::string& volumePath,
                                   const uint8_t* opened);

// How many bytes at the start of a body BodyLooksDecrypted judges.
constexpr uint32_t kBodyProbeSize = 4096;

// Whether the first bytes of the body in `volume`, decrypted with `cipher`,
// look like what a volume holds (a new body's zeros, a file system's first
// sectors) rather than the random bytes that decrypting with another
// volume's keys gives: at least one byte in sixteen is zero. False when they
// cannot be read.
bool BodyLooksDecrypted(File& volume, const BodyCipher& cipher);
