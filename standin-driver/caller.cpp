#include "standin-driver/caller.h"

#include <string.h>

#include "standin-driver/request_log.h"

namespace {

constexpr ULONG kPoolTag = 'V' | ('m' << 8) | ('T' << 16) | ('k' << 24);  // "VmTk"

// Access to query a thread and a process (winnt.h's, which the kernel
// headers lack).
constexpr ACCESS_MASK kThreadQueryInformation = 0x0040;
constexpr ACCESS_MASK kProcessQueryInformation = 0x0400;

// Attributes of a token's group (winnt.h's SE_GROUP_*, which the kernel
// headers lack).
constexpr ULONG kGroupEnabled = 0x00000004;
constexpr ULONG kGroupUseForDenyOnly = 0x00000010;

// A SID of the NT authority with one or two sub-authorities. Built at
// compile time: a driver runs no static constructors.
constexpr CallerSid NtAuthoritySid(ULONG first, ULONG second, UCHAR count) {
  CallerSid sid = {};
  sid.bytes[0] = SID_REVISION;
  sid.bytes[1] = count;
  sid.bytes[7] = 5;  // SECURITY_NT_AUTHORITY, big-endian
  for (int i = 0; i < 4; ++i) {
    sid.bytes[8 + i] = static_cast<UCHAR>(first >> (8 * i));
    sid.bytes[12 + i] = static_cast<UCHAR>(second >> (8 * i));
  }
  return sid;
}

constexpr CallerSid kSystemSid = NtAuthoritySid(SECURITY_LOCAL_SYSTEM_RID, 0, 1);
constexpr CallerSid kAdministratorsSid =
    NtAuthoritySid(SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 2);
constexpr CallerSid kAuthenticatedUsersSid = NtAuthoritySid(SECURITY_AUTHENTICATED_USER_RID, 0, 1);

PSID AsSid(const CallerSid& sid) { return const_cast<UCHAR*>(sid.bytes); }

// A thread that impersonates below SecurityImpersonation level may only
// identify its client, never act as it: its requests are refused rather
// than taken as the client's or as the thread's process's.
NTSTATUS CheckImpersonationLevel(HANDLE token) {
  SECURITY_IMPERSONATION_LEVEL level;
  ULONG size = 0;
  NTSTATUS status =
      ZwQueryInformationToken(token, TokenImpersonationLevel, &level, sizeof level, &size);
  if (!NT_SUCCESS(status)) return status;
  return level >= SecurityImpersonation ? STATUS_SUCCESS : STATUS_BAD_IMPERSONATION_LEVEL;
}

// The token a thread acts with: its impersonation token, else its
// process's primary token. `thread` and `process` are handles of the
// thread that issued the request and of its process.
NTSTATUS OpenCallerToken(HANDLE thread, HANDLE process, HANDLE* token) {
  NTSTATUS status = ZwOpenThreadTokenEx(thread, TOKEN_QUERY, TRUE, OBJ_KERNEL_HANDLE, token);
  if (status == STATUS_NO_TOKEN) {
    return ZwOpenProcessTokenEx(process, TOKEN_QUERY, OBJ_KERNEL_HANDLE, token);
  }
  // An anonymous token cannot even be opened.
  if (status == STATUS_CANT_OPEN_ANONYMOUS) return STATUS_BAD_IMPERSONATION_LEVEL;
  if (!NT_SUCCESS(status)) return status;
  status = CheckImpersonationLevel(*token);
  if (!NT_SUCCESS(status)) ZwClose(*token);
  return status;
}

// The token of the thread that issued `irp` (the system notes it in the
// request when it builds it), opened by the thread's and its process's ids.
NTSTATUS OpenRequestorToken(PIRP irp, HANDLE* token, HANDLE* processId) {
  PETHREAD requestor = irp->Tail.Overlay.Thread;
  CLIENT_ID client;
  client.UniqueProcess =
      requestor != nullptr ? PsGetThreadProcessId(requestor) : PsGetCurrentProcessId();
  client.UniqueThread = requestor != nullptr ? PsGetThreadId(requestor) : PsGetCurrentThreadId();
  *processId = client.UniqueProcess;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, nullptr, OBJ_KERNEL_HANDLE, nullptr, nullptr);
  HANDLE thread;
  NTSTATUS status = ZwOpenThread(&thread, kThreadQueryInformation, &attributes, &client);
  if (!NT_SUCCESS(status)) return status;
  HANDLE process;
  status = ZwOpenProcess(&process, kProcessQueryInformation, &attributes, &client);
  if (NT_SUCCESS(status)) {
    status = OpenCallerToken(thread, process, token);
    ZwClose(process);
  }
  ZwClose(thread);
  return status;
}

// True when the Administrators group is in the token and enabled (a
// filtered token of an administrator holds it for deny only).
NTSTATUS IsAdministrator(HANDLE token, bool* administrator) {
  ULONG size = 0;
  NTSTATUS status = ZwQueryInformationToken(token, TokenGroups, nullptr, 0, &size);
  if (status != STATUS_BUFFER_TOO_SMALL) return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
  auto* groups = static_cast<TOKEN_GROUPS*>(ExAllocatePoolWithTag(kDriverPool, size, kPoolTag));
  if (groups == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  status = ZwQueryInformationToken(token, TokenGroups, groups, size, &size);
  *administrator = false;
  for (ULONG i = 0; NT_SUCCESS(status) && i < groups->GroupCount; ++i) {
    const SID_AND_ATTRIBUTES& group = groups->Groups[i];
    if ((group.Attributes & kGroupEnabled) != 0 && (group.Attributes & kGroupUseForDenyOnly) == 0 &&
        RtlEqualSid(group.Sid, AsSid(kAdministratorsSid))) {
      *administrator = true;
    }
  }
  ExFreePoolWithTag(groups, kPoolTag);
  return status;
}

NTSTATUS ReadUserSid(HANDLE token, CallerSid* sid) {
  union {
    TOKEN_USER user;
    UCHAR bytes[sizeof(TOKEN_USER) + kMaxSidSize];
  } buffer;
  ULONG size = 0;
  NTSTATUS status = ZwQueryInformationToken(token, TokenUser, &buffer, sizeof buffer, &size);
  if (!NT_SUCCESS(status)) return status;
  ULONG length = RtlLengthSid(buffer.user.User.Sid);
  if (length > sizeof sid->bytes) return STATUS_INVALID_SID;
  memcpy(sid->bytes, buffer.user.User.Sid, length);
  return STATUS_SUCCESS;
}

void IdentifyCaller(PIRP irp, CallerIdentity* identity) {
  HANDLE token;
  identity->status = OpenRequestorToken(irp, &token, &identity->processId);
  if (!NT_SUCCESS(identity->status)) return;
  TOKEN_STATISTICS statistics;
  ULONG size = 0;
  NTSTATUS status =
      ZwQueryInformationToken(token, TokenStatistics, &statistics, sizeof statistics, &size);
  if (NT_SUCCESS(status)) {
    identity->caller.logonSession =
        (static_cast<uint64_t>(static_cast<uint32_t>(statistics.AuthenticationId.HighPart)) << 32) |
        statistics.AuthenticationId.LowPart;
    status = IsAdministrator(token, &identity->caller.administrator);
  }
  if (NT_SUCCESS(status)) status = ReadUserSid(token, &identity->sid);
  ZwClose(token);
  if (NT_SUCCESS(status)) TakeChosenCaller(&identity->caller);
  identity->status = status;
}

// The handles opened on the driver's devices, each with who opened it.
struct Opener {
  LIST_ENTRY link;
  PFILE_OBJECT file;
  PDEVICE_OBJECT device;
  bool open;  // no clean-up yet: a handle to it is open
  CallerIdentity identity;
};

SpinLock gOpenersLock;  // guards gOpeners
LIST_ENTRY gOpeners;

// Called with gOpenersLock held.
Opener* FindOpener(PFILE_OBJECT file) {
  for (LIST_ENTRY* entry = gOpeners.Flink; entry != &gOpeners; entry = entry->Flink) {
    Opener* opener = CONTAINING_RECORD(entry, Opener, link);
    if (opener->file == file) return opener;
  }
  return nullptr;
}

}  // namespace

void InitCallers() {
  gOpenersLock.Init();
  InitializeListHead(&gOpeners);
}

NTSTATUS NoteOpener(PIRP irp, PIO_STACK_LOCATION stack) {
  if (stack->FileObject == nullptr) return STATUS_SUCCESS;
  auto* opener = static_cast<Opener*>(ExAllocatePoolWithTag(kDriverPool, sizeof(Opener), kPoolTag));
  if (opener == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  opener->file = stack->FileObject;
  opener->device = stack->DeviceObject;
  opener->open = true;
  IdentifyCaller(irp, &opener->identity);
  // A file object that is opened again was closed without a word (Wine
  // sends no close for a deleted device): its old opener goes.
  Opener* stale;
  {
    SpinHolder hold(&gOpenersLock);
    stale = FindOpener(stack->FileObject);
    if (stale != nullptr) RemoveEntryList(&stale->link);
    InsertTailList(&gOpeners, &opener->link);
  }
  if (stale != nullptr) ExFreePoolWithTag(stale, kPoolTag);
  return STATUS_SUCCESS;
}

void NoteCleanup(PFILE_OBJECT file) {
  SpinHolder hold(&gOpenersLock);
  if (Opener* opener = FindOpener(file)) opener->open = false;
}

void ForgetOpener(PFILE_OBJECT file) {
  Opener* opener;
  {
    SpinHolder hold(&gOpenersLock);
    opener = FindOpener(file);
    if (opener != nullptr) RemoveEntryList(&opener->link);
  }
  if (opener != nullptr) ExFreePoolWithTag(opener, kPoolTag);
}

void ForgetOpeners(PDEVICE_OBJECT device) {
  LIST_ENTRY gone;
  InitializeListHead(&gone);
  {
    SpinHolder hold(&gOpenersLock);
    for (LIST_ENTRY* entry = gOpeners.Flink; entry != &gOpeners;) {
      Opener* opener = CONTAINING_RECORD(entry, Opener, link);
      entry = entry->Flink;
      if (opener->device != device) continue;
      RemoveEntryList(&opener->link);
      InsertTailList(&gone, &opener->link);
    }
  }
  while (!IsListEmpty(&gone)) {
    ExFreePoolWithTag(CONTAINING_RECORD(RemoveHeadList(&gone), Opener, link), kPoolTag);
  }
}

void IdentifyRequest(PIRP irp, PIO_STACK_LOCATION stack, CallerIdentity* identity) {
  {
    SpinHolder hold(&gOpenersLock);
    if (Opener* opener = FindOpener(stack->FileObject)) {
      *identity = opener->identity;
      return;
    }
  }
  IdentifyCaller(irp, identity);
}

int OpenElsewhere(PDEVICE_OBJECT device, HANDLE processId) {
  SpinHolder hold(&gOpenersLock);
  int count = 0;
  for (LIST_ENTRY* entry = gOpeners.Flink; entry != &gOpeners; entry = entry->Flink) {
    const Opener* opener = CONTAINING_RECORD(entry, Opener, link);
    if (opener->device == device && opener->open && opener->identity.processId != processId) {
      ++count;
    }
  }
  return count;
}

const CallerSid& AuthenticatedUsersSid() { return kAuthenticatedUsersSid; }

NTSTATUS ProtectDevice(PDEVICE_OBJECT device, const CallerSid& user) {
  constexpr ULONG kAceSize = sizeof(ACCESS_ALLOWED_ACE) - sizeof(ULONG) + kMaxSidSize;
  union {
    ACL acl;
    UCHAR bytes[sizeof(ACL) + 3 * kAceSize];
  } acl;
  NTSTATUS status = RtlCreateAcl(&acl.acl, sizeof acl, ACL_REVISION);
  if (NT_SUCCESS(status)) {
    status = RtlAddAccessAllowedAce(&acl.acl, ACL_REVISION, FILE_ALL_ACCESS, AsSid(kSystemSid));
  }
  if (NT_SUCCESS(status)) {
    status =
        RtlAddAccessAllowedAce(&acl.acl, ACL_REVISION, FILE_ALL_ACCESS, AsSid(kAdministratorsSid));
  }
  if (NT_SUCCESS(status)) {
    status = RtlAddAccessAllowedAce(&acl.acl, ACL_REVISION, FILE_GENERIC_READ | FILE_GENERIC_WRITE,
                                    AsSid(user));
  }
  SECURITY_DESCRIPTOR descriptor;
  if (NT_SUCCESS(status))
    status = RtlCreateSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  if (NT_SUCCESS(status)) status = RtlSetDaclSecurityDescriptor(&descriptor, TRUE, &acl.acl, FALSE);
  HANDLE handle;
  if (NT_SUCCESS(status)) {
    status = ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, nullptr, WRITE_DAC, nullptr,
                                   KernelMode, &handle);
  }
  if (!NT_SUCCESS(status)) return status;
  status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &descriptor);
  ZwClose(handle);
  return status;
}
