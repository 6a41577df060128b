#include "volume/create_volume.h"

#include <string.h>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "crypto/cpu_features.h"
#include "crypto/sectors.h"
#include "crypto/wipe.h"
#include "platform/path.h"
#include "volume/body_cipher.h"
#include "volume/header.h"

namespace {

constexpr char kErrorCaption[] = "Create Error";
constexpr char kSuccessCaption[] = "Create";
constexpr char kErrorCreatingVolume[] = "Error creating Velmorcrypt volume.";
constexpr char kErrorCreatingHeaderBlock[] = "Error creating external header block.";
constexpr char kErrorWriting[] = "Error writing Velmorcrypt volume.";
constexpr char kHeaderIsVolume[] =
    "The external header block cannot be the Velmorcrypt volume file itself.";
constexpr uint32_t kSectorsPerMegabyte = kMegabyte / kSectorSize;

CreateVolumeOutcome Fail(std::string message) {
  return {Outcome::Failure(std::move(message), kErrorCaption), std::string(), false};
}

// The secrets of one creation, wiped however it ends.
struct CreationSecrets {
  uint8_t header[kHeaderSize];
  uint8_t password[kMaxPasswordLength];
  uint8_t sectorKey[kBodyKeySize];
  uint8_t sectorIvSeed[kBodyKeySize];
  BodyCipher cipher;

  CreationSecrets() = default;
  CreationSecrets(const CreationSecrets&) = delete;
  CreationSecrets& operator=(const CreationSecrets&) = delete;
  ~CreationSecrets() {
    BodyCipherWipe(&cipher);
    SecureWipe(header, sizeof header);
    SecureWipe(password, sizeof password);
    SecureWipe(sectorKey, sizeof sectorKey);
    SecureWipe(sectorIvSeed, sizeof sectorIvSeed);
  }
};

// The files a creation has made; removed again unless the creation keeps
// them, so that a failure never leaves a file that looks like a volume.
// Declared before the files' handles, so that they are closed first.
class CreatedFiles {
 public:
  explicit CreatedFiles(FileSystem& fileSystem) : fileSystem_(fileSystem) {}
  CreatedFiles(const CreatedFiles&) = delete;
  CreatedFiles& operator=(const CreatedFiles&) = delete;
  ~CreatedFiles() {
    for (const std::string& path : paths_) fileSystem_.Remove(path);
  }
  void Add(const std::string& path) { paths_.push_back(path); }
  void Keep() { paths_.clear(); }

 private:
  FileSystem& fileSystem_;
  std::vector<std::string> paths_;
};

enum class BodyResult { kWritten, kWriteFailed, kCancelled, kNoResources };

// The body is made by a small pipeline: encryption threads fill a fixed ring
// of chunk buffers while the calling thread writes the chunks in order, one
// megabyte per write. The disk does not wait for the cipher, and the memory
// used is the same whatever the volume's size.
constexpr uint32_t kChunkMegabytes = 4;
constexpr uint32_t kMaxEncryptionThreads = 4;
// Each written chunk is sent on to the disk at once, and the writer waits for
// the chunk written this many chunks before: the disk works while the body is
// encrypted instead of during the final flush, and no more than these chunks
// wait in memory to be written.
constexpr uint32_t kWritebackLagChunks = 8;

class BodyRing {
 public:
  BodyRing(const BodyCipher& cipher, uint32_t sizeMb, uint32_t threadCount)
      : cipher_(cipher),
        sizeMb_(sizeMb),
        chunkCount_((sizeMb + kChunkMegabytes - 1) / kChunkMegabytes),
        // Every thread can hold a chunk while the writer writes another and
        // one more waits ready.
        slots_(std::min(threadCount + 2, chunkCount_)),
        buffers_(new (std::nothrow) uint8_t[size_t{slots_} * kChunkMegabytes * kMegabyte]),
        ready_(slots_, 0) {}
  BodyRing(const BodyRing&) = delete;
  BodyRing& operator=(const BodyRing&) = delete;

  bool Allocated() const { return buffers_ != nullptr; }
  uint32_t ChunkCount() const { return chunkCount_; }
  uint32_t MegabytesIn(uint32_t chunk) const {
    return std::min(kChunkMegabytes, sizeMb_ - chunk * kChunkMegabytes);
  }

  // An encryption thread's loop: take the next chunk, wait until its slot
  // is free, fill it.
  void Encrypt() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_ && nextChunk_ < chunkCount_) {
      const uint32_t chunk = nextChunk_++;
      changed_.wait(lock, [&] { return stop_ || chunk < writtenChunks_ + slots_; });
      if (stop_) return;
      lock.unlock();
      uint8_t* buffer = Slot(chunk);
      const uint32_t megabytes = MegabytesIn(chunk);
      memset(buffer, 0, size_t{megabytes} * kMegabyte);
      BodyCipherEncrypt(&cipher_, buffer, uint64_t{chunk} * kChunkMegabytes * kSectorsPerMegabyte,
                        megabytes * kSectorsPerMegabyte);
      lock.lock();
      ready_[chunk % slots_] = chunk + 1;
      changed_.notify_all();
    }
  }

  // The writer's side: waits until `chunk` is encrypted and returns it.
  const uint8_t* WaitReady(uint32_t chunk) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return ready_[chunk % slots_] == chunk + 1; });
    return Slot(chunk);
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
  uint8_t* Slot(uint32_t chunk) {
    return buffers_.get() + size_t{chunk % slots_} * kChunkMegabytes * kMegabyte;
  }

  const BodyCipher& cipher_;
  const uint32_t sizeMb_;
  const uint32_t chunkCount_;
  const uint32_t slots_;
  std::unique_ptr<uint8_t[]> buffers_;
  std::mutex mutex_;
  std::condition_variable changed_;
  uint32_t nextChunk_ = 0;
  uint32_t writtenChunks_ = 0;
  std::vector<uint32_t> ready_;  // per slot: 1 + the chunk it holds ready, or 0
  bool stop_ = false;
};

// The encryption threads, stopped and joined however the writing ends.
class EncryptionThreads {
 public:
  explicit EncryptionThreads(BodyRing& ring) : ring_(ring) {}
  EncryptionThreads(const EncryptionThreads&) = delete;
  EncryptionThreads& operator=(const EncryptionThreads&) = delete;
  ~EncryptionThreads() {
    ring_.Stop();
    for (std::thread& thread : threads_) thread.join();
  }
  // Starts up to `count` threads; returns how many started.
  size_t Start(uint32_t count) {
    try {
      threads_.reserve(count);
      for (uint32_t i = 0; i < count; ++i) threads_.emplace_back(&BodyRing::Encrypt, &ring_);
    } catch (const std::exception&) {
      // Fewer threads only make it slower.
    }
    return threads_.size();
  }

 private:
  BodyRing& ring_;
  std::vector<std::thread> threads_;
};

uint64_t ChunkOffset(uint32_t chunk) { return uint64_t{chunk} * kChunkMegabytes * kMegabyte; }

// Writes the N megabytes of the body from offset 0, one megabyte per write:
// sector s holds the encryption of 512 zero bytes under sector number s.
// `cancel` is polled before each megabyte, `progress` called after it.
BodyResult WriteBody(File& file, const BodyCipher& cipher, uint32_t sizeMb,
                     const CreateProgress& progress, const std::atomic<bool>* cancel) {
  const uint32_t threadCount = EncryptionThreadCount(cipher.algorithm);
  BodyRing ring(cipher, sizeMb, threadCount);
  if (!ring.Allocated()) return BodyResult::kNoResources;
  EncryptionThreads threads(ring);
  if (threads.Start(std::min(threadCount, ring.ChunkCount())) == 0) {
    return BodyResult::kNoResources;
  }

  if (progress) progress(0, sizeMb);
  uint32_t megabyte = 0;
  for (uint32_t chunk = 0; chunk < ring.ChunkCount(); ++chunk) {
    const uint8_t* buffer = ring.WaitReady(chunk);
    for (uint32_t i = 0; i < ring.MegabytesIn(chunk); ++i, ++megabyte) {
      if (cancel != nullptr && cancel->load()) return BodyResult::kCancelled;
      if (!file.WriteAt(uint64_t{megabyte} * kMegabyte, buffer + size_t{i} * kMegabyte,
                        kMegabyte)) {
        return BodyResult::kWriteFailed;
      }
      if (progress) progress(megabyte + 1, sizeMb);
    }
    ring.Release(chunk);
    file.StartWriteback(ChunkOffset(chunk), uint64_t{ring.MegabytesIn(chunk)} * kMegabyte);
    if (chunk >= kWritebackLagChunks) {
      file.WaitWriteback(ChunkOffset(chunk - kWritebackLagChunks),
                         uint64_t{kChunkMegabytes} * kMegabyte);
    }
  }
  return BodyResult::kWritten;
}

}  // namespace

// AES with AES-NI outruns any disk on one core; the other ciphers are spread
// over the processor's cores.
uint32_t EncryptionThreadCount(int algorithm) {
  if (AlgorithmIsAes(algorithm) && UseAesNi()) return 1;
  const uint32_t cores = std::thread::hardware_concurrency();
  return std::clamp(cores, 1u, kMaxEncryptionThreads);
}

bool ParseVolumeSize(std::string_view text, uint32_t* sizeMb) {
  *sizeMb = 0;
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i == text.size()) return false;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    if (value > UINT32_MAX) return false;
  }
  *sizeMb = static_cast<uint32_t>(value);
  return true;
}

CreateVolumeOutcome CreateVolume(FileSystem& fileSystem, const CreateVolumeInput& input,
                                 const CreateProgress& progress, const std::atomic<bool>* cancel) {
  if (input.volumePath.empty()) {
    return Fail("Please specify Velmorcrypt volume file to create.");
  }
  // Asked before the size is checked, used after. When the free space cannot
  // be told, the comparison is skipped and a full disk shows as a write error.
  uint64_t freeBytes = 0;
  const bool freeSpaceKnown = fileSystem.FreeSpace(input.volumePath, &freeBytes);
  if (input.sizeMb == 0 || input.sizeMb > kMaxVolumeSizeMb) {
    return Fail("Volume size must be from 1 to 999999 MB");
  }
  if (freeSpaceKnown && input.sizeMb > freeBytes / kMegabyte) {
    return Fail("Volume size is too large for the specified drive.");
  }
  if (input.password.empty() || input.confirmation.empty()) {
    return Fail("Please specify volume password.");
  }
  if (!input.passwordRefusal.empty()) return Fail(input.passwordRefusal);
  if (input.password != input.confirmation) return Fail("Passwords do not match.");
  if (input.password.size() > kMaxPasswordLength) {
    return Fail("Passwords cannot be longer than " + std::to_string(kMaxPasswordLength) +
                " characters.");
  }
  if (AlgorithmName(input.algorithm) == nullptr) return Fail("Unknown encryption algorithm.");
  // The header block written first would be truncated by the volume file.
  if (!input.headerPath.empty() && fileSystem.SameFile(input.headerPath, input.volumePath)) {
    return Fail(kHeaderIsVolume);
  }

  // The header is sealed before any file exists, so that no body is ever
  // written without it.
  CreationSecrets secrets;
  const auto passwordLength = static_cast<uint32_t>(input.password.size());
  memcpy(secrets.password, input.password.data(), passwordLength);
  if (!SealHeader(secrets.header, secrets.password, passwordLength, input.algorithm,
                  secrets.sectorKey, secrets.sectorIvSeed) ||
      !BodyCipherInit(&secrets.cipher, input.algorithm, secrets.sectorKey, secrets.sectorIvSeed)) {
    return Fail(kErrorCreatingVolume);
  }
  const bool externalHeader = !input.headerPath.empty();
  const uint64_t bodySize = uint64_t{input.sizeMb} * kMegabyte;
  const OpenMode createMode =
      input.replaceExisting ? OpenMode::kCreateReadWrite : OpenMode::kCreateExclusive;
  CreatedFiles created(fileSystem);
  if (externalHeader) {
    std::unique_ptr<File> headerFile = fileSystem.Open(input.headerPath, createMode);
    if (!headerFile) return Fail(kErrorCreatingHeaderBlock);
    created.Add(input.headerPath);
    // Now that the header block exists, a volume path that leads to it by
    // another spelling or a link is seen too.
    if (fileSystem.SameFile(input.headerPath, input.volumePath)) return Fail(kHeaderIsVolume);
    if (!headerFile->WriteAt(0, secrets.header, kHeaderSize) || !headerFile->SetSize(kHeaderSize) ||
        !headerFile->Flush()) {
      return Fail(kErrorWriting);
    }
  }
  std::unique_ptr<File> volumeFile = fileSystem.Open(input.volumePath, createMode);
  if (!volumeFile) return Fail(kErrorCreatingVolume);
  created.Add(input.volumePath);
  switch (WriteBody(*volumeFile, secrets.cipher, input.sizeMb, progress, cancel)) {
    case BodyResult::kWritten:
      break;
    case BodyResult::kWriteFailed:
      return Fail(kErrorWriting);
    case BodyResult::kNoResources:
      return Fail(kErrorCreatingVolume);
    case BodyResult::kCancelled: {
      CreateVolumeOutcome cancelled = Fail("Volume creation cancelled.");
      cancelled.cancelled = true;
      return cancelled;
    }
  }
  const uint64_t fileSize = externalHeader ? bodySize : bodySize + kHeaderSize;
  if ((!externalHeader && !volumeFile->WriteAt(bodySize, secrets.header, kHeaderSize)) ||
      !volumeFile->SetSize(fileSize) || !volumeFile->Flush()) {
    return Fail(kErrorWriting);
  }
  volumeFile.reset();
  created.Keep();
  return {Outcome::Success("Velmorcrypt volume successfully created.", kSuccessCaption),
          FolderOfPath(input.volumePath), false};
}
