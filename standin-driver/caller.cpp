#include "standin-driver/caller.h"

#include <string.h>

#include "standin-driver/request_log.h"

namespace {

constexpr ULONG kPoolTag = 'V' | ('m' << 8) | ('T' << 16) | ('k' << 24);  // "VmTk"

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

NTSTATUS OpenCallerToken(HANDLE* token) {
  NTSTATUS status =
      ZwOpenThreadTokenEx(NtCurrentThread(), TOKEN_QUERY, TRUE, OBJ_KERNEL_HANDLE, token);
  if (status == STATUS_NO_TOKEN) {
    return ZwOpenProcessTokenEx(NtCurrentProcess(), TOKEN_QUERY, OBJ_KERNEL_HANDLE, token);
  }
  // An anonymous token cannot even be opened.
  if (status == STATUS_CANT_OPEN_ANONYMOUS) return STATUS_BAD_IMPERSONATION_LEVEL;
  if (!NT_SUCCESS(status)) return status;
  status = CheckImpersonationLevel(*token);
  if (!NT_SUCCESS(status)) ZwClose(*token);
  return status;
}

// True when the Administrators group is in the token and enabled (a
// filtered token of an administrator holds it for deny only).
NTSTATUS IsAdministrator(HANDLE token, bool* administrator) {
  ULONG size = 0;
  NTSTATUS status = ZwQueryInformationToken(token, TokenGroups, nullptr, 0, &size);
  if (status != STATUS_BUFFER_TOO_SMALL) return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
  auto* groups = static_cast<TOKEN_GROUPS*>(ExAllocatePoolWithTag(PagedPool, size, kPoolTag));
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

}  // namespace

NTSTATUS IdentifyCaller(VolumeCaller* caller, CallerSid* sid) {
  PresentedToken presented;
  if (!NT_SUCCESS(presented.Status())) return presented.Status();
  HANDLE token;
  NTSTATUS status = OpenCallerToken(&token);
  if (!NT_SUCCESS(status)) return status;
  TOKEN_STATISTICS statistics;
  ULONG size = 0;
  status = ZwQueryInformationToken(token, TokenStatistics, &statistics, sizeof statistics, &size);
  if (NT_SUCCESS(status)) {
    caller->logonSession =
        (static_cast<uint64_t>(static_cast<uint32_t>(statistics.AuthenticationId.HighPart)) << 32) |
        statistics.AuthenticationId.LowPart;
    status = IsAdministrator(token, &caller->administrator);
  }
  if (NT_SUCCESS(status) && sid != nullptr) status = ReadUserSid(token, sid);
  ZwClose(token);
  if (NT_SUCCESS(status)) TakeChosenCaller(caller);
  return status;
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
