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

  // The allocation size reserves clusters without moving the end of file.
  bool Reserve(uint64_t offset, uint64_t size) override {
    FILE_ALLOCATION_INFO allocation = {};
    allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(offset + size);
    if (SetFileInformationByHandle(handle_, FileAllocationInfo, &allocation, sizeof allocation)) {
      return true;
    }
    // A file system that cannot reserve (Wine's among them) leaves it to the writes.
    const DWORD error = GetLastError();
    return error != ERROR_DISK_FULL && error != ERROR_HANDLE_DISK_FULL;
  }

  bool State(FileState* state) override {
    FILETIME written;
    if (!Size(&state->size) || !GetFileTime(handle_, nullptr, nullptr, &written)) return false;
    state->modified =
        static_cast<int64_t>((uint64_t{written.dwHighDateTime} << 32) | written.dwLowDateTime);
    return true;
  }

 private:
  HANDLE handle_;
};

// The volume serial number and file index of the file at `path`, which
// together name one file whatever path leads to it.
bool IdentityOf(const std::string& path, BY_HANDLE_FILE_INFORMATION* identity) {
  const HANDLE handle =
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool known = GetFileInformationByHandle(handle, identity) != 0;
  CloseHandle(handle);
  return known;
}

class Win32FileSystem final : public FileSystem {
 public:
  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    DWORD disposition = OPEN_EXISTING;
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    switch (mode) {
      case OpenMode::kRead:
        access = GENERIC_READ;
        break;
      case OpenMode::kReadStreaming:
        access = GENERIC_READ;
        flags |= FILE_FLAG_SEQUENTIAL_SCAN;
        break;
      case OpenMode::kReadNoFollow:
        access = GENERIC_READ;
        flags |= FILE_FLAG_OPEN_REPARSE_POINT;
        break;
      case OpenMode::kReadWrite:
        break;
      case OpenMode::kReadWriteNoFollow:
        flags |= FILE_FLAG_OPEN_REPARSE_POINT;
        break;
      case OpenMode::kCreateReadWrite:
        // Replacing removes the name first (a symbolic link itself, never
        // its target); a file that cannot be removed then fails the create.
        DeleteFileA(path.c_str());
        disposition = CREATE_NEW;
        break;
      case OpenMode::kCreateExclusive:
        disposition = CREATE_NEW;
        break;
    }
    HANDLE handle =
        CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    if (mode == OpenMode::kReadNoFollow || mode == OpenMode::kReadWriteNoFollow) {
      // Opened as itself, a link is a reparse point and not a file to read.
      BY_HANDLE_FILE_INFORMATION information;
      if (!GetFileInformationByHandle(handle, &information) ||
          (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        CloseHandle(handle);
        return nullptr;
      }
    }
    return std::make_unique<Win32File>(handle);
  }

  // NTFS logs a name's creation and removal in its journal: there is no
  // folder to flush.
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

  // A symbolic link's own attributes answer for it, dangling or not.
  bool Exists(const std::string& path) override {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  bool SameFile(const std::string& a, const std::string& b) override {
    BY_HANDLE_FILE_INFORMATION first, second;
    return SamePath(a, b) || (IdentityOf(a, &first) && IdentityOf(b, &second) &&
                              first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
                              first.nFileIndexHigh == second.nFileIndexHigh &&
                              first.nFileIndexLow == second.nFileIndexLow);
  }
};

}  // namespace

FileSystem& SystemFileSystem() {
  static Win32FileSystem fileSystem;
  return fileSystem;
}
