// The file interface over Win32 handles. Offsets always travel in an
// OVERLAPPED, also on synchronous handles: that is correct everywhere and
// the only way that works on device handles under Wine.
#include <windows.h>

#include "platform/file.h"
#include "platform/path.h"

namespace {

OVERLAPPED AtOffset(uint64_t offset) {
  OVERLAPPED overlapped = {};
  overlapped.Offset = static_cast<DWORD>(offset);
  overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return overlapped;
}

class Win32File final : public File {
 public:
  explicit Win32File(HANDLE handle) : handle_(handle) {}
  ~Win32File() override { CloseHandle(handle_); }
  Win32File(const Win32File&) = delete;
  Win32File& operator=(const Win32File&) = delete;

  bool ReadAt(uint64_t offset, void* data, uint32_t size) override {
    auto* bytes = static_cast<uint8_t*>(data);
    while (size > 0) {
      OVERLAPPED overlapped = AtOffset(offset);
      DWORD got = 0;
      if (!ReadFile(handle_, bytes, size, &got, &overlapped) || got == 0) return false;
      bytes += got;
      offset += got;
      size -= got;
    }
    return true;
  }

  bool WriteAt(uint64_t offset, const void* data, uint32_t size) override {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
      OVERLAPPED overlapped = AtOffset(offset);
      DWORD put = 0;
      if (!WriteFile(handle_, bytes, size, &put, &overlapped) || put == 0) return false;
      bytes += put;
      offset += put;
      size -= put;
    }
    return true;
  }

  bool Size(uint64_t* size) override {
    LARGE_INTEGER value;
    if (!GetFileSizeEx(handle_, &value)) return false;
    *size = static_cast<uint64_t>(value.QuadPart);
    return true;
  }

  bool SetSize(uint64_t size) override {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(handle_, position, nullptr, FILE_BEGIN) && SetEndOfFile(handle_);
  }

  bool Flush() override { return FlushFileBuffers(handle_) != 0; }

 private:
  HANDLE handle_;
};

class Win32FileSystem final : public FileSystem {
 public:
  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    DWORD disposition = OPEN_EXISTING;
    if (mode == OpenMode::kRead) access = GENERIC_READ;
    if (mode == OpenMode::kCreateReadWrite) disposition = CREATE_ALWAYS;
    HANDLE handle = CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32File>(handle);
  }

  bool Remove(const std::string& path) override { return DeleteFileA(path.c_str()) != 0; }

  // Asks about the folder, not the first three characters of the path, so
  // that UNC paths and mounted folders are measured where the file will be.
  bool FreeSpace(const std::string& path, uint64_t* bytes) override {
    const std::string folder = FolderOfPath(path);
    ULARGE_INTEGER freeToCaller;
    if (!GetDiskFreeSpaceExA(folder.empty() ? nullptr : folder.c_str(), &freeToCaller, nullptr,
                             nullptr)) {
      return false;
    }
    *bytes = freeToCaller.QuadPart;
    return true;
  }
};

}  // namespace

FileSystem& SystemFileSystem() {
  static Win32FileSystem fileSystem;
  return fileSystem;
}
