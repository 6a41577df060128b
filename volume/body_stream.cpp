#include "volume/body_stream.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kSectorBytes = 512;
constexpr uint32_t kMegabyteBytes = 1048576;
constexpr uint32_t kSectorsPerMegabyte = kMegabyteBytes / kSectorBytes;
constexpr uint32_t kChunkMegabytes = 4;
constexpr uint32_t kChunkSectors = kChunkMegabytes * kSectorsPerMegabyte;
constexpr uint32_t kChunkBytes = kChunkMegabytes * kMegabyteBytes;
// Each written chunk is sent on to the disk at once, and the writer waits for
// the chunk written this many chunks before: the disk works while the next
// chunks are filled instead of during the final flush, and no more than these
// chunks wait in memory to be written.
constexpr uint32_t kWritebackLagChunks = 8;

// Chunks are page-aligned, so that a source opened for streaming reads
// straight into them, past the system's cache.
struct alignas(4096) Page {
  uint8_t bytes[4096];
};
constexpr uint32_t kPagesPerChunk = kChunkBytes / sizeof(Page);

class ChunkRing {
 public:
  ChunkRing(const StreamRun& run, const ChunkFill& fill)
      : run_(run),
        fill_(fill),
        chunkCount_(static_cast<uint32_t>((run.sectorCount + kChunkSectors - 1) / kChunkSectors)),
        // Every thread can hold a chunk while the writer writes another and
        // one more waits ready.
        slots_(std::min(run.threads + 2, chunkCount_)),
        buffers_(new (std::nothrow) Page[size_t{slots_} * kPagesPerChunk]),
        ready_(slots_, 0) {}
  ChunkRing(const ChunkRing&) = delete;
  ChunkRing& operator=(const ChunkRing&) = delete;

  bool Allocated() const { return buffers_ != nullptr; }
  uint32_t ChunkCount() const { return chunkCount_; }
  uint32_t SectorsIn(uint32_t chunk) const {
    return static_cast<uint32_t>(
        std::min<uint64_t>(kChunkSectors, run_.sectorCount - uint64_t{chunk} * kChunkSectors));
  }

  // A filling thread's loop: take the next chunk, wait until its slot is
  // free, fill it.
  void Fill() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_ && nextChunk_ < chunkCount_) {
      const uint32_t chunk = nextChunk_++;
      changed_.wait(lock, [&] { return stop_ || chunk < writtenChunks_ + slots_; });
      if (stop_) return;
      lock.unlock();
      const bool filled =
          fill_(Slot(chunk), run_.firstSector + uint64_t{chunk} * kChunkSectors, SectorsIn(chunk));
      lock.lock();
      ready_[chunk % slots_] = filled ? chunk + 1 : kFailed;
      changed_.notify_all();
    }
  }

  // The writer's side: waits until `chunk` is filled and returns it, or
  // nullptr when its fill failed.
  const uint8_t* WaitReady(uint32_t chunk) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] {
      return ready_[chunk % slots_] == chunk + 1 || ready_[chunk % slots_] == kFailed;
    });
    return ready_[chunk % slots_] == kFailed ? nullptr : Slot(chunk);
  }

  // The writer is done with `chunk`: its slot may be filled again.
  void Release(uint32_t chunk) {
    std::lock_guard<std::mutex> lock(mutex_);
    writtenChunks_ = chunk + 1;
    changed_.notify_all();
  }

  void Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    changed_.notify_all();
  }

 private:
  static constexpr uint32_t kFailed = UINT32_MAX;

  uint8_t* Slot(uint32_t chunk) { return buffers_[size_t{chunk % slots_} * kPagesPerChunk].bytes; }

  const StreamRun& run_;
  const ChunkFill& fill_;
  const uint32_t chunkCount_;
  const uint32_t slots_;
  std::unique_ptr<Page[]> buffers_;
  std::mutex mutex_;
  std::condition_variable changed_;
  uint32_t nextChunk_ = 0;
  uint32_t writtenChunks_ = 0;
  std::vector<uint32_t> ready_;  // per slot: 1 + the chunk it holds ready, 0, or kFailed
  bool stop_ = false;
};

// The filling threads, stopped and joined however the writing ends.
class FillingThreads {
 public:
  explicit FillingThreads(ChunkRing& ring) : ring_(ring) {}
  FillingThreads(const FillingThreads&) = delete;
  FillingThreads& operator=(const FillingThreads&) = delete;
  ~FillingThreads() {
    ring_.Stop();
    for (std::thread& thread : threads_) thread.join();
  }
  // Starts up to `count` threads; returns how many started.
  size_t Start(uint32_t count) {
    try {
      threads_.reserve(count);
      for (uint32_t i = 0; i < count; ++i) threads_.emplace_back(&ChunkRing::Fill, &ring_);
    } catch (const std::exception&) {
      // Fewer threads only make it slower.
    }
    return threads_.size();
  }

 private:
  ChunkRing& ring_;
  std::vector<std::thread> threads_;
};

uint32_t Megabytes(uint64_t sectors) {
  return static_cast<uint32_t>((sectors + kSectorsPerMegabyte - 1) / kSectorsPerMegabyte);
}

}  // namespace

StreamResult StreamSectors(File& out, const StreamRun& run, const ChunkFill& fill,
                           const StreamProgress& progress, const std::atomic<bool>* cancel,
                           uint64_t* written) {
  uint64_t done = 0;
  if (written != nullptr) *written = 0;
  const uint32_t total = Megabytes(run.sectorCount);
  if (run.sectorCount == 0) {
    if (progress) progress(0, 0);
    return StreamResult::kWritten;
  }
  ChunkRing ring(run, fill);
  if (!ring.Allocated()) return StreamResult::kNoResources;
  FillingThreads threads(ring);
  if (threads.Start(std::min(std::max(run.threads, 1u), ring.ChunkCount())) == 0) {
    return StreamResult::kNoResources;
  }
  if (progress) progress(0, total);
  for (uint32_t chunk = 0; chunk < ring.ChunkCount(); ++chunk) {
    const uint8_t* buffer = ring.WaitReady(chunk);
    if (buffer == nullptr) return StreamResult::kFillFailed;
    const uint64_t chunkOffset = run.fileOffset + uint64_t{chunk} * kChunkBytes;
    const uint32_t sectors = ring.SectorsIn(chunk);
    for (uint32_t at = 0; at < sectors; at += kSectorsPerMegabyte) {
      if (cancel != nullptr && cancel->load()) return StreamResult::kCancelled;
      const uint32_t piece = std::min(kSectorsPerMegabyte, sectors - at);
      if (!out.WriteAt(chunkOffset + uint64_t{at} * kSectorBytes,
                       buffer + size_t{at} * kSectorBytes, piece * kSectorBytes)) {
        return StreamResult::kWriteFailed;
      }
      done += piece;
      if (written != nullptr) *written = done;
      if (progress) progress(Megabytes(done), total);
    }
    ring.Release(chunk);
    out.StartWriteback(chunkOffset, uint64_t{sectors} * kSectorBytes);
    if (chunk >= kWritebackLagChunks) {
      out.WaitWriteback(chunkOffset - uint64_t{kWritebackLagChunks} * kChunkBytes, kChunkBytes);
    }
  }
  return StreamResult::kWritten;
}
