// The volume creation engine, driven by the Create page's worker thread and
// by the command-line tool. It checks the input, seals a new header and
// writes the volume: the body (every sector the encryption of 512 zero
// bytes) followed by the header, or the body alone with the header in an
// external header block file.
#pragma once
#include <stdint.h>

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

#include "platform/file.h"
#include "volume/outcome.h"

struct CreateVolumeInput {
  std::string volumePath;
  std::string headerPath;  // empty: the header goes into the volume file
  uint32_t sizeMb = 0;     // body size in megabytes of 1048576 bytes
  std::string password;
  std::string confirmation;
  // Not empty when the shell could not turn the typed password into a
  // volume's bytes (platform/password_text.h): the refusal it reports.
  std::string passwordRefusal = {};
  int algorithm = 0;  // AlgorithmId
  // Files that exist at the two paths are replaced (the desktop's save
  // dialog has asked); otherwise the creation fails on anything there, a
  // dangling symbolic link too.
  bool replaceExisting = true;
  // The body's plaintext, sector by sector (a disk image being imported);
  // empty: zeros. Called from several threads at once.
  std::function<bool(uint8_t* data, uint64_t firstSector, uint32_t sectors)> plaintext = {};
};

struct CreateVolumeOutcome {
  Outcome outcome;
  // After a success: the folder of the volume file, ending in a separator.
  std::string lastDirectory;
  // The creation was cancelled; its files have been removed.
  bool cancelled = false;
};

// Called with (0, N) when the body starts and then once per megabyte
// written, with the megabytes done so far and the total N.
using CreateProgress = std::function<void(uint32_t done, uint32_t total)>;

// How many threads encrypt the body of a new volume with `algorithm`
// (AlgorithmId) on this processor, beside the thread that writes it.
uint32_t EncryptionThreadCount(int algorithm);

// Reads a size field: decimal digits (after optional leading spaces) that
// fit in 32 bits. Anything else reads as 0 and returns false, so that the
// caller can warn; the range check then refuses the 0.
bool ParseVolumeSize(std::string_view text, uint32_t* sizeMb);

// Checks the input in a fixed order (volume path, size, free space of the
// volume file's folder, passwords: both given, the shell's refusal, equal,
// at most 64 bytes), then seals the header and writes the
// files. Every failure has the caption "Create Error"; a failed creation
// removes what it created. `cancel`, when given, is polled once per
// megabyte. The caller keeps its own copies of the passwords and wipes them.
CreateVolumeOutcome CreateVolume(FileSystem& fileSystem, const CreateVolumeInput& input,
                                 const CreateProgress& progress = {},
                                 const std::atomic<bool>* cancel = nullptr);
