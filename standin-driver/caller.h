// Who makes a request, from the token of the thread that made it, and the
// security descriptors of the driver's devices.
#pragma once
#include "driver/volume_owner.h"
#include "standin-driver/kernel.h"

// Room for any SID: 8 bytes and at most 15 sub-authorities.
constexpr ULONG kMaxSidSize = 8 + 15 * sizeof(ULONG);

struct CallerSid {
  alignas(ULONG) UCHAR bytes[kMaxSidSize];
};

// The caller of a request: its logon session, whether it is an
// administrator, its user's SID and its process. `status` says why the
// caller could not be taken when it is not a success: a token below
// SecurityImpersonation level gives STATUS_BAD_IMPERSONATION_LEVEL, since
// its thread may identify its client but never act as it.
struct CallerIdentity {
  NTSTATUS status;
  VolumeCaller caller;
  CallerSid sid;
  HANDLE processId;
};

void InitCallers();

// IRP_MJ_CREATE on one of the driver's devices: reads who opens the handle
// (the thread that issued the open, its impersonation token else its
// process's) and keeps it with the file object, so that every later request
// on the handle is that caller's, whichever thread a file system or filter
// hands it on. Fails only when there is no memory to keep it.
NTSTATUS NoteOpener(PIRP irp, PIO_STACK_LOCATION stack);
// IRP_MJ_CLEANUP: the handle is closed (its file object may live on).
void NoteCleanup(PFILE_OBJECT file);
// IRP_MJ_CLOSE: the file object goes.
void ForgetOpener(PFILE_OBJECT file);
// The device goes: the handles opened on it are no longer counted (Wine
// sends no close for a deleted device, and a new device may take its
// place in memory).
void ForgetOpeners(PDEVICE_OBJECT device);

// Who makes a request: the opener of its file object when the file object
// was opened on one of the driver's devices; otherwise (a file system's own
// handle, passed down by the file system mounted on a volume) the thread
// that issued the request, which the system notes in it when it is built,
// never the thread that happens to serve it.
void IdentifyRequest(PIRP irp, PIO_STACK_LOCATION stack, CallerIdentity* identity);

// How many handles opened directly on `device` by processes other than
// `processId` are still open.
int OpenElsewhere(PDEVICE_OBJECT device, HANDLE processId);

// The SID of Authenticated Users, whom the control device lets in: the
// driver checks each of its requests itself.
const CallerSid& AuthenticatedUsersSid();

// Gives `device` its own DACL: SYSTEM and Administrators full access, `user`
// read and write, nobody else anything.
NTSTATUS ProtectDevice(PDEVICE_OBJECT device, const CallerSid& user);
