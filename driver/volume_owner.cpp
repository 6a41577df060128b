#include "driver/volume_owner.h"

bool MayUseVolume(const VolumeCaller& caller, uint64_t ownerSession) {
  return caller.administrator || caller.logonSession == ownerSession;
}

DismountChoice ChooseDismount(const VolumeCaller& caller, const uint64_t* owners, int count) {
  if (count == 0) return DismountChoice::kNothing;
  for (int i = 0; i < count; ++i) {
    if (owners[i] == caller.logonSession) return DismountChoice::kOwn;
  }
  return caller.administrator ? DismountChoice::kOthers : DismountChoice::kRefused;
}
