// The stand-in driver's private control code, for tests only: it hands out
// the log of the requests the driver received and of what it did with the
// volume files, makes a chosen request fail with a chosen status, stands in
// for the callers' tokens and for what a volume file's disk reports. Only the test
// variant of the driver (velmorcrypt-test.sys) answers it; the shipped
// velmorcrypt.sys refuses it as an unknown code. Included by the driver and
// by the tests.
#pragma once
#include <stdint.h>

#include "driver/protocol.h"

// The version that IOCTL_VD_GET_VERSION answers.
constexpr int32_t kStandinVersionMajor = 1;
constexpr int32_t kStandinVersionMinor = 0;
constexpr int32_t kStandinVersionBuild = 1;

// Sent to the control device (kStandinReadSecurity also to a volume
// device), buffered, read and write access. Input: a StandinTestRequest.
// Output: the log entries that were taken (kTakeLog), or a security
// descriptor (kStandinReadSecurity).
constexpr uint32_t IOCTL_VD_STANDIN_TEST = VD_CTL_CODE(0xA00u, 3u);

enum StandinTestCommand : uint32_t {
  // Moves the oldest log entries that fit into the output buffer out of the
  // log; the reply's length says how many. The other request fields are
  // ignored.
  kStandinTakeLog = 1,
  // The next `count` requests with the major function `majorFunction` (and,
  // for device controls, the code `controlCode`; 0 matches any code) fail
  // with `status`, which must not be a success status (a warning such as
  // STATUS_DEVICE_BUSY or an error). A count of 0 disarms.
  kStandinFailRequests = 2,
  // The requests that follow are taken as from a caller in the logon session
  // `logonSession`, an administrator when `administrator` is 1, whatever
  // their token says (every token has the same session under Wine). With
  // `chosen` 0 the tokens count again. A caller is taken when it opens its
  // handle: the choice counts for handles opened after it.
  kStandinChooseCaller = 3,
  // Answers the security descriptor (self-relative, DACL only) of the
  // device the request is sent to: the control device or a volume device.
  // The other request fields are ignored.
  kStandinReadSecurity = 4,
  // The volume files mounted from now on are taken as on a disk whose
  // sectors have `sectorSize` bytes (0: what the disk reports), and as
  // carrying the FILE_ATTRIBUTE_* bits `fileAttributes` besides their own:
  // what a 4K-native disk or a compressed, sparse or encrypted file looks
  // like, which Wine never shows.
  kStandinChooseVolumeFile = 5,
  // Runs what the driver does when the system shuts down, as if
  // IRP_MJ_SHUTDOWN had arrived.
  kStandinShutdown = 6,
};

// The major function numbers (IRP_MJ_*) that the log and the armed
// failures use, for tests that have no kernel headers.
enum StandinMajorFunction : uint8_t {
  kStandinMajorCreate = 0x00,
  kStandinMajorClose = 0x02,
  kStandinMajorRead = 0x03,
  kStandinMajorWrite = 0x04,
  kStandinMajorFlushBuffers = 0x09,
  kStandinMajorDeviceControl = 0x0E,
  kStandinMajorCleanup = 0x12,
};

#pragma pack(push, 1)
struct StandinTestRequest {
  uint32_t command;  // StandinTestCommand
  uint32_t majorFunction;
  uint32_t controlCode;
  int32_t status;  // NTSTATUS
  uint32_t count;
  // kStandinChooseCaller only.
  uint32_t chosen = 0;
  uint32_t administrator = 0;
  uint64_t logonSession = 0;
  // kStandinChooseVolumeFile only.
  uint32_t sectorSize = 0;
  uint32_t fileAttributes = 0;
};

// Which device a request was sent to, or the volume file for what the
// driver did with it: opening it (kStandinMajorCreate), flushing it
// (kStandinMajorFlushBuffers) and closing it (kStandinMajorClose).
enum StandinDeviceKind : uint8_t {
  kStandinControlDevice = 0,
  kStandinVolumeDevice = 1,
  kStandinVolumeFile = 2,
};

// One request as the driver saw it and answered it, or one operation of the
// driver on a volume file. The test control code itself is not logged. Keys
// are never logged.
struct StandinLogEntry {
  uint32_t sequence;      // counts every logged request since the driver started
  uint8_t majorFunction;  // IRP_MJ_*
  uint8_t deviceKind;     // StandinDeviceKind
  int8_t deviceNumber;    // N of the volume device, -1 for the control device
  uint8_t injected;       // 1: the status was a failure made by kStandinFailRequests
  uint32_t controlCode;   // device controls; 0 for other requests
  int32_t status;         // the NTSTATUS the request completed with
  uint32_t inputLength;   // device controls: the input buffer's length
  uint32_t outputLength;  // device controls: the output buffer's length
  uint64_t offset;        // reads and writes: the byte offset
  uint32_t length;        // reads and writes: the length asked for
  uint32_t transferred;   // bytes answered (Information of a successful request)
  // Mount and dismount requests: their fields as received (targetPath
  // NUL-terminated by the driver), when the input was long enough.
  char targetPath[VD_TARGET_PATH_SIZE];
  char driveLetter;
  uint8_t algorithm;
  uint8_t headerPlacement;
  uint8_t readOnly;
  uint32_t logonSessionId;
  // Requests: the thread the request arrived on (the caller's, under Wine
  // the one the device host serves it for) and the thread that served it.
  uint32_t arrivalThread;
  uint32_t servingThread;
  // Opening a volume file: the create options the driver asked for, the
  // mode the system reports for the opened file (FileModeInformation), the
  // sector size its transfers keep to, and the security quality of service
  // it was opened with (level, context tracking, effective only).
  uint32_t fileOptions;
  uint32_t fileMode;
  uint32_t sectorSize;
  uint8_t qosLevel;
  uint8_t qosTracking;
  uint8_t qosEffectiveOnly;
  uint8_t unused;
};
#pragma pack(pop)

// The log keeps the most recent entries; older ones are overwritten.
constexpr uint32_t kStandinLogCapacity = 256;

static_assert(IOCTL_VD_STANDIN_TEST == 0x0007E800u, "test control code");
static_assert(sizeof(StandinTestRequest) == 44, "StandinTestRequest layout");
static_assert(sizeof(StandinLogEntry) == 332, "StandinLogEntry layout");
