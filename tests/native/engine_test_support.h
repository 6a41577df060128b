// Support for the tests of the volume engines and the command-line tool: a
// private temporary folder, whole-file reads and writes, and a file system
// that fails the calls a test chooses.
#pragma once
#include <gtest/gtest.h>
#include <stdint.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/file.h"

// A fresh folder under the platform's temporary folder, named after the
// running test and the process (two checkouts may run the same test at
// once), removed with everything in it at the end.
class TempFolder {
 public:
  TempFolder() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            (std::string("vm-") + test->test_suite_name() + "-" + test->name() + "-" +
             std::to_string(getpid()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The full path of `name` in the folder, in the platform's own form.
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  // The folder itself, ending in the platform's separator.
  std::string Folder() const { return (path_ / "").string(); }
  // The names of the files in the folder, sorted.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::filesystem::path path_;
};

inline std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  const std::streamoff size = in.tellg();
  if (!in || size < 0) return {};
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

// Every file of a folder with its bytes, by path.
inline std::map<std::string, std::vector<uint8_t>> FilesIn(const std::string& folder) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    files[entry.path().string()] = ReadWholeFile(entry.path().string());
  }
  return files;
}

inline void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// How much of a write at `offset` a disk has put down when it stops within
// its first `length` bytes: disks write whole 512-byte sectors, in order, so
// a write cut short leaves the sectors before the cut.
inline uint32_t WholeSectorsWithin(uint64_t offset, uint32_t length) {
  const uint64_t end = (offset + length) / 512 * 512;
  return end > offset ? static_cast<uint32_t>(end - offset) : 0;
}

// Passes every call to the platform's own file system and fails the calls a
// test chooses, to play a full disk, a lost network share or a folder that
// cannot be written.

class FaultyFileSystem : public FileSystem {
 public:
  // Every call on an open file, in order: "read", "write", "size",
  // "set-size", "flush".
  std::vector<std::string> log;
  // The index in `log` of the call that fails; -1 for none.
  int failAt = -1;
  // The failing write first writes the whole sectors of its first half, as
  // a disk that fills up part-way does.
  bool shortWrite = false;
  // Opening this path fails.
  std::string failOpen;
  // Opening this path for writing fails, as a read-only file's open does.
  std::string readOnly;
  // The free space reported; std::nullopt: the query fails.
  std::optional<uint64_t> freeSpace = UINT64_MAX;
  std::vector<std::string> freeSpaceAsked;
  std::vector<std::string> removed;

  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
    if (path == failOpen) return nullptr;
    if (path == readOnly && !ReadsOnly(mode)) {
      return nullptr;
    }
    std::unique_ptr<File> file = SystemFileSystem().Open(path, mode);
    if (!file) return nullptr;
    return std::make_unique<FaultyFile>(this, std::move(file));
  }

  bool Remove(const std::string& path) override {
    removed.push_back(path);
    return SystemFileSystem().Remove(path);
  }

  bool SameFile(const std::string& a, const std::string& b) override {
    return SystemFileSystem().SameFile(a, b);
  }

  bool Exists(const std::string& path) override { return SystemFileSystem().Exists(path); }

  bool FreeSpace(const std::string& path, uint64_t* bytes) override {
    freeSpaceAsked.push_back(path);
    if (!freeSpace) return false;
    *bytes = *freeSpace;
    return true;
  }

  std::mutex mutex_;

  int Count(const std::string& call) const {
    int count = 0;
    for (const std::string& entry : log) count += entry == call;
    return count;
  }

 private:
  class FaultyFile : public File {
   public:
    FaultyFile(FaultyFileSystem* owner, std::unique_ptr<File> inner)
        : owner_(owner), inner_(std::move(inner)) {}

    bool ReadAt(uint64_t offset, void* data, uint32_t size) override {
      return Pass("read") && inner_->ReadAt(offset, data, size);
    }
    bool WriteAt(uint64_t offset, const void* data, uint32_t size) override {
      if (Pass("write")) return inner_->WriteAt(offset, data, size);
      const uint32_t written = WholeSectorsWithin(offset, size / 2);
      if (owner_->shortWrite && written > 0) inner_->WriteAt(offset, data, written);
      return false;
    }
    bool Size(uint64_t* size) override { return Pass("size") && inner_->Size(size); }
    bool SetSize(uint64_t size) override { return Pass("set-size") && inner_->SetSize(size); }
    bool Flush() override { return Pass("flush") && inner_->Flush(); }
    bool Reserve(uint64_t offset, uint64_t size) override {
      return Pass("reserve") && inner_->Reserve(offset, size);
    }
    bool TryLock(bool exclusive) override { return inner_->TryLock(exclusive); }
    bool State(FileState* state) override { return Pass("state") && inner_->State(state); }

   private:
    // Logs the call (threads that fill a body read at once); false when it
    // is the one to fail.
    bool Pass(const char* call) {
      std::lock_guard<std::mutex> lock(owner_->mutex_);
      owner_->log.push_back(call);
      return static_cast<int>(owner_->log.size()) - 1 != owner_->failAt;
    }

    FaultyFileSystem* owner_;
    std::unique_ptr<File> inner_;
  };
};

// How much of the write that the kill interrupts reaches the disk: none of
// it, its sectors up to the first or the second sector boundary, or all of
// it (the process died before the write returned).
constexpr uint32_t kCuts[] = {0, 512, 1024, UINT32_MAX};

// The platform's file system until its `dieAt`-th operation (counted from
// 0 over opens, reads, writes, sizes, flushes and removals); that one and
// every later one fail, as if the process had been killed there. The
// interrupted write may have put its first sectors on the disk.
class DyingFileSystem : public FileSystem {
 public:
  int dieAt = -1;  // -1: never
  uint32_t cut = 0;
  int operations = 0;
  bool wroteOnDeath = false;  // the killing operation was a write

  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
    if (!Alive()) return nullptr;
    std::unique_ptr<File> file = SystemFileSystem().Open(path, mode);
    if (!file) return nullptr;
    return std::make_unique<DyingFile>(*this, std::move(file));
  }
  bool Remove(const std::string& path) override {
    return Alive() && SystemFileSystem().Remove(path);
  }
  bool FreeSpace(const std::string& path, uint64_t* bytes) override {
    return Alive() && SystemFileSystem().FreeSpace(path, bytes);
  }
  bool Exists(const std::string& path) override {
    return Alive() && SystemFileSystem().Exists(path);
  }
  bool SameFile(const std::string& a, const std::string& b) override {
    return SystemFileSystem().SameFile(a, b);
  }

 private:
  // The number of the next operation; whether the file system still lives
  // at it.
  int Next() {
    std::lock_guard<std::mutex> lock(mutex_);
    return operations++;
  }
  bool Alive() {
    const int number = Next();
    return dieAt < 0 || number < dieAt;
  }
  std::mutex mutex_;

  class DyingFile : public File {
   public:
    DyingFile(DyingFileSystem& owner, std::unique_ptr<File> inner)
        : owner_(owner), inner_(std::move(inner)) {}
    bool ReadAt(uint64_t offset, void* data, uint32_t size) override {
      return owner_.Alive() && inner_->ReadAt(offset, data, size);
    }
    bool WriteAt(uint64_t offset, const void* data, uint32_t size) override {
      const int number = owner_.Next();
      if (owner_.dieAt < 0 || number < owner_.dieAt) return inner_->WriteAt(offset, data, size);
      if (number == owner_.dieAt) {
        owner_.wroteOnDeath = true;
        const uint32_t written = WholeSectorsWithin(offset, owner_.cut < size ? owner_.cut : size);
        if (written > 0) inner_->WriteAt(offset, data, written);
      }
      return false;
    }
    bool Size(uint64_t* size) override { return owner_.Alive() && inner_->Size(size); }
    bool SetSize(uint64_t size) override { return owner_.Alive() && inner_->SetSize(size); }
    bool Flush() override { return owner_.Alive() && inner_->Flush(); }
    bool Reserve(uint64_t offset, uint64_t size) override {
      return owner_.Alive() && inner_->Reserve(offset, size);
    }
    bool TryLock(bool exclusive) override { return inner_->TryLock(exclusive); }
    bool State(FileState* state) override { return owner_.Alive() && inner_->State(state); }

   private:
    DyingFileSystem& owner_;
    std::unique_ptr<File> inner_;
  };
};
