// A long run of a volume body's sectors, made and written in fixed memory:
// threads fill a ring of 4 MiB chunks (encrypted zeros for a new body, an
// image's sectors encrypted, a volume's sectors decrypted) while the calling
// thread writes the chunks in order, one megabyte per write, and starts each
// chunk's writeback at once. The chunks are page-aligned, so that a source
// opened with OpenMode::kReadStreaming reads straight into them. The disk
// does not wait for the cipher, and the memory used is the same whatever the
// run's length. Creation, resizing, export and import write through it.
#pragma once
#include <stdint.h>

#include <atomic>
#include <functional>

#include "platform/file.h"

// Fills `chunk` with the bytes of `sectors` sectors that start at sector
// `first` of the run's numbering; false when it cannot (a read failed).
// Called from several threads at once, each with its own chunk.
using ChunkFill = std::function<bool(uint8_t* chunk, uint64_t first, uint32_t sectors)>;

// Called with (0, N) when the run starts and then once per megabyte
// written, with the megabytes done so far and the total N (rounded up).
using StreamProgress = std::function<void(uint32_t done, uint32_t total)>;

// Filling threads at least, where `fill` reads a file: one chunk's read is
// under way while another is ciphered.
constexpr uint32_t kReadingFillThreads = 2;

struct StreamRun {
  uint64_t firstSector = 0;  // the number of the run's first sector, given to `fill`
  uint64_t sectorCount = 0;
  uint64_t fileOffset = 0;  // where the run's first sector goes in the file
  uint32_t threads = 1;     // filling threads, beside the writing one
};

enum class StreamResult { kWritten, kFillFailed, kWriteFailed, kCancelled, kNoResources };

// Writes the run into `out`. `cancel` is polled before each megabyte;
// `*written`, when given, receives how many of the run's sectors were
// written from its start (all of them, or those before the stop).
StreamResult StreamSectors(File& out, const StreamRun& run, const ChunkFill& fill,
                           const StreamProgress& progress = {},
                           const std::atomic<bool>* cancel = nullptr, uint64_t* written = nullptr);
