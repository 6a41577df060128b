// The dismount sequence, the drive scan, and the Status page's "Dismount"
// and "Dismount All" decisions.
#include <gtest/gtest.h>
#include <limits.h>

#include <string>
#include <vector>

#include "driver/dismount.h"
#include "tests/native/driver_test_fakes.h"

namespace {

using Log = std::vector<std::string>;

const std::string kControl = VD_CONTROL_DEVICE_PATH;
const std::string kDriveE = "\\\\.\\E:";

class DismountVolumeTest : public ::testing::Test {
 protected:
  void SetUp() override { port.AddMountedVolume('E', "\\??\\C:\\v.vmv", kAes128, 1048576); }

  bool Mounted() const { return port.dosDevices.count("E:") != 0; }

  FakeDriverPort port;
};

TEST_F(DismountVolumeTest, IdleVolumeGoesThroughTheWholeSequence) {
  ASSERT_TRUE(DismountVolume(port, 'E', 77, 0));
  EXPECT_EQ(port.log, (Log{"open " + kControl + " rw", "open " + kDriveE + " rw", "lock " + kDriveE,
                           "fs-dismount " + kDriveE, "dismount " + kControl, "unlock " + kDriveE,
                           "remove E:", "close " + kDriveE, "close " + kControl}));
  ASSERT_EQ(port.requests.size(), 1u);
  EXPECT_EQ(port.requests[0].driveLetter, 'E');
  EXPECT_EQ(port.requests[0].logonSessionId, 77u);
  EXPECT_EQ(port.requests[0].readOnly, 0);
  EXPECT_EQ(port.requests[0].force, 0);
  EXPECT_FALSE(Mounted());
  EXPECT_TRUE(port.volumes.empty());
}

TEST_F(DismountVolumeTest, LockIsRetriedWithAPauseAfterEachFailure) {
  port.lockFailures = 3;
  ASSERT_TRUE(DismountVolume(port, 'E', 0, 0));
  EXPECT_EQ(port.Count("lock " + kDriveE), 4);
  EXPECT_EQ(port.Count("wait 500"), 3);
  EXPECT_FALSE(Mounted());
}

TEST_F(DismountVolumeTest, VolumeInUseStaysMountedAfterTwentyAttempts) {
  port.lockFailures = INT_MAX;
  EXPECT_FALSE(DismountVolume(port, 'E', 0, 0));
  EXPECT_EQ(port.Count("lock " + kDriveE), 20);
  EXPECT_EQ(port.Count("wait 500"), 20);  // the last failure waits too
  EXPECT_TRUE(port.Lines("fs-dismount").empty());
  EXPECT_TRUE(port.Lines("dismount").empty());
  EXPECT_TRUE(Mounted());
  EXPECT_EQ(port.log.back(), "close " + kControl);
}

TEST_F(DismountVolumeTest, ForcedDismountWaitsThroughEveryAttemptThenGoesOnUnlocked) {
  port.lockFailures = INT_MAX;
  ASSERT_TRUE(DismountVolume(port, 'E', 0, 1));
  EXPECT_EQ(port.Count("lock " + kDriveE), 20);
  EXPECT_EQ(port.Count("wait 500"), 20);
  EXPECT_EQ(port.Count("fs-dismount " + kDriveE), 1);
  EXPECT_EQ(port.Count("dismount " + kControl), 1);
  EXPECT_EQ(port.Count("unlock " + kDriveE), 1);
  EXPECT_EQ(port.requests.back().force, 1);  // the driver takes it though in use
  EXPECT_FALSE(Mounted());
}

TEST_F(DismountVolumeTest, ForceCountsOnlyWhenExactlyOne) {
  port.lockFailures = INT_MAX;
  EXPECT_FALSE(DismountVolume(port, 'E', 0, 2));
  EXPECT_FALSE(DismountVolume(port, 'E', 0, -1));
  EXPECT_TRUE(Mounted());
}

TEST_F(DismountVolumeTest, RefusedFileSystemDismountStopsAPlainDismountOnly) {
  port.fileSystemDismountError = kFakeErrorBusy;
  EXPECT_FALSE(DismountVolume(port, 'E', 0, 0));
  EXPECT_TRUE(port.Lines("dismount").empty());
  EXPECT_TRUE(Mounted());
  EXPECT_TRUE(DismountVolume(port, 'E', 0, 1));
  EXPECT_FALSE(Mounted());
}

TEST_F(DismountVolumeTest, WinesAnswerToTheFileSystemDismountCountsAsSuccess) {
  port.fileSystemDismountError = kErrorBadDevType;
  EXPECT_TRUE(DismountVolume(port, 'E', 0, 0));
  EXPECT_FALSE(Mounted());
}

TEST_F(DismountVolumeTest, UnlockDoesNotCount) {
  port.failCodes["unlock"] = kFakeErrorInvalidFunction;
  EXPECT_TRUE(DismountVolume(port, 'E', 0, 0));
  EXPECT_FALSE(Mounted());
}

// A refused dismount request for a volume the driver still serves: the
// letter stays, so that the volume is not left mounted out of sight, and
// the dismount fails, forced or not.
TEST_F(DismountVolumeTest, RefusedRequestKeepsAServedVolumeWithItsLetter) {
  port.failCodes["dismount"] = kFakeErrorBusy;
  for (const int force : {0, 1}) {
    EXPECT_FALSE(DismountVolume(port, 'E', 0, force));
    EXPECT_TRUE(Mounted());
    EXPECT_EQ(port.volumes.size(), 1u);
  }
  port.failCodes.clear();
  EXPECT_TRUE(DismountVolume(port, 'E', 0, 0));
  EXPECT_TRUE(port.volumes.empty());
}

// A letter left on a volume the driver no longer knows: the driver refuses
// the request, the query fails, and the stale letter is removed.
TEST_F(DismountVolumeTest, RefusedRequestForAVolumeNoLongerServedRemovesTheLetter) {
  port.volumes.clear();
  EXPECT_TRUE(DismountVolume(port, 'E', 0, 0));
  EXPECT_FALSE(Mounted());
}

TEST_F(DismountVolumeTest, LetterIsRemovedAsAMountPointWhenTheDefinitionCannotBe) {
  port.failRemove = true;
  EXPECT_TRUE(DismountVolume(port, 'E', 0, 0));
  EXPECT_EQ(port.Lines("delete-mount-point"), (Log{"delete-mount-point E:\\"}));
  EXPECT_FALSE(Mounted());
}

TEST_F(DismountVolumeTest, LetterThatCannotBeRemovedFails) {
  port.failRemove = true;
  port.failDeleteMountPoint = true;
  EXPECT_FALSE(DismountVolume(port, 'E', 0, 1));
  EXPECT_EQ(port.log.back(), "close " + kControl);
}

TEST_F(DismountVolumeTest, UnopenableDevicesSendNothing) {
  port.driverRunning = false;
  EXPECT_FALSE(DismountVolume(port, 'E', 0, 1));
  EXPECT_EQ(port.log, (Log{"open " + kControl + " rw"}));

  port.log.clear();
  port.driverRunning = true;
  port.unopenable.insert(kDriveE);
  EXPECT_FALSE(DismountVolume(port, 'E', 0, 1));
  EXPECT_EQ(port.log,
            (Log{"open " + kControl + " rw", "open " + kDriveE + " rw", "close " + kControl}));
}

TEST(ScanDrives, ListsTheDriversDrivesInLetterOrderWithTheirRecords) {
  FakeDriverPort port;
  port.AddMountedVolume('T', "\\??\\UNC\\srv\\share\\b.vmv", kBlowfish448, 3 * 1048576 / 2);
  port.AddMountedVolume('F', "\\??\\C:\\a.vmv", kAes256, 10 * 1048576);
  port.dosDevices["S:"] = "\\??\\C:\\folder";
  port.AddMountedVolume('A', "\\??\\D:\\c.vmv", kAes128, 1048576);

  const std::vector<ScannedDrive> drives = ScanDrives(port);
  ASSERT_EQ(drives.size(), 3u);
  EXPECT_EQ(drives[0].letter, 'A');
  EXPECT_EQ(drives[1].letter, 'F');
  EXPECT_EQ(drives[2].letter, 'T');
  EXPECT_TRUE(drives[1].queried);
  EXPECT_EQ(drives[1].volume.volumePath, "C:\\a.vmv");
  EXPECT_EQ(drives[1].volume.algorithm, kAes256);
  EXPECT_EQ(drives[1].volume.volumeSize, 10u * 1048576);
  EXPECT_EQ(drives[2].volume.volumePath, "\\\\srv\\share\\b.vmv");
  // The substituted folder is never opened.
  for (const std::string& line : port.Lines("open")) EXPECT_EQ(line.find("S:"), std::string::npos);
  EXPECT_EQ(port.Lines("query-dos").size(), 26u);
}

TEST(ScanDrives, DriveWhoseQueryFailsStaysListed) {
  FakeDriverPort port;
  port.AddMountedVolume('E', "\\??\\C:\\a.vmv", kAes128, 1048576);
  port.failCodes["query"] = kFakeErrorInvalidFunction;
  const std::vector<ScannedDrive> drives = ScanDrives(port);
  ASSERT_EQ(drives.size(), 1u);
  EXPECT_EQ(drives[0].letter, 'E');
  EXPECT_FALSE(drives[0].queried);
  EXPECT_EQ(drives[0].volume.volumePath, "");
}

TEST(DismountSelected, NothingSelectedDoesNothing) {
  FakeDriverPort port;
  const DismountReply reply = DismountSelected(port, "", 0);
  EXPECT_EQ(reply.step, DismountStep::kNothing);
  EXPECT_TRUE(reply.message.empty());
  EXPECT_TRUE(port.log.empty());
}

TEST(DismountSelected, ReportsTheDismountedDrive) {
  FakeDriverPort port;
  port.AddMountedVolume('G', "\\??\\C:\\a.vmv", kAes128, 1048576);
  const DismountReply reply = DismountSelected(port, "G:", 5);
  EXPECT_EQ(reply.step, DismountStep::kDismounted);
  EXPECT_EQ(reply.message, "Drive G: successfully dismounted.");
  EXPECT_EQ(reply.caption, "Dismount");
  EXPECT_EQ(port.requests.at(0).logonSessionId, 5u);
}

TEST(DismountSelected, VolumeInUseOffersTheForcedDismount) {
  FakeDriverPort port;
  port.AddMountedVolume('G', "\\??\\C:\\a.vmv", kAes128, 1048576);
  port.lockFailures = INT_MAX;
  const DismountReply reply = DismountSelected(port, "G:", 0);
  EXPECT_EQ(reply.step, DismountStep::kAskForce);
  EXPECT_EQ(reply.message, "Dismount failed.  Would you like to force the dismount?");
  EXPECT_EQ(reply.caption, "Dismount Error");
  EXPECT_TRUE(port.dosDevices.count("G:"));

  port.log.clear();
  ForceDismount(port, "G:", 0);
  EXPECT_EQ(port.Count("lock \\\\.\\G:"), 20);
  EXPECT_FALSE(port.dosDevices.count("G:"));
}

TEST(DismountAll, EmptyListDoesNothing) {
  FakeDriverPort port;
  EXPECT_FALSE(DismountAll(port, {}, 0).has_value());
  EXPECT_TRUE(port.log.empty());
}

TEST(DismountAll, CountsTheDismountedDrives) {
  FakeDriverPort port;
  port.AddMountedVolume('E', "\\??\\C:\\a.vmv", kAes128, 1048576);
  port.AddMountedVolume('F', "\\??\\C:\\b.vmv", kAes128, 1048576);
  const std::optional<Outcome> outcome = DismountAll(port, {"E:", "F:"}, 0);
  ASSERT_TRUE(outcome.has_value());
  EXPECT_TRUE(outcome->success);
  EXPECT_EQ(outcome->message, "All 2 drive(s) successfully dismounted.");
  EXPECT_EQ(outcome->caption, "Dismount All");
  EXPECT_TRUE(port.dosDevices.empty());
}

TEST(DismountAll, DriveInUseIsReportedAndLeftWhileTheOthersGo) {
  FakeDriverPort port;
  port.AddMountedVolume('E', "\\??\\C:\\a.vmv", kAes128, 1048576);
  port.AddMountedVolume('F', "\\??\\C:\\b.vmv", kAes128, 1048576);
  port.AddMountedVolume('G', "\\??\\C:\\c.vmv", kAes128, 1048576);
  port.drivesInUse.insert('F');
  const std::optional<Outcome> outcome = DismountAll(port, {"E:", "F:", "G:"}, 0);
  ASSERT_TRUE(outcome.has_value());
  EXPECT_FALSE(outcome->success);
  EXPECT_EQ(outcome->message, "One or more drives could not be dismounted.");
  EXPECT_EQ(outcome->caption, "Dismount All");
  EXPECT_FALSE(port.dosDevices.count("E:"));
  EXPECT_TRUE(port.dosDevices.count("F:"));
  EXPECT_FALSE(port.dosDevices.count("G:"));
  EXPECT_EQ(port.Count("lock \\\\.\\F:"), 20);
  EXPECT_EQ(port.Lines("unlock").size(), 2u);  // no forced attempt on F:
  const std::vector<ScannedDrive> left = ScanDrives(port);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].letter, 'F');
}

// The end of the session: every drive of the driver goes, forced, after one
// lock attempt and no pause; a drive that stays is counted.
TEST(DismountSessionVolumes, ForcesEveryDriveAfterOneLockAttempt) {
  FakeDriverPort port;
  port.AddMountedVolume('E', "\\??\\C:\\e.vmv", kAes128, 1048576);
  port.AddMountedVolume('F', "\\??\\C:\\f.vmv", kAes256, 1048576);
  port.lockFailures = INT_MAX;
  EXPECT_EQ(DismountSessionVolumes(port, 9), 0);
  EXPECT_TRUE(port.dosDevices.empty());
  EXPECT_EQ(port.Count("lock \\\\.\\E:") + port.Count("lock \\\\.\\F:"), 2);
  EXPECT_EQ(port.Count("wait 500"), 0);
  ASSERT_EQ(port.requests.size(), 2u);
  for (const VolumeControlRecord& request : port.requests) {
    EXPECT_EQ(request.force, 1);
    EXPECT_EQ(request.logonSessionId, 9u);
  }
  port.AddMountedVolume('G', "\\??\\C:\\g.vmv", kAes128, 1048576);
  port.failRemove = port.failDeleteMountPoint = true;
  EXPECT_EQ(DismountSessionVolumes(port, 9), 1);
}

}  // namespace
