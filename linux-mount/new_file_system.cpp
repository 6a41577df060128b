// `create --filesystem`: the file system is made by Debian's mkfs tool in
// memory, before the volume exists, and its written sectors are encrypted
// into the new body, whose other sectors already read as zeros.
#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <vector>

#include "cli/volume_info.h"
#include "crypto/wipe.h"
#include "linux-mount/file_systems.h"
#include "linux-mount/mount.h"
#include "volume/body_cipher.h"

namespace {

constexpr uint32_t kChunk = 1024 * 1024;
constexpr uint32_t kSector = 512;

int Fail(const CliStreams& io, const std::string& message) {
  fprintf(io.err, "velmorcrypt-cli: %s\n", message.c_str());
  return kExitFailure;
}

bool AllZero(const uint8_t* data, uint32_t size) {
  for (uint32_t i = 0; i < size; ++i) {
    if (data[i] != 0) return false;
  }
  return true;
}

// Encrypts and writes the sectors of `data` (read from the image at
// `offset`) that are not zeros: a new body reads as zeros already.
bool WriteSectors(File& volume, const BodyCipher& cipher, uint64_t offset, uint8_t* data,
                  uint32_t size) {
  uint32_t start = 0;
  while (start < size) {
    while (start < size && AllZero(data + start, kSector)) start += kSector;
    uint32_t end = start;
    while (end < size && !AllZero(data + end, kSector)) end += kSector;
    if (end > start) {
      BodyCipherEncrypt(&cipher, data + start, (offset + start) / kSector, (end - start) / kSector);
      if (!volume.WriteAt(offset + start, data + start, end - start)) return false;
    }
    start = end;
  }
  return true;
}

}  // namespace

int PrepareNewFileSystem(NewFileSystem type, uint64_t bodySize, const CliStreams& io) {
  std::string error;
  const int image = MakeFileSystemImage(type, bodySize, &error);
  if (image < 0) Fail(io, error);
  return image;
}

void DiscardNewFileSystem(int prepared) { close(prepared); }

int WriteNewFileSystem(int prepared, FileSystem& fileSystem, const std::string& volumePath,
                       const std::string& headerPath, const std::string& password,
                       const CliStreams& io) {
  VolumeInfo info;
  HeaderBuffer header;
  const Outcome opened = OpenVolumeHeader(fileSystem, volumePath, headerPath, password,
                                          OpenMode::kReadWrite, &info, &header);
  std::unique_ptr<File> volume =
      opened.success ? fileSystem.Open(volumePath, OpenMode::kReadWrite) : nullptr;
  if (volume == nullptr) {
    close(prepared);
    return Fail(io, "the new volume could not be opened to write its file system");
  }
  BodyCipher cipher;
  BodyCipherInit(&cipher, info.algorithm, header.bytes + kSectorKeyOffset,
                 header.bytes + kSectorIvSeedOffset);
  std::vector<uint8_t> chunk(kChunk);
  bool written = true;
  // Only the extents the tool wrote: the rest of the image is a hole.
  off_t data = 0;
  while (written && (data = lseek(prepared, data, SEEK_DATA)) >= 0 &&
         static_cast<uint64_t>(data) < info.bodySize) {
    const off_t hole = lseek(prepared, data, SEEK_HOLE);
    for (off_t at = data - data % kSector; written && at < hole; at += kChunk) {
      const uint32_t size = static_cast<uint32_t>(std::min<off_t>(kChunk, hole - at + kSector - 1) /
                                                  kSector * kSector);
      written = pread(prepared, chunk.data(), size, at) == static_cast<ssize_t>(size) &&
                WriteSectors(*volume, cipher, static_cast<uint64_t>(at), chunk.data(), size);
    }
    data = hole;
  }
  written = written && volume->Flush();
  SecureWipe(chunk.data(), chunk.size());
  BodyCipherWipe(&cipher);
  close(prepared);
  return written ? kExitSuccess
                 : Fail(io, std::string("writing the new file system failed: ") + strerror(errno));
}
