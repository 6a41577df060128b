// The mount command: every check in its order with its message, what reaches
// the driver, and what a successful mount changes in the page's state.
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver/mount_command.h"
#include "tests/native/driver_test_fakes.h"
#include "volume/header.h"

namespace {

const std::string kVolume = "C:\\vols\\a.vmv";
const std::string kBlock = "C:\\vols\\a.ehb";
const std::string kPassword = "correct horse";
constexpr uint32_t kBodySize = 8 * 512;

struct SealedHeader {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(kHeaderSize);
  uint8_t sectorKey[kBodyKeySize];
  uint8_t sectorIvSeed[kBodyKeySize];
};

SealedHeader Seal(const std::string& password, int algorithm) {
  SealedHeader header;
  EXPECT_TRUE(SealHeader(header.bytes.data(), reinterpret_cast<const uint8_t*>(password.data()),
                         static_cast<uint32_t>(password.size()), algorithm, header.sectorKey,
                         header.sectorIvSeed));
  return header;
}

// A volume file: a body of `bodySize` bytes followed by the header.
std::vector<uint8_t> VolumeFile(uint32_t bodySize, const SealedHeader& header) {
  std::vector<uint8_t> bytes(bodySize + kHeaderSize, 0x5A);
  std::copy(header.bytes.begin(), header.bytes.end(), bytes.begin() + bodySize);
  return bytes;
}

class MountCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state.volumePath = kVolume;
    state.password = kPassword;
    state.driveText = "E:";
    state.logonSessionId = 0x5150;
    state.lastDirectory = "C:\\Tools\\";
  }

  // A volume with its header at the end of the file.
  SealedHeader AddVolume(int algorithm = kAes128, const std::string& password = kPassword) {
    SealedHeader header = Seal(password, algorithm);
    files.files[kVolume].bytes = VolumeFile(kBodySize, header);
    return header;
  }

  // A volume whose header lies in an external header block.
  SealedHeader AddExternalVolume(int algorithm = kAes128) {
    SealedHeader header = Seal(kPassword, algorithm);
    files.files[kVolume].bytes = std::vector<uint8_t>(kBodySize, 0x5A);
    files.files[kBlock].bytes = header.bytes;
    state.externalHeaderPath = kBlock;
    return header;
  }

  MountResult Run() { return RunMountCommand(state, files, port, timer); }

  // Runs the command and expects it to fail with `message`, leaving the
  // user's fields as they were.
  void ExpectRefused(const std::string& message) {
    const MountPageState before = state;
    const MountResult result = Run();
    EXPECT_FALSE(result.outcome.success);
    EXPECT_EQ(result.outcome.message, message);
    EXPECT_EQ(result.outcome.caption, "Mount Error");
    EXPECT_EQ(state.volumePath, before.volumePath);
    EXPECT_EQ(state.externalHeaderPath, before.externalHeaderPath);
    EXPECT_EQ(state.password, before.password);
    EXPECT_EQ(state.readOnly, before.readOnly);
    EXPECT_EQ(state.lastDirectory, before.lastDirectory);
    EXPECT_EQ(UsedSlotCount(state.recentList), UsedSlotCount(before.recentList));
    EXPECT_TRUE(port.Lines("set-idle").empty());
  }

  MountPageState state;
  MemoryFileSystem files;
  FakeDriverPort port;
  FakeMinuteTimer timer;
};

TEST_F(MountCommandTest, InputChecksComeFirstInTheirOrderAndTouchNoFile) {
  state.volumePath = "";
  state.password = "";
  state.driveText = "";
  ExpectRefused("Please specify a Velmorcrypt volume.");
  state.volumePath = "C:\\" + std::string(300, 'v');
  ExpectRefused("Please specify volume password.");
  state.password = std::string(65, 'p');
  ExpectRefused("Passwords should not be longer than 64 characters.");
  state.password = std::string(64, 'p');
  ExpectRefused("No free drive letter is available.");
  state.driveText = "E:";
  ExpectRefused("The volume path is too long.");
  EXPECT_TRUE(files.log.empty());
  EXPECT_TRUE(port.log.empty());
}

TEST_F(MountCommandTest, PasswordOf64BytesMounts) {
  const std::string password(64, '\xE9');
  AddVolume(kAes256, password);
  state.password = password;
  EXPECT_TRUE(Run().outcome.success);
}

TEST_F(MountCommandTest, DriveTextThatIsNoLetterIsRefused) {
  AddVolume();
  state.driveText = ":";
  ExpectRefused("No free drive letter is available.");
}

TEST_F(MountCommandTest, LongestPathThatFitsGoesOn) {
  state.volumePath = "C:\\" + std::string(252, 'v');
  ExpectRefused("Error opening Velmorcrypt volume.");
}

TEST_F(MountCommandTest, ExternalHeaderBlockChecksInOrder) {
  state.externalHeaderPath = kBlock;
  ExpectRefused("Error opening external header block.");
  files.files[kBlock].bytes.assign(kHeaderSize - 1, 0);
  ExpectRefused("Error reading external header block.");
  files.files[kBlock].bytes.assign(kHeaderSize + 1, 0);
  ExpectRefused("Error reading external header block.");
  files.files[kBlock].bytes = Seal(kPassword, kAes128).bytes;
  files.files[kBlock].sizeFails = true;
  ExpectRefused("Error reading external header block.");
  files.files[kBlock].sizeFails = false;
  state.password = "wrong password";
  ExpectRefused("Error decrypting header information with the supplied password.");
  state.password = kPassword;
  ExpectRefused("Error opening Velmorcrypt volume.");
  files.files[kVolume].bytes.assign(kBodySize, 0);
  port.driverRunning = false;
  ExpectRefused("Error trying to mount disk.");
}

TEST_F(MountCommandTest, ExternalHeaderBlockIsOpenedForReadingOnly) {
  AddExternalVolume();
  files.files[kBlock].readOnly = true;
  EXPECT_TRUE(Run().outcome.success);
}

TEST_F(MountCommandTest, UnreadableHeaderBlockSurfacesAsTheDecryptionFailure) {
  AddExternalVolume();
  files.files[kBlock].readFails = true;
  ExpectRefused("Error decrypting header information with the supplied password.");
}

TEST_F(MountCommandTest, WithAnExternalBlockTheVolumeFileIsOnlyOpened) {
  AddExternalVolume();
  ASSERT_TRUE(Run().outcome.success);
  EXPECT_EQ(files.log,
            (std::vector<std::string>{"open " + kBlock + " r", "size " + kBlock,
                                      "read " + kBlock + " 0 1044", "open " + kVolume + " rw"}));
}

TEST_F(MountCommandTest, VolumeFileChecksInOrder) {
  ExpectRefused("Error opening Velmorcrypt volume.");
  files.files[kVolume].bytes.assign(kHeaderSize, 0);
  ExpectRefused("Error reading Velmorcrypt volume.");
  files.files[kVolume].bytes.assign(100, 0);
  ExpectRefused("Error reading Velmorcrypt volume.");
  AddVolume();
  files.files[kVolume].sizeFails = true;
  ExpectRefused("Error reading Velmorcrypt volume.");
  files.files[kVolume].sizeFails = false;
  state.password = "wrong password";
  ExpectRefused("Error decrypting header information with the supplied password.");
  state.password = kPassword;
  port.failCodes["mount"] = kFakeErrorAccessDenied;
  ExpectRefused("Error trying to mount disk.");
  // The driver's refusal of a file it does not serve has its own message.
  port.failCodes["mount"] = kErrorNotSupported;
  ExpectRefused(kRefusedFileMessage);
}

TEST_F(MountCommandTest, HeaderIsReadFromTheLast1044Bytes) {
  AddVolume();
  ASSERT_TRUE(Run().outcome.success);
  EXPECT_EQ(files.log, (std::vector<std::string>{"open " + kVolume + " rw", "size " + kVolume,
                                                 "read " + kVolume + " 4096 1044"}));
}

TEST_F(MountCommandTest, VolumeOfOneByteMoreThanAHeaderIsRead) {
  files.files[kVolume].bytes = VolumeFile(1, Seal(kPassword, kAes128));
  EXPECT_TRUE(Run().outcome.success);
}

TEST_F(MountCommandTest, ReadOnlyFileMountsOnlyReadOnly) {
  AddVolume();
  files.files[kVolume].readOnly = true;
  ExpectRefused("Error opening Velmorcrypt volume.");
  state.readOnly = 1;
  ASSERT_TRUE(Run().outcome.success);
  EXPECT_EQ(port.requests.at(0).readOnly, 1);
}

TEST_F(MountCommandTest, ReadOnlyFileWithExternalBlockMountsOnlyReadOnly) {
  AddExternalVolume();
  files.files[kVolume].readOnly = true;
  ExpectRefused("Error opening Velmorcrypt volume.");
  state.readOnly = 1;
  EXPECT_TRUE(Run().outcome.success);
}

TEST_F(MountCommandTest, EveryAlgorithmAndLayoutReachesTheDriverWithItsKeys) {
  for (int algorithm = kAes128; algorithm <= kBlowfish448; ++algorithm) {
    for (bool external : {false, true}) {
      SCOPED_TRACE(testing::Message() << "algorithm " << algorithm << " external " << external);
      SetUp();
      files = MemoryFileSystem();
      port = FakeDriverPort();
      const SealedHeader header = external ? AddExternalVolume(algorithm) : AddVolume(algorithm);
      ASSERT_TRUE(Run().outcome.success);
      ASSERT_EQ(port.requests.size(), 1u);
      const VolumeControlRecord& request = port.requests[0];
      EXPECT_STREQ(request.targetPath, "\\??\\C:\\vols\\a.vmv");
      EXPECT_EQ(request.driveLetter, 'E');
      EXPECT_EQ(request.algorithm, algorithm);
      EXPECT_EQ(request.headerPlacement, external ? 2 : 1);
      EXPECT_EQ(memcmp(request.sectorKey, header.sectorKey, kBodyKeySize), 0);
      EXPECT_EQ(memcmp(request.sectorIvSeed, header.sectorIvSeed, kBodyKeySize), 0);
      EXPECT_EQ(request.logonSessionId, 0x5150u);
      EXPECT_EQ(request.readOnly, 0);
    }
  }
}

TEST_F(MountCommandTest, SuccessArmsRecordsAndClears) {
  AddVolume();
  state.externalHeaderPath = "";
  state.readOnly = 1;
  state.autoDismount.appliedTimeout = 7;
  const MountResult result = Run();
  ASSERT_TRUE(result.outcome.success);
  EXPECT_EQ(result.outcome.message, "Velmorcrypt volume successfully mounted.");
  EXPECT_EQ(result.outcome.caption, "Mount");
  EXPECT_EQ(result.driveLetter, 'E');
  EXPECT_EQ(port.dosDevices["E:"], "\\Device\\VelmorcryptVolume0");
  EXPECT_EQ(port.VolumeOn('E')->idle, 7);
  EXPECT_EQ(port.log.back(), "close \\\\.\\E:");  // the idle counter is the last request
  EXPECT_EQ(state.recentList.slots[0].volumePath, kVolume);
  EXPECT_EQ(state.recentList.slots[0].drive, "E:");
  EXPECT_EQ(state.lastDirectory, "C:\\vols\\");
  EXPECT_EQ(state.volumePath, "");
  EXPECT_EQ(state.externalHeaderPath, "");
  EXPECT_EQ(state.password, "");
  EXPECT_EQ(state.readOnly, 0);
}

TEST_F(MountCommandTest, IdleCounterIsSetToZeroWhenAutomaticDismountIsOff) {
  AddVolume();
  ASSERT_TRUE(Run().outcome.success);
  EXPECT_EQ(port.Lines("set-idle").size(), 1u);
  EXPECT_EQ(port.VolumeOn('E')->idle, 0);
}

TEST_F(MountCommandTest, LastDirectoryOfAVolumeOnAShareOrAtARoot) {
  AddVolume();
  files.files["\\\\srv\\share\\v.vmv"] = files.files[kVolume];
  files.files["D:\\v.vmv"] = files.files[kVolume];
  state.volumePath = "\\\\srv\\share\\v.vmv";
  ASSERT_TRUE(Run().outcome.success);
  EXPECT_EQ(state.lastDirectory, "\\\\srv\\share\\");
  EXPECT_STREQ(port.requests.at(0).targetPath, "\\??\\UNC\\srv\\share\\v.vmv");

  state.volumePath = "D:\\v.vmv";
  state.password = kPassword;
  state.driveText = "F:";
  ASSERT_TRUE(Run().outcome.success);
  EXPECT_EQ(state.lastDirectory, "D:\\");
}

TEST_F(MountCommandTest, MountingAListedVolumeAgainReplacesItsDriveInPlace) {
  AddVolume();
  AddRecentEntry(state.recentList, kVolume, "G:");
  AddRecentEntry(state.recentList, "C:\\other.vmv", "H:");
  ASSERT_TRUE(Run().outcome.success);
  EXPECT_EQ(UsedSlotCount(state.recentList), 2);
  EXPECT_EQ(state.recentList.slots[0].volumePath, "C:\\other.vmv");
  EXPECT_EQ(state.recentList.slots[1].volumePath, kVolume);
  EXPECT_EQ(state.recentList.slots[1].drive, "E:");
}

TEST_F(MountCommandTest, TimerStartsWhenArmedEvenIfTheChecksFail) {
  state.autoDismount.appliedTimeout = 5;
  state.volumePath = "";
  ExpectRefused("Please specify a Velmorcrypt volume.");
  EXPECT_EQ(timer.starts, 1);
  EXPECT_TRUE(state.autoDismount.timerRunning);
  ExpectRefused("Please specify a Velmorcrypt volume.");
  EXPECT_EQ(timer.starts, 1);  // already running
}

TEST_F(MountCommandTest, NoTimerWithoutATimeout) {
  AddVolume();
  ASSERT_TRUE(Run().outcome.success);
  EXPECT_EQ(timer.starts, 0);
  EXPECT_FALSE(state.autoDismount.timerRunning);
}

TEST_F(MountCommandTest, TypedTimeoutAbove254IsShownAs254) {
  state.editedTimeout = 300;
  state.volumePath = "";
  ExpectRefused("Please specify a Velmorcrypt volume.");
  EXPECT_EQ(state.editedTimeout, 254u);
}

TEST_F(MountCommandTest, LetterTakenMeanwhileFailsAndKeepsTheFields) {
  AddVolume();
  port.dosDevices["E:"] = "\\Device\\HarddiskVolume1";
  ExpectRefused("Error trying to mount disk.");
  EXPECT_EQ(port.volumes.size(), 1u);  // mounted in the driver without a letter
}

}  // namespace
