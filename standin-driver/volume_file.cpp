#include "standin-driver/volume_file.h"

#include <string.h>

#include "standin-driver/request_log.h"
#include "volume/header.h"
#include "volume/sector_service.h"

namespace {

constexpr ULONG kPoolTag = 'V' | ('m' << 8) | ('F' << 16) | ('l' << 24);  // "VmFl"
constexpr ULONG kBodySector = 512;
constexpr ULONG kMaxSectorSize = 64 * 1024;
static_assert(kTransferSize % kMaxSectorSize == 0, "transfers of whole host sectors");

// FILE_FS_SECTOR_SIZE_INFORMATION, which mingw-w64's kernel headers lack.
struct SectorSizeInformation {
  ULONG logicalBytesPerSector;
  ULONG physicalBytesPerSectorForAtomicity;
  ULONG physicalBytesPerSectorForPerformance;
  ULONG fileSystemEffectivePhysicalBytesPerSectorForAtomicity;
  ULONG flags;
  ULONG byteOffsetForSectorAlignment;
  ULONG byteOffsetForPartitionAlignment;
};

// A file whose data the host must decompress, allocate, decrypt or fetch
// while it serves the volume (FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS is
// missing from mingw-w64's headers).
constexpr ULONG kRecallOnDataAccess = 0x00400000;
constexpr ULONG kRefusedAttributes = FILE_ATTRIBUTE_COMPRESSED | FILE_ATTRIBUTE_SPARSE_FILE |
                                     FILE_ATTRIBUTE_ENCRYPTED | FILE_ATTRIBUTE_OFFLINE |
                                     kRecallOnDataAccess;

// Unbuffered, so that the host's cache neither holds every block a second
// time nor throttles the writes that serve the volume's own paging I/O; and
// write-through, so that a write is on the disk when it completes.
constexpr ULONG kOpenOptions = FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE |
                               FILE_RANDOM_ACCESS | FILE_NO_INTERMEDIATE_BUFFERING |
                               FILE_WRITE_THROUGH;

// Whatever answers at the other end of the name may identify the driver,
// never act as it, and sees only the identity of the moment it is opened.
constexpr SECURITY_QUALITY_OF_SERVICE kQuality = {
    sizeof(SECURITY_QUALITY_OF_SERVICE), SecurityIdentification, SECURITY_STATIC_TRACKING, TRUE};

ULONG AlignUp(ULONG value, ULONG alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

ULONG Smaller(ULONG a, ULONG b) { return a < b ? a : b; }

bool Aligned(const VolumeFile* file, uint64_t offset, const void* buffer, ULONG length) {
  const ULONG size = file->sectorSize;
  return offset % size == 0 && length % size == 0 &&
         reinterpret_cast<ULONG_PTR>(buffer) % size == 0;
}

// One transfer of whole host sectors from an aligned buffer, which is all
// an unbuffered file takes; anything else is refused here, as the disk
// would refuse it.
NTSTATUS Move(VolumeFile* file, bool write, uint64_t offset, uint8_t* buffer, ULONG length) {
  if (!Aligned(file, offset, buffer, length)) return STATUS_DATATYPE_MISALIGNMENT;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  IO_STATUS_BLOCK io;
  NTSTATUS status =
      write
          ? ZwWriteFile(file->handle, nullptr, nullptr, nullptr, &io, buffer, length, &at, nullptr)
          : ZwReadFile(file->handle, nullptr, nullptr, nullptr, &io, buffer, length, &at, nullptr);
  if (!NT_SUCCESS(status)) return status;
  return io.Information == length ? STATUS_SUCCESS : STATUS_IO_DEVICE_ERROR;
}

// Only a file on a disk file system, with its data where a read finds it.
NTSTATUS CheckFileKind(HANDLE handle) {
  IO_STATUS_BLOCK io;
  FILE_FS_DEVICE_INFORMATION device;
  NTSTATUS status =
      ZwQueryVolumeInformationFile(handle, &io, &device, sizeof device, FileFsDeviceInformation);
  if (!NT_SUCCESS(status)) return status;
  if (device.DeviceType != FILE_DEVICE_DISK && device.DeviceType != FILE_DEVICE_DISK_FILE_SYSTEM) {
    return STATUS_NOT_SUPPORTED;
  }
  FILE_BASIC_INFORMATION basic;
  status = ZwQueryInformationFile(handle, &io, &basic, sizeof basic, FileBasicInformation);
  if (!NT_SUCCESS(status)) return status;
  return (TakeChosenFileAttributes(basic.FileAttributes) & kRefusedAttributes) != 0
             ? STATUS_NOT_SUPPORTED
             : STATUS_SUCCESS;
}

// The host disk's logical sector size, which unbuffered transfers keep to:
// FileFsSectorSizeInformation, else (older systems, Wine) the size that
// FileFsSizeInformation reports. A file system reporting less than 512
// bytes (a network share may say 0) is taken as 512.
NTSTATUS ReadSectorSize(HANDLE handle, ULONG* size) {
  IO_STATUS_BLOCK io;
  SectorSizeInformation sectors;
  ULONG reported;
  if (NT_SUCCESS(ZwQueryVolumeInformationFile(handle, &io, &sectors, sizeof sectors,
                                              FileFsSectorSizeInformation))) {
    reported = sectors.logicalBytesPerSector;
  } else {
    FILE_FS_SIZE_INFORMATION sizes;
    NTSTATUS status =
        ZwQueryVolumeInformationFile(handle, &io, &sizes, sizeof sizes, FileFsSizeInformation);
    if (!NT_SUCCESS(status)) return status;
    reported = sizes.BytesPerSector;
  }
  reported = TakeChosenSectorSize(reported < kBodySector ? kBodySector : reported);
  if (reported > kMaxSectorSize || (reported & (reported - 1)) != 0)
    return STATUS_INVALID_PARAMETER;
  *size = reported;
  return STATUS_SUCCESS;
}

// The body: the whole file, or all but the header at its end. Its last host
// sector must lie within the file, since an unbuffered write of it would
// otherwise lengthen the file (and move the header's place at its end).
NTSTATUS ReadBodySize(VolumeFile* file, bool headerInFile) {
  IO_STATUS_BLOCK io;
  FILE_STANDARD_INFORMATION info;
  NTSTATUS status =
      ZwQueryInformationFile(file->handle, &io, &info, sizeof info, FileStandardInformation);
  if (!NT_SUCCESS(status)) return status;
  const auto fileSize = static_cast<uint64_t>(info.EndOfFile.QuadPart);
  const uint64_t headerBytes = headerInFile ? kHeaderSize : 0;
  file->bodySize = fileSize > headerBytes ? fileSize - headerBytes : 0;
  const uint64_t lastSectorEnd =
      (file->bodySize + file->sectorSize - 1) / file->sectorSize * file->sectorSize;
  return SectorBodySizeValid(file->bodySize) && lastSectorEnd <= fileSize
             ? STATUS_SUCCESS
             : STATUS_INVALID_PARAMETER;
}

NTSTATUS Open(const VolumeControlRecord* request, KPROCESSOR_MODE requestorMode, HANDLE* handle) {
  WCHAR pathBuffer[VD_TARGET_PATH_SIZE];
  UNICODE_STRING path = {0, sizeof pathBuffer, pathBuffer};
  ANSI_STRING ansiPath;
  RtlInitAnsiString(&ansiPath, request->targetPath);
  NTSTATUS status = RtlAnsiStringToUnicodeString(&path, &ansiPath, FALSE);
  if (!NT_SUCCESS(status)) return status;

  OBJECT_ATTRIBUTES attributes;
  ULONG flags = OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE |
                (requestorMode == UserMode ? OBJ_FORCE_ACCESS_CHECK : 0);
  InitializeObjectAttributes(&attributes, &path, flags, nullptr, nullptr);
  attributes.SecurityQualityOfService = const_cast<SECURITY_QUALITY_OF_SERVICE*>(&kQuality);
  ACCESS_MASK access = SYNCHRONIZE | GENERIC_READ | (request->readOnly ? 0 : GENERIC_WRITE);
  IO_STATUS_BLOCK io;
  status = ZwCreateFile(handle, access, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                        FILE_SHARE_READ, FILE_OPEN, kOpenOptions, nullptr, 0);
  return status == STATUS_FILE_IS_A_DIRECTORY ? STATUS_NOT_SUPPORTED : status;
}

}  // namespace

NTSTATUS OpenVolumeFile(const VolumeControlRecord* request, KPROCESSOR_MODE requestorMode,
                        VolumeFile* file) {
  memset(file, 0, sizeof *file);
  file->deviceNumber = -1;
  file->readOnly = request->readOnly == 1;
  NTSTATUS status = Open(request, requestorMode, &file->handle);
  if (!NT_SUCCESS(status)) {
    LogFileOpen(status, kOpenOptions, 0, 0, kQuality);
    return status;
  }
  status = CheckFileKind(file->handle);
  if (NT_SUCCESS(status)) status = ReadSectorSize(file->handle, &file->sectorSize);
  if (NT_SUCCESS(status)) {
    status = ReadBodySize(file, request->headerPlacement == VD_HEADER_IN_VOLUME_FILE);
  }
  if (NT_SUCCESS(status)) {
    file->bounce = AllocateTransferBuffer(file->sectorSize);
    if (file->bounce == nullptr) status = STATUS_INSUFFICIENT_RESOURCES;
  }
  ULONG mode = 0;
  IO_STATUS_BLOCK io;
  ZwQueryInformationFile(file->handle, &io, &mode, sizeof mode, FileModeInformation);
  LogFileOpen(status, kOpenOptions, mode, file->sectorSize, kQuality);
  if (!NT_SUCCESS(status)) ZwClose(file->handle);
  return status;
}

int32_t ReadVolumeFile(void* context, uint64_t offset, uint8_t* data, uint32_t length) {
  auto* file = static_cast<VolumeFile*>(context);
  if (Aligned(file, offset, data, length)) return Move(file, false, offset, data, length);
  const ULONG size = file->sectorSize;
  while (length > 0) {
    const uint64_t start = offset / size * size;
    const auto skip = static_cast<ULONG>(offset - start);
    const ULONG span = Smaller(kTransferSize, AlignUp(skip + length, size));
    NTSTATUS status = Move(file, false, start, file->bounce, span);
    if (!NT_SUCCESS(status)) return status;
    const ULONG taken = Smaller(span - skip, length);
    memcpy(data, file->bounce + skip, taken);
    offset += taken;
    data += taken;
    length -= taken;
  }
  return STATUS_SUCCESS;
}

int32_t WriteVolumeFile(void* context, uint64_t offset, const uint8_t* data, uint32_t length) {
  auto* file = static_cast<VolumeFile*>(context);
  if (Aligned(file, offset, data, length)) {
    return Move(file, true, offset, const_cast<uint8_t*>(data), length);
  }
  const ULONG size = file->sectorSize;
  while (length > 0) {
    const uint64_t start = offset / size * size;
    const auto skip = static_cast<ULONG>(offset - start);
    const ULONG span = Smaller(kTransferSize, AlignUp(skip + length, size));
    const ULONG given = Smaller(span - skip, length);
    // The host sectors at either end that the data covers only in part keep
    // the bytes around it: they are read first.
    NTSTATUS status = STATUS_SUCCESS;
    if (skip != 0) status = Move(file, false, start, file->bounce, size);
    const bool partialEnd = (skip + given) % size != 0;
    if (NT_SUCCESS(status) && partialEnd && (span > size || skip == 0)) {
      status = Move(file, false, start + span - size, file->bounce + span - size, size);
    }
    if (!NT_SUCCESS(status)) return status;
    memcpy(file->bounce + skip, data, given);
    status = Move(file, true, start, file->bounce, span);
    if (!NT_SUCCESS(status)) return status;
    offset += given;
    data += given;
    length -= given;
  }
  return STATUS_SUCCESS;
}

NTSTATUS FlushVolumeFile(VolumeFile* file) {
  if (file->readOnly) return STATUS_SUCCESS;
  IO_STATUS_BLOCK io;
  NTSTATUS status = ZwFlushBuffersFile(file->handle, &io);
  LogFileOperation(file->deviceNumber, IRP_MJ_FLUSH_BUFFERS, status);
  return status;
}

void CloseVolumeFile(VolumeFile* file) {
  FlushVolumeFile(file);
  LogFileOperation(file->deviceNumber, IRP_MJ_CLOSE, ZwClose(file->handle));
  file->handle = nullptr;
  FreeTransferBuffer(file->bounce);
  file->bounce = nullptr;
}

uint8_t* AllocateTransferBuffer(ULONG alignment) {
  // The allocation's own address goes just before the aligned bytes.
  const ULONG extra = alignment + sizeof(void*);
  auto* allocation =
      static_cast<uint8_t*>(ExAllocatePoolWithTag(kDriverPool, kTransferSize + extra, kPoolTag));
  if (allocation == nullptr) return nullptr;
  const ULONG_PTR first = reinterpret_cast<ULONG_PTR>(allocation) + sizeof(void*);
  auto* aligned = reinterpret_cast<uint8_t*>((first + alignment - 1) / alignment * alignment);
  memcpy(aligned - sizeof(void*), &allocation, sizeof(void*));
  return aligned;
}

void FreeTransferBuffer(uint8_t* buffer) {
  if (buffer == nullptr) return;
  void* allocation;
  memcpy(&allocation, buffer - sizeof(void*), sizeof(void*));
  ExFreePoolWithTag(allocation, kPoolTag);
}
