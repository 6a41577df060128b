// Who may use a mounted volume. The disk driver takes the caller of every
// mount, dismount and query from the caller's token (never from the
// request's logonSessionId field) and decides here; plain data, so tests
// can choose the sessions. Freestanding: the driver compiles it too.
#pragma once
#include <stdint.h>

// The caller of a request, as its token tells.
struct VolumeCaller {
  uint64_t logonSession;  // the token's authentication identifier
  bool administrator;     // the Administrators group is enabled in the token
};

// A volume belongs to the logon session that mounted it. Its owner uses it;
// an administrator uses any volume (the Status page lists them all); nobody
// else.
bool MayUseVolume(const VolumeCaller& caller, uint64_t ownerSession);

// What a dismount of one drive letter takes away, given the owners of the
// volumes mounted on that letter.
enum class DismountChoice {
  kNothing,  // no volume is mounted on the letter
  kOwn,      // the volumes of the caller's own session
  kOthers,   // an administrator with none of its own there: every volume on the letter
  kRefused,  // there are volumes on the letter, none the caller may use
};
DismountChoice ChooseDismount(const VolumeCaller& caller, const uint64_t* owners, int count);
