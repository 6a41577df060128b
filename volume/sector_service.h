// The rules of a mounted volume's disk, in one place for every host that
// serves one (the Linux mount and the stand-in driver): which requests are
// served, which sectors a request touches, and how partial sectors are read,
// patched and written back. Freestanding like the body cipher: no
// allocation, no OS calls; the host reaches the encrypted body through a
// SectorStore.
#pragma once
#include <stdint.h>

#include "volume/body_cipher.h"

// The disk that a mounted volume body makes.
struct SectorDisk {
  uint64_t bodySize;  // bytes, a whole number of sectors (SectorBodySizeValid)
  bool readOnly;
};

// A body can be served when it holds at least one sector and whole sectors
// only.
bool SectorBodySizeValid(uint64_t bodySize);

enum class SectorAlignment {
  kAnyBytes,      // a file's view: any offset and length
  kWholeSectors,  // a disk device's view: requests are sector aligned
};

enum class SectorVerdict {
  kServe,      // serve the plan (an empty plan serves nothing)
  kUnaligned,  // a disk device's request that is not sector aligned
  kReadOnly,   // a write to a read-only disk
  kEndOfBody,  // a read that starts at the end of the body or beyond
  kNoRoom,     // a write that does not fit in the body: refused as a whole
};

// Which bytes a request reaches, split at sector boundaries: a partial
// first sector, whole sectors, a partial last sector (each may be empty).
struct SectorPlan {
  uint64_t offset;       // first byte in the body
  uint32_t length;       // bytes served; a read is cut at the end of the body
  uint64_t firstSector;  // the first sector touched
  uint32_t headOffset;   // where the request starts in the first sector
  uint32_t headLength;   // bytes of a partial first sector, 0 when it is whole
  uint32_t wholeCount;   // whole sectors after the partial first sector
  uint32_t tailLength;   // bytes of a partial last sector, from its start
};

// Checks a request in this order: alignment, read-only, an empty request
// (served, touching nothing), the body's end. On kServe, `plan` says what to
// serve.
SectorVerdict PlanSectorRequest(const SectorDisk& disk, uint64_t offset, uint32_t length,
                                bool write, SectorAlignment alignment, SectorPlan* plan);

// Whether serving the write reads sectors back first (its partial sectors):
// such a write must not run beside another write to the same sectors.
inline bool PlanPatchesSectors(const SectorPlan& plan) {
  return plan.headLength != 0 || plan.tailLength != 0;
}

// The encrypted body as the host reaches it. Each call moves exactly
// `length` bytes at body offset `offset` and answers 0, or a nonzero error
// of the host's own (an errno, an NTSTATUS), which the serving functions
// pass back unchanged.
struct SectorStore {
  void* context;
  int32_t (*read)(void* context, uint64_t offset, uint8_t* data, uint32_t length);
  int32_t (*write)(void* context, uint64_t offset, const uint8_t* data, uint32_t length);
};

// Reads the plan's bytes into `data` (plan.length bytes): whole sectors
// straight into it, decrypted in place; partial ones through a sector of
// its own, wiped afterwards. Answers 0 or the store's first error.
int32_t ServeSectorRead(const SectorPlan& plan, const BodyCipher* cipher, const SectorStore& store,
                        uint8_t* data);

// Writes the plan's bytes from `data` (plan.length bytes). Partial sectors
// are read, decrypted, patched, encrypted and written back. The whole
// sectors are encrypted in place in `data` when `scratch` is null (the
// caller's buffer then holds ciphertext), else piece by piece in `scratch`
// (scratchSize bytes, a multiple of the sector size), leaving `data` as it
// was. Answers 0 or the store's first error; a failed write may have
// written part of the plan.
int32_t ServeSectorWrite(const SectorPlan& plan, const BodyCipher* cipher, const SectorStore& store,
                         uint8_t* data, uint8_t* scratch, uint32_t scratchSize);
