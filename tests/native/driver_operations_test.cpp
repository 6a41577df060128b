// The requests to the driver: which handle each opens with which access,
// what it sends, and what it makes of the answer.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "driver/operations.h"
#include "tests/native/driver_test_fakes.h"

namespace {

using Log = std::vector<std::string>;

const std::string kControl = VD_CONTROL_DEVICE_PATH;

class MountVolumeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (uint32_t i = 0; i < kHeaderSize; ++i) header[i] = static_cast<uint8_t>(255 - i % 251);
  }

  bool Mount(const std::string& path, char letter = 'E') {
    return MountVolume(port, path, letter, VD_HEADER_IN_VOLUME_FILE, kAes256, header, 42, 1);
  }

  FakeDriverPort port;
  uint8_t header[kHeaderSize];
};

TEST_F(MountVolumeTest, SendsTheRequestThenDefinesTheLetterOnTheRepliedDevice) {
  port.nextDeviceNumber = 3;
  ASSERT_TRUE(Mount("C:\\v.vmv"));
  EXPECT_EQ(port.log, (Log{"open " + kControl + " rw", "mount " + kControl, "close " + kControl,
                           "define E: \\Device\\VelmorcryptVolume3"}));
  ASSERT_EQ(port.requests.size(), 1u);
  const VolumeControlRecord& request = port.requests[0];
  EXPECT_STREQ(request.targetPath, "\\??\\C:\\v.vmv");
  EXPECT_EQ(request.driveLetter, 'E');
  EXPECT_EQ(request.algorithm, kAes256);
  EXPECT_EQ(request.headerPlacement, VD_HEADER_IN_VOLUME_FILE);
  EXPECT_EQ(memcmp(request.sectorIvSeed, header + kSectorIvSeedOffset, 64), 0);
  EXPECT_EQ(memcmp(request.sectorKey, header + kSectorKeyOffset, 64), 0);
  EXPECT_EQ(request.logonSessionId, 42u);
  EXPECT_EQ(request.readOnly, 1);
  EXPECT_EQ(port.dosDevices["E:"], "\\Device\\VelmorcryptVolume3");
}

TEST_F(MountVolumeTest, RefusedRequestDefinesNoLetter) {
  port.failCodes["mount"] = kFakeErrorAccessDenied;
  EXPECT_FALSE(Mount("C:\\v.vmv"));
  EXPECT_TRUE(port.Lines("define").empty());
  EXPECT_TRUE(port.dosDevices.empty());
}

TEST_F(MountVolumeTest, NoDriverSendsNothing) {
  port.driverRunning = false;
  EXPECT_FALSE(Mount("C:\\v.vmv"));
  EXPECT_EQ(port.log, (Log{"open " + kControl + " rw"}));
}

TEST_F(MountVolumeTest, LetterThatCannotBeDefinedFailsAndLeavesTheVolumeMounted) {
  port.failDefine = true;
  EXPECT_FALSE(Mount("C:\\v.vmv"));
  EXPECT_EQ(port.volumes.size(), 1u);
}

TEST_F(MountVolumeTest, TooLongPathNeverReachesTheDriver) {
  EXPECT_FALSE(Mount("C:\\" + std::string(260, 'a')));
  EXPECT_TRUE(port.log.empty());
}

TEST(GetDriverVersion, ReadsTheReplyThroughAReadOnlyControlHandle) {
  FakeDriverPort port;
  port.version = {4, 5, 6};
  DriverVersion version = {};
  ASSERT_TRUE(GetDriverVersion(port, &version));
  EXPECT_EQ(version.major, 4);
  EXPECT_EQ(version.minor, 5);
  EXPECT_EQ(version.build, 6);
  EXPECT_EQ(port.log, (Log{"open " + kControl + " r", "version " + kControl, "close " + kControl}));
}

TEST(GetDriverVersion, FailsWithoutDriver) {
  FakeDriverPort port;
  port.driverRunning = false;
  DriverVersion version = {};
  EXPECT_FALSE(GetDriverVersion(port, &version));
  port.driverRunning = true;
  port.failCodes["version"] = kFakeErrorInvalidFunction;
  EXPECT_FALSE(GetDriverVersion(port, &version));
}

TEST(QueryVolume, AsksTheDriveLetterDeviceForReading) {
  FakeDriverPort port;
  port.AddMountedVolume('K', "\\??\\UNC\\srv\\share\\v.vmv", kBlowfish128, 5 * 1048576);
  VolumeControlRecord reply = {};
  ASSERT_TRUE(QueryVolume(port, 'K', &reply));
  EXPECT_EQ(port.log, (Log{"open \\\\.\\K: r", "query \\\\.\\K:", "close \\\\.\\K:"}));
  EXPECT_STREQ(reply.targetPath, "\\??\\UNC\\srv\\share\\v.vmv");
  EXPECT_EQ(reply.algorithm, kBlowfish128);
  EXPECT_EQ(reply.volumeSize, 5u * 1048576);
  EXPECT_FALSE(QueryVolume(port, 'L', &reply));
}

TEST(IdleCounter, IsReadWithAccessNoneAndWrittenWithWriteAccess) {
  FakeDriverPort port;
  port.AddMountedVolume('E', "\\??\\C:\\v.vmv", kAes128, 1048576);
  ASSERT_TRUE(SetIdleCounter(port, 'E', 9));
  IdleCounter counter = VD_IDLE_REARM;
  ASSERT_TRUE(GetIdleCounter(port, 'E', &counter));
  EXPECT_EQ(counter, 9);
  EXPECT_EQ(port.log, (Log{"open \\\\.\\E: w", "set-idle \\\\.\\E:", "close \\\\.\\E:",
                           "open \\\\.\\E: none", "get-idle \\\\.\\E:", "close \\\\.\\E:"}));
}

TEST(IdleCounter, FailedReadLeavesTheCallersByte) {
  FakeDriverPort port;
  port.AddMountedVolume('E', "\\??\\C:\\v.vmv", kAes128, 1048576);
  port.volumes.begin()->second.idle = 4;
  port.failCodes["get-idle"] = kFakeErrorInvalidFunction;
  IdleCounter counter = VD_IDLE_REARM;
  EXPECT_FALSE(GetIdleCounter(port, 'E', &counter));
  EXPECT_EQ(counter, VD_IDLE_REARM);
  EXPECT_FALSE(GetIdleCounter(port, 'F', &counter));  // no such drive
  EXPECT_EQ(counter, VD_IDLE_REARM);
}

TEST(IsOwnDrive, ReadsOnlyTheDosDeviceTable) {
  FakeDriverPort port;
  port.AddMountedVolume('E', "\\??\\C:\\v.vmv", kAes128, 1048576);
  port.dosDevices["S:"] = "\\??\\C:\\Users\\folder";  // a substituted folder
  port.dosDevices["C:"] = "\\Device\\HarddiskVolume1";
  EXPECT_TRUE(IsOwnDrive(port, 'E'));
  EXPECT_FALSE(IsOwnDrive(port, 'S'));
  EXPECT_FALSE(IsOwnDrive(port, 'C'));
  EXPECT_FALSE(IsOwnDrive(port, 'Q'));
  EXPECT_EQ(port.log, (Log{"query-dos E:", "query-dos S:", "query-dos C:", "query-dos Q:"}));
}

TEST(FileSystemDismountAnswer, SuccessAndWinesBadDeviceTypeCount) {
  EXPECT_TRUE(FileSystemDismountSucceeded(kNoError));
  EXPECT_TRUE(FileSystemDismountSucceeded(kErrorBadDevType));
  EXPECT_FALSE(FileSystemDismountSucceeded(kFakeErrorBusy));
  EXPECT_FALSE(FileSystemDismountSucceeded(kFakeErrorAccessDenied));
}

}  // namespace
