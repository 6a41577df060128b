// The caller of a request, from its token, and the security descriptors of
// the driver's devices.
#pragma once
#include "driver/volume_owner.h"
#include "standin-driver/kernel.h"

// Room for any SID: 8 bytes and at most 15 sub-authorities.
constexpr ULONG kMaxSidSize = 8 + 15 * sizeof(ULONG);

struct CallerSid {
  alignas(ULONG) UCHAR bytes[kMaxSidSize];
};

// The caller of the request served in the current thread: its logon session,
// whether it is an administrator and, for `sid` not null, its user's SID. A
// request from user mode to a device at the top of its stack arrives in the
// caller's own thread: the thread's impersonation token is read, else its
// process's primary token. In the test variant of the driver a test may
// choose the session and the rights instead.
NTSTATUS IdentifyCaller(VolumeCaller* caller, CallerSid* sid);

// The SID of Authenticated Users, whom the control device lets in: the
// driver checks each of its requests itself.
const CallerSid& AuthenticatedUsersSid();

// Gives `device` its own DACL: SYSTEM and Administrators full access, `user`
// read and write, nobody else anything.
NTSTATUS ProtectDevice(PDEVICE_OBJECT device, const CallerSid& user);
