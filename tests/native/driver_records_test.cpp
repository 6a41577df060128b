// The driver's records: path conversion, field placement, the display form
// of targetPath and the drive-recognition test.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "driver/records.h"

namespace {

std::string Target(const std::string& volumePath) {
  char targetPath[VD_TARGET_PATH_SIZE];
  memset(targetPath, 'x', sizeof targetPath);
  if (!BuildTargetPath(volumePath, targetPath)) return "<refused>";
  return targetPath;
}

std::string DisplayOf(const std::string& targetText) {
  char targetPath[VD_TARGET_PATH_SIZE] = {};
  memcpy(targetPath, targetText.data(), targetText.size());
  return TargetPathDisplay(targetPath);
}

TEST(TargetPath, DriveLetterPathGoesBehindTheNtPrefix) {
  EXPECT_EQ(Target("C:\\v.vmv"), "\\??\\C:\\v.vmv");
  EXPECT_EQ(Target("C:\\volumes\\a.vmv"), "\\??\\C:\\volumes\\a.vmv");
}

TEST(TargetPath, UncPathLosesItsLeadingBackslashesBehindTheUncPrefix) {
  EXPECT_EQ(Target("\\\\srv\\share\\v.vmv"), "\\??\\UNC\\srv\\share\\v.vmv");
  EXPECT_EQ(Target("\\\\server\\share\\dir\\a.vmv"), "\\??\\UNC\\server\\share\\dir\\a.vmv");
}

TEST(TargetPath, LongestFittingPathKeepsItsNul) {
  // "\??\" and 255 characters: 259 characters and the NUL fill the field.
  const std::string longest = "C:\\" + std::string(252, 'a');
  const std::string target = Target(longest);
  ASSERT_EQ(target.size(), VD_TARGET_PATH_SIZE - 1u);
  EXPECT_EQ(target, "\\??\\" + longest);
  EXPECT_TRUE(TargetPathFits(longest));
}

TEST(TargetPath, PathOneCharacterTooLongIsRefusedNotCut) {
  const std::string tooLong = "C:\\" + std::string(253, 'a');
  EXPECT_FALSE(TargetPathFits(tooLong));
  char targetPath[VD_TARGET_PATH_SIZE];
  memset(targetPath, 'x', sizeof targetPath);
  EXPECT_FALSE(BuildTargetPath(tooLong, targetPath));
  EXPECT_EQ(targetPath[0], 'x');  // left as it was
}

TEST(TargetPath, UncLimitCountsTheLongerPrefix) {
  // "\??\UNC\" is 8 characters and replaces the 2 leading backslashes.
  const std::string longest = "\\\\" + std::string(251, 's');
  EXPECT_TRUE(TargetPathFits(longest));
  EXPECT_EQ(Target(longest).size(), VD_TARGET_PATH_SIZE - 1u);
  EXPECT_FALSE(TargetPathFits(longest + "s"));
}

TEST(TargetPathDisplay, ShowsWhatTheUserChose) {
  for (const std::string path : {"C:\\v.vmv", "\\\\srv\\share\\v.vmv", "D:\\N\\x.vmv",
                                 "N:\\vault.vmv", "\\\\N\\share\\a.vmv"}) {
    EXPECT_EQ(DisplayOf(Target(path)), path);
  }
}

TEST(TargetPathDisplay, TheSixthCharacterDecidesTheForm) {
  EXPECT_EQ(DisplayOf("\\??\\UNC\\srv\\share\\v.vmv"), "\\\\srv\\share\\v.vmv");
  EXPECT_EQ(DisplayOf("\\??\\C:\\v.vmv"), "C:\\v.vmv");
  // Any N at index 5 marks the UNC form, whatever precedes it.
  EXPECT_EQ(DisplayOf("\\??\\xNxx\\rest"), "\\\\\\rest");
}

TEST(TargetPathDisplay, ShortOrUnterminatedRepliesStayInsideTheField) {
  EXPECT_EQ(DisplayOf(""), "");
  EXPECT_EQ(DisplayOf("\\??"), "");
  EXPECT_EQ(DisplayOf("\\??\\UN"), "\\\\");
  char full[VD_TARGET_PATH_SIZE];
  memset(full, 'a', sizeof full);  // no NUL anywhere
  EXPECT_EQ(TargetPathDisplay(full), std::string(VD_TARGET_PATH_SIZE - 4, 'a'));
}

TEST(DriveRecognition, OnlyTheDriversVolumeDevicesCount) {
  EXPECT_TRUE(IsVolumeDeviceTarget("\\Device\\VelmorcryptVolume0"));
  EXPECT_TRUE(IsVolumeDeviceTarget("\\Device\\VelmorcryptVolume17"));
  EXPECT_TRUE(IsVolumeDeviceTarget("\\??\\\\Device\\VelmorcryptVolume3"));  // anywhere in it
  EXPECT_FALSE(IsVolumeDeviceTarget("\\??\\C:\\Users\\folder"));            // a substituted folder
  EXPECT_FALSE(IsVolumeDeviceTarget("\\Device\\HarddiskVolume2"));
  EXPECT_FALSE(IsVolumeDeviceTarget("\\Device\\Velmorcrypt"));  // the control device
  EXPECT_FALSE(IsVolumeDeviceTarget("\\device\\velmorcryptvolume0"));
  EXPECT_FALSE(IsVolumeDeviceTarget(""));
}

TEST(DeviceNames, AreFormedFromLetterAndNumber) {
  EXPECT_EQ(VolumeDeviceName(3), "\\Device\\VelmorcryptVolume3");
  EXPECT_EQ(VolumeDeviceName(-1), "\\Device\\VelmorcryptVolume-1");
  EXPECT_EQ(DriveDevicePath('E'), "\\\\.\\E:");
  EXPECT_EQ(DriveName('E'), "E:");
  EXPECT_EQ(DriveRoot('E'), "E:\\");
}

class MountRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (uint32_t i = 0; i < kHeaderSize; ++i) header[i] = static_cast<uint8_t>(i * 7 + 1);
    memset(&request, 0xCC, sizeof request);
  }

  uint8_t header[kHeaderSize];
  VolumeControlRecord request;
};

TEST_F(MountRequestTest, CarriesEveryFieldInItsPlace) {
  ASSERT_TRUE(FillMountRequest(&request, "\\\\srv\\share\\v.vmv", 'E', VD_HEADER_EXTERNAL,
                               kBlowfish448, header, 0x12345678u, 1));
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&request);
  EXPECT_STREQ(reinterpret_cast<const char*>(bytes), "\\??\\UNC\\srv\\share\\v.vmv");
  EXPECT_EQ(bytes[260], 'E');
  EXPECT_EQ(bytes[261], 4);
  EXPECT_EQ(memcmp(bytes + 262, header + 0x380, 64), 0);
  EXPECT_EQ(memcmp(bytes + 326, header + 0x3C0, 64), 0);
  EXPECT_EQ(bytes[390], 2);
  const uint8_t session[4] = {0x78, 0x56, 0x34, 0x12};  // little-endian
  EXPECT_EQ(memcmp(bytes + 400, session, 4), 0);
  EXPECT_EQ(bytes[405], 1);
}

TEST_F(MountRequestTest, BytesItDoesNotSetAreZero) {
  ASSERT_TRUE(FillMountRequest(&request, "C:\\v.vmv", 'F', VD_HEADER_IN_VOLUME_FILE, kAes128,
                               header, 7, 0));
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&request);
  const size_t pathLength = strlen("\\??\\C:\\v.vmv");
  for (size_t i = pathLength; i < 260; ++i) ASSERT_EQ(bytes[i], 0) << "targetPath byte " << i;
  EXPECT_EQ(bytes[391], 0);
  for (size_t i = 392; i < 400; ++i) EXPECT_EQ(bytes[i], 0) << "volumeSize byte " << i;
  EXPECT_EQ(bytes[404], 0);
  EXPECT_EQ(bytes[406], 0);
  EXPECT_EQ(bytes[407], 0);
  EXPECT_EQ(request.headerPlacement, 1);
  EXPECT_EQ(request.algorithm, 1);
}

TEST_F(MountRequestTest, ReadOnlyIsOneExactlyWhenTheFlagIsOne) {
  for (int flag : {0, 1, 2, -1}) {
    ASSERT_TRUE(FillMountRequest(&request, "C:\\v.vmv", 'E', 1, kAes256, header, 0, flag));
    EXPECT_EQ(request.readOnly, flag == 1 ? 1 : 0) << "flag " << flag;
  }
}

TEST_F(MountRequestTest, TooLongPathLeavesAZeroedRecord) {
  EXPECT_FALSE(
      FillMountRequest(&request, "C:\\" + std::string(300, 'a'), 'E', 1, kAes128, header, 0, 0));
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&request);
  for (size_t i = 0; i < sizeof request; ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i;
}

TEST(DismountRequest, CarriesLetterSessionForceAndReadOnlyZero) {
  VolumeControlRecord request;
  memset(&request, 0xCC, sizeof request);
  FillDismountRequest(&request, 'G', 0xA1B2C3D4u, false);
  EXPECT_EQ(request.driveLetter, 'G');
  EXPECT_EQ(request.logonSessionId, 0xA1B2C3D4u);
  EXPECT_EQ(request.readOnly, 0);
  EXPECT_EQ(request.force, 0);
  EXPECT_EQ(request.targetPath[0], 0);
  EXPECT_EQ(request.algorithm, 0);
  FillDismountRequest(&request, 'G', 0xA1B2C3D4u, true);
  EXPECT_EQ(request.force, 1);
}

TEST(QueryReply, GivesDisplayPathAlgorithmAndSize) {
  VolumeControlRecord reply = {};
  memcpy(reply.targetPath, "\\??\\UNC\\srv\\share\\v.vmv", 24);
  reply.algorithm = 3;
  reply.volumeSize = 0x123456789ull;
  const VolumeInfo info = ReadQueryReply(reply);
  EXPECT_EQ(info.volumePath, "\\\\srv\\share\\v.vmv");
  EXPECT_EQ(info.algorithm, 3);
  EXPECT_EQ(info.volumeSize, 0x123456789ull);
}

TEST(DriverVersionText, IsDottedSignedNumbers) {
  EXPECT_EQ(FormatDriverVersion({1, 2, 3}), "1.2.3");
  EXPECT_EQ(FormatDriverVersion({10, 0, 2147483647}), "10.0.2147483647");
  EXPECT_EQ(FormatDriverVersion({-1, 0, 0}), "-1.0.0");
}

}  // namespace
