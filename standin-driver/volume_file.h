// A mounted volume's file on the host: opened unbuffered and write-through
// with the caller's rights, refused unless it is an ordinary file on a
// disk, and reached only in whole host sectors from aligned buffers.
#pragma once
#include "driver/protocol.h"
#include "standin-driver/kernel.h"

// The most the driver moves to or from the file in one call, and the size of
// each of a volume's two transfer buffers.
constexpr ULONG kTransferSize = 256 * 1024;

struct VolumeFile {
  HANDLE handle;
  uint64_t bodySize;  // a whole number of 512-byte sectors
  ULONG sectorSize;   // the host disk's: every transfer keeps to it
  uint8_t* bounce;    // kTransferSize bytes: partial host sectors, unaligned buffers
  bool readOnly;
  int8_t deviceNumber;  // of the volume's device, for the test log
};

// Opens the volume file that `request` names, for reading only on a
// read-only mount, keeping writers out. For a request from user mode the
// system checks the caller's access as if the caller opened it, and a
// server at the other end of the name (a pipe) could only identify the
// driver, never act as it. Refused with STATUS_NOT_SUPPORTED: anything but a
// file on a disk (a pipe, a device, a directory), and a compressed, sparse,
// encrypted or offline file, whose I/O would need the host to decompress,
// allocate, decrypt or fetch data while it serves the volume's own paging
// I/O. Refused with STATUS_INVALID_PARAMETER: a body that is not a whole
// number of 512-byte sectors, or whose last host sector would reach past
// the end of the file.
NTSTATUS OpenVolumeFile(const VolumeControlRecord* request, KPROCESSOR_MODE requestorMode,
                        VolumeFile* file);

// The body as the sector service reaches it (SectorStore): whole 512-byte
// sectors at body offsets, answering 0 or an NTSTATUS. A transfer that does
// not cover whole host sectors from an aligned buffer goes through the
// bounce buffer, partial host sectors read first.
int32_t ReadVolumeFile(void* file, uint64_t offset, uint8_t* data, uint32_t length);
int32_t WriteVolumeFile(void* file, uint64_t offset, const uint8_t* data, uint32_t length);

// Writes what the host still holds of the file (its metadata, and data a
// write-through handle may still hold on the way) to its disk; nothing for
// a read-only mount.
NTSTATUS FlushVolumeFile(VolumeFile* file);

// Flushes the file (unless it is read-only), closes it and frees the bounce
// buffer.
void CloseVolumeFile(VolumeFile* file);

// A buffer for transfers: kTransferSize bytes of non-paged memory, aligned
// to `alignment` (a host sector size).
uint8_t* AllocateTransferBuffer(ULONG alignment);
void FreeTransferBuffer(uint8_t* buffer);
