// An in-memory FileSystem for the engine targets: files are byte strings
// keyed by their path exactly as given, the disk holds a fixed number of
// bytes, and the calls that the input chooses fail. Every call is logged
// with its result, so that a target can tell which failures an engine saw.
#pragma once
#include <stdint.h>
#include <string.h>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/file.h"

class MemoryFileSystem : public FileSystem {
 public:
  struct Call {
    std::string name;  // "open", "read", "write", "size", "set-size", "flush"
    bool ok;
  };

  // `failMask` bit i fails the i-th logged call (counted from 0).
  MemoryFileSystem(uint64_t capacity, uint64_t failMask)
      : capacity_(capacity), failMask_(failMask) {}

  std::map<std::string, std::string> files;
  // Files that open only for reading.
  std::set<std::string> readOnly;
  // What FreeSpace answers; std::nullopt: the query fails.
  std::optional<uint64_t> freeSpace;
  std::vector<std::string> freeSpaceAsked;
  std::vector<Call> log;

  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
    if (!Pass("open") || path.empty()) return nullptr;
    if (mode != OpenMode::kRead && readOnly.count(path) == 1) return nullptr;
    auto found = files.find(path);
    if (mode == OpenMode::kCreateExclusive && found != files.end()) return nullptr;
    if (mode == OpenMode::kCreateReadWrite || mode == OpenMode::kCreateExclusive) {
      found = files.insert_or_assign(path, std::string()).first;
    } else if (found == files.end()) {
      return nullptr;
    }
    ++openHandles_[path];
    const bool writable = !ReadsOnly(mode);
    return std::make_unique<MemoryFile>(this, path, &found->second, writable);
  }

  // As on Windows, a file that is still open cannot be removed.
  bool Remove(const std::string& path) override {
    if (openHandles_[path] > 0) return false;
    return files.erase(path) == 1;
  }

  bool Exists(const std::string& path) override { return files.count(path) == 1; }

  bool FreeSpace(const std::string& path, uint64_t* bytes) override {
    freeSpaceAsked.push_back(path);
    if (!freeSpace) return false;
    *bytes = *freeSpace;
    return true;
  }

  bool AnyCallFailed() const {
    for (const Call& call : log) {
      if (!call.ok) return true;
    }
    return false;
  }

  bool AnyFailed(const std::string& name) const {
    for (const Call& call : log) {
      if (call.name == name && !call.ok) return true;
    }
    return false;
  }

  int Count(const std::string& name) const {
    int count = 0;
    for (const Call& call : log) count += call.name == name;
    return count;
  }

 private:
  class MemoryFile : public File {
   public:
    MemoryFile(MemoryFileSystem* owner, std::string path, std::string* bytes, bool writable)
        : owner_(owner), path_(std::move(path)), bytes_(bytes), writable_(writable) {}
    ~MemoryFile() override { --owner_->openHandles_[path_]; }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    // A short read delivers what there is and fails.
    bool ReadAt(uint64_t offset, void* data, uint32_t size) override {
      if (!owner_->Pass("read")) return false;
      const uint64_t available = offset < bytes_->size() ? bytes_->size() - offset : 0;
      const uint32_t copied = available < size ? static_cast<uint32_t>(available) : size;
      if (copied > 0) memcpy(data, bytes_->data() + offset, copied);
      return copied == size || owner_->Fail();
    }

    // A failing write, and one that fills the disk, write part of their
    // bytes; a failing one the whole 512-byte sectors of its first half, as
    // a disk that loses power in the middle of a write does.
    bool WriteAt(uint64_t offset, const void* data, uint32_t size) override {
      const bool passed = owner_->Pass("write");
      if (!writable_) return owner_->Fail();
      const uint64_t limit = MaximumSize();
      const uint64_t cut = (offset + size / 2) / 512 * 512;
      uint64_t written = passed ? size : cut > offset ? cut - offset : 0;
      if (offset >= limit) {
        written = 0;
      } else if (written > limit - offset) {
        written = limit - offset;
      }
      if (written > 0) {
        if (bytes_->size() < offset + written) bytes_->resize(offset + written);
        memcpy(bytes_->data() + offset, data, written);
      }
      return written == size || owner_->Fail();
    }

    bool Size(uint64_t* size) override {
      if (!owner_->Pass("size")) return false;
      *size = bytes_->size();
      return true;
    }

    bool SetSize(uint64_t size) override {
      if (!owner_->Pass("set-size")) return false;
      if (!writable_ || size > MaximumSize()) return owner_->Fail();
      bytes_->resize(size);
      return true;
    }

    bool Flush() override { return owner_->Pass("flush"); }

   private:
    // The size up to which this file can grow before the disk is full.
    uint64_t MaximumSize() const { return bytes_->size() + owner_->FreeBytes(); }

    MemoryFileSystem* owner_;
    std::string path_;
    std::string* bytes_;
    bool writable_;
  };

  // Logs a call; false when the input chose it to fail.
  bool Pass(const char* name) {
    const size_t index = log.size();
    const bool ok = index >= 64 || (failMask_ >> index & 1) == 0;
    log.push_back({name, ok});
    return ok;
  }

  // Marks the logged call as failed (a short read, a full disk) and returns
  // false.
  bool Fail() {
    log.back().ok = false;
    return false;
  }

  uint64_t FreeBytes() const {
    uint64_t used = 0;
    for (const auto& file : files) used += file.second.size();
    return capacity_ > used ? capacity_ - used : 0;
  }

  uint64_t capacity_;
  uint64_t failMask_;
  std::map<std::string, int> openHandles_;
};
