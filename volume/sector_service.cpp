#include "volume/sector_service.h"

#include <string.h>

#include "crypto/sectors.h"
#include "crypto/wipe.h"

bool SectorBodySizeValid(uint64_t bodySize) { return bodySize != 0 && bodySize % kSectorSize == 0; }

SectorVerdict PlanSectorRequest(const SectorDisk& disk, uint64_t offset, uint32_t length,
                                bool write, SectorAlignment alignment, SectorPlan* plan) {
  memset(plan, 0, sizeof *plan);
  if (alignment == SectorAlignment::kWholeSectors &&
      (offset % kSectorSize != 0 || length % kSectorSize != 0)) {
    return SectorVerdict::kUnaligned;
  }
  if (write && disk.readOnly) return SectorVerdict::kReadOnly;
  if (length == 0) return SectorVerdict::kServe;
  if (offset >= disk.bodySize) return write ? SectorVerdict::kNoRoom : SectorVerdict::kEndOfBody;
  if (length > disk.bodySize - offset) {
    if (write) return SectorVerdict::kNoRoom;
    length = static_cast<uint32_t>(disk.bodySize - offset);
  }
  plan->offset = offset;
  plan->length = length;
  plan->firstSector = offset / kSectorSize;
  plan->headOffset = static_cast<uint32_t>(offset % kSectorSize);
  if (plan->headOffset != 0 || length < kSectorSize) {
    const uint32_t room = kSectorSize - plan->headOffset;
    plan->headLength = length < room ? length : room;
  }
  const uint32_t rest = length - plan->headLength;
  plan->wholeCount = rest / kSectorSize;
  plan->tailLength = rest % kSectorSize;
  return SectorVerdict::kServe;
}

namespace {

// Where the plan's whole sectors start, in the body and in the caller's data.
uint64_t WholeSector(const SectorPlan& plan) {
  return plan.firstSector + (plan.headLength != 0 ? 1 : 0);
}

uint64_t TailSector(const SectorPlan& plan) { return WholeSector(plan) + plan.wholeCount; }

// Reads one sector and decrypts it into `sector`.
int32_t ReadSector(const BodyCipher* cipher, const SectorStore& store, uint64_t number,
                   uint8_t* sector) {
  int32_t error = store.read(store.context, number * kSectorSize, sector, kSectorSize);
  if (error == 0) BodyCipherDecrypt(cipher, sector, number, 1);
  return error;
}

int32_t ReadPartialSector(const BodyCipher* cipher, const SectorStore& store, uint64_t number,
                          uint32_t at, uint32_t length, uint8_t* data) {
  uint8_t sector[kSectorSize];
  int32_t error = ReadSector(cipher, store, number, sector);
  if (error == 0) memcpy(data, sector + at, length);
  SecureWipe(sector, sizeof sector);
  return error;
}

int32_t PatchSector(const BodyCipher* cipher, const SectorStore& store, uint64_t number,
                    uint32_t at, uint32_t length, const uint8_t* data) {
  uint8_t sector[kSectorSize];
  int32_t error = ReadSector(cipher, store, number, sector);
  if (error == 0) {
    memcpy(sector + at, data, length);
    BodyCipherEncrypt(cipher, sector, number, 1);
    error = store.write(store.context, number * kSectorSize, sector, kSectorSize);
  }
  SecureWipe(sector, sizeof sector);
  return error;
}

}  // namespace

int32_t ServeSectorRead(const SectorPlan& plan, const BodyCipher* cipher, const SectorStore& store,
                        uint8_t* data) {
  int32_t error = 0;
  if (plan.headLength != 0) {
    error =
        ReadPartialSector(cipher, store, plan.firstSector, plan.headOffset, plan.headLength, data);
  }
  uint8_t* whole = data + plan.headLength;
  if (error == 0 && plan.wholeCount != 0) {
    error = store.read(store.context, WholeSector(plan) * kSectorSize, whole,
                       plan.wholeCount * kSectorSize);
    if (error == 0) BodyCipherDecrypt(cipher, whole, WholeSector(plan), plan.wholeCount);
  }
  if (error == 0 && plan.tailLength != 0) {
    error = ReadPartialSector(cipher, store, TailSector(plan), 0, plan.tailLength,
                              whole + plan.wholeCount * kSectorSize);
  }
  return error;
}

int32_t ServeSectorWrite(const SectorPlan& plan, const BodyCipher* cipher, const SectorStore& store,
                         uint8_t* data, uint8_t* scratch, uint32_t scratchSize) {
  int32_t error = 0;
  if (plan.headLength != 0) {
    error = PatchSector(cipher, store, plan.firstSector, plan.headOffset, plan.headLength, data);
  }
  uint8_t* whole = data + plan.headLength;
  const uint64_t first = WholeSector(plan);
  if (scratch == nullptr) {
    if (error == 0 && plan.wholeCount != 0) {
      BodyCipherEncrypt(cipher, whole, first, plan.wholeCount);
      error = store.write(store.context, first * kSectorSize, whole, plan.wholeCount * kSectorSize);
    }
  } else {
    const uint32_t piece = scratchSize / kSectorSize;
    for (uint32_t done = 0; error == 0 && done < plan.wholeCount;) {
      const uint32_t count = plan.wholeCount - done < piece ? plan.wholeCount - done : piece;
      memcpy(scratch, whole + done * kSectorSize, count * kSectorSize);
      BodyCipherEncrypt(cipher, scratch, first + done, count);
      error =
          store.write(store.context, (first + done) * kSectorSize, scratch, count * kSectorSize);
      done += count;
    }
  }
  if (error == 0 && plan.tailLength != 0) {
    error = PatchSector(cipher, store, TailSector(plan), 0, plan.tailLength,
                        whole + plan.wholeCount * kSectorSize);
  }
  return error;
}
