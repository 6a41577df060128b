/* The control protocol between the program and the disk driver: device
 * names, control codes and records. Shared by the program and the stand-in
 * driver; plain C so that both can include it. Integers are little-endian. */
#ifndef VELMORCRYPT_DRIVER_PROTOCOL_H
#define VELMORCRYPT_DRIVER_PROTOCOL_H

#include <stddef.h>
#include <stdint.h>

/* Device names. */
#define VD_CONTROL_DEVICE_PATH "\\\\.\\Velmorcrypt"             /* user mode */
#define VD_CONTROL_DEVICE_NT_NAME L"\\Device\\Velmorcrypt"      /* kernel */
#define VD_CONTROL_DEVICE_DOS_NAME L"\\DosDevices\\Velmorcrypt" /* kernel */
#define VD_VOLUME_DEVICE_FORMAT "\\Device\\VelmorcryptVolume%d" /* deviceNumber */
#define VD_VOLUME_DEVICE_PREFIX "\\Device\\VelmorcryptVolume"   /* drive recognition */
#define VD_DRIVE_DEVICE_FORMAT "\\\\.\\%c:"                     /* drive letter */

/* Control codes: CTL_CODE(FILE_DEVICE_DISK (7), function, METHOD_BUFFERED, access). */
#define VD_CTL_CODE(function, access) ((0x7u << 16) | ((access) << 14) | ((function) << 2) | 0u)
#define IOCTL_VD_MOUNT VD_CTL_CODE(0x800u, 3u)        /* 0x0007E000 */
#define IOCTL_VD_DISMOUNT VD_CTL_CODE(0x801u, 3u)     /* 0x0007E004 */
#define IOCTL_VD_GET_VERSION VD_CTL_CODE(0x802u, 1u)  /* 0x00076008 */
#define IOCTL_VD_QUERY_VOLUME VD_CTL_CODE(0x803u, 1u) /* 0x0007600C */
#define IOCTL_VD_GET_IDLE VD_CTL_CODE(0x804u, 0u)     /* 0x00072010 */
#define IOCTL_VD_SET_IDLE VD_CTL_CODE(0x805u, 2u)     /* 0x0007A014 */

/* The standard file-system controls of the dismount sequence. */
#define VD_FSCTL_LOCK_VOLUME 0x00090018u
#define VD_FSCTL_DISMOUNT_VOLUME 0x00090020u
#define VD_FSCTL_UNLOCK_VOLUME 0x0009001Cu

enum {
  VD_TARGET_PATH_SIZE = 260,
  VD_BODY_KEY_SIZE = 64,
  VD_HEADER_IN_VOLUME_FILE = 1, /* headerPlacement: the last 1044 bytes of the volume file */
  VD_HEADER_EXTERNAL = 2        /* headerPlacement: the whole volume file is the body */
};

/* One layout for the mount request and reply, the dismount request and the
 * query reply. */
#pragma pack(push, 1)
typedef struct VolumeControlRecord {
  char targetPath[VD_TARGET_PATH_SIZE]; /* NT path of the volume file, NUL-terminated */
  char driveLetter;
  uint8_t algorithm; /* AlgorithmId */
  uint8_t sectorIvSeed[VD_BODY_KEY_SIZE];
  uint8_t sectorKey[VD_BODY_KEY_SIZE];
  uint8_t headerPlacement;
  uint8_t force;       /* dismount request: 1 to dismount a volume that is still in use */
  uint64_t volumeSize; /* bytes */
  uint32_t logonSessionId;
  int8_t deviceNumber; /* N of \Device\VelmorcryptVolumeN */
  uint8_t readOnly;
  uint8_t unused2[2];
} VolumeControlRecord;

typedef struct DriverVersion {
  int32_t major;
  int32_t minor;
  int32_t build;
} DriverVersion;
#pragma pack(pop)

/* One byte per mounted volume: 1 = timed out, 0xFF = rearm, else minutes left. */
typedef uint8_t IdleCounter;
#define VD_IDLE_TIMED_OUT ((IdleCounter)1)
#define VD_IDLE_REARM ((IdleCounter)0xFF)

#ifdef __cplusplus
#define VD_STATIC_ASSERT static_assert
#else
#define VD_STATIC_ASSERT _Static_assert
#endif
VD_STATIC_ASSERT(IOCTL_VD_MOUNT == 0x0007E000u, "IOCTL_VD_MOUNT");
VD_STATIC_ASSERT(IOCTL_VD_DISMOUNT == 0x0007E004u, "IOCTL_VD_DISMOUNT");
VD_STATIC_ASSERT(IOCTL_VD_GET_VERSION == 0x00076008u, "IOCTL_VD_GET_VERSION");
VD_STATIC_ASSERT(IOCTL_VD_QUERY_VOLUME == 0x0007600Cu, "IOCTL_VD_QUERY_VOLUME");
VD_STATIC_ASSERT(IOCTL_VD_GET_IDLE == 0x00072010u, "IOCTL_VD_GET_IDLE");
VD_STATIC_ASSERT(IOCTL_VD_SET_IDLE == 0x0007A014u, "IOCTL_VD_SET_IDLE");
VD_STATIC_ASSERT(sizeof(VolumeControlRecord) == 408, "VolumeControlRecord is 408 bytes");
VD_STATIC_ASSERT(offsetof(VolumeControlRecord, targetPath) == 0, "targetPath");
VD_STATIC_ASSERT(offsetof(VolumeControlRecord, driveLetter) == 260, "driveLetter");
VD_STATIC_ASSERT(offsetof(VolumeControlRecord, algorithm) == 261, "algorithm");
VD_STATIC_ASSERT(offsetof(VolumeControlRecord, sectorIvSeed) == 262, "sectorIvSeed");
VD_STATIC_ASSERT(offsetof(VolumeControlRecord, sectorKey) == 326, "sectorKey");
VD_STATIC_ASSERT(offsetof(VolumeControlRecord, headerPlacement) == 390, "headerPlacement");
VD_STATIC_ASSERT(offsetof(VolumeControlRecord, force) == 391, "force");
VD_STATIC_ASSERT(offsetof(VolumeControlRecord, volumeSize) == 392, "volumeSize");
VD_STATIC_ASSERT(offsetof(VolumeControlRecord, logonSessionId) == 400, "logonSessionId");
VD_STATIC_ASSERT(offsetof(VolumeControlRecord, deviceNumber) == 404, "deviceNumber");
VD_STATIC_ASSERT(offsetof(VolumeControlRecord, readOnly) == 405, "readOnly");
VD_STATIC_ASSERT(sizeof(DriverVersion) == 12, "DriverVersion is 12 bytes");
VD_STATIC_ASSERT(sizeof(IdleCounter) == 1, "IdleCounter is one byte");

#endif
