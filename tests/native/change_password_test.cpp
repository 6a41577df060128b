// The password change engine: the order and texts of its checks, the
// header found in the last 1044 bytes of either kind of file, and files
// that stay as they were whenever the change does not succeed.
#include "volume/change_password.h"

#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "engine_test_support.h"
#include "volume/header.h"

namespace {

constexpr char kOld[] = "old password";
constexpr char kNew[] = "new password";

int Open(std::vector<uint8_t> header, const std::string& password) {
  return OpenHeader(header.data(), reinterpret_cast<const uint8_t*>(password.data()),
                    static_cast<uint32_t>(password.size()));
}

// The body keys of an opened header.
std::vector<uint8_t> BodyKeys(std::vector<uint8_t> header, const std::string& password) {
  EXPECT_NE(OpenHeader(header.data(), reinterpret_cast<const uint8_t*>(password.data()),
                       static_cast<uint32_t>(password.size())),
            0);
  return {header.begin() + kSectorIvSeedOffset, header.begin() + kMacOffset};
}

std::vector<uint8_t> SealedHeader(const std::string& password, int algorithm) {
  std::vector<uint8_t> header(kHeaderSize);
  uint8_t sectorKey[kBodyKeySize];
  uint8_t sectorIvSeed[kBodyKeySize];
  EXPECT_TRUE(SealHeader(header.data(), reinterpret_cast<const uint8_t*>(password.data()),
                         static_cast<uint32_t>(password.size()), algorithm, sectorKey,
                         sectorIvSeed));
  return header;
}

std::vector<uint8_t> LastHeader(const std::vector<uint8_t>& file) {
  return {file.end() - kHeaderSize, file.end()};
}

class ChangePasswordTest : public ::testing::Test {
 protected:
  // A volume file: a body of 5000 patterned bytes, then the header.
  std::string MakeVolume(const std::string& password = kOld, int algorithm = kAes256) {
    std::vector<uint8_t> bytes(5000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    const std::vector<uint8_t> header = SealedHeader(password, algorithm);
    bytes.insert(bytes.end(), header.begin(), header.end());
    const std::string path = folder.File("volume.vmv");
    WriteWholeFile(path, bytes);
    return path;
  }

  ChangePasswordInput Input(const std::string& path) { return {path, kOld, kNew, kNew}; }

  // Runs a change that must fail and checks that the file stayed as it was.
  void ExpectRefused(const ChangePasswordInput& input, const std::string& message) {
    const std::vector<uint8_t> before = ReadWholeFile(input.path);
    const ChangePasswordOutcome result = ChangeVolumePassword(fileSystem, input);
    EXPECT_FALSE(result.outcome.success);
    EXPECT_EQ(result.outcome.message, message);
    EXPECT_EQ(result.outcome.caption, "Apply Error");
    EXPECT_TRUE(result.lastDirectory.empty());
    EXPECT_EQ(ReadWholeFile(input.path), before) << "a failed change altered the file";
  }

  TempFolder folder;
  FaultyFileSystem fileSystem;
};

TEST_F(ChangePasswordTest, EmptyPathComesFirst) {
  ExpectRefused({"", "", "a", "b"}, "Please select the file containing the header block.");
}

TEST_F(ChangePasswordTest, EveryPasswordFieldIsRequired) {
  const std::string path = MakeVolume();
  const std::string message = "Please fill in all password fields.";
  ExpectRefused({path, "", kNew, kNew}, message);
  ExpectRefused({path, kOld, "", kNew}, message);
  ExpectRefused({path, kOld, kNew, ""}, message);
  ExpectRefused({path, std::string(65, 'x'), "", "y"}, message);
}

TEST_F(ChangePasswordTest, LongCurrentPasswordComesBeforeTheNewOnes) {
  const std::string path = MakeVolume();
  ExpectRefused({path, std::string(65, 'x'), "a", "b"},
                "Current password cannot be longer than 64 characters.");
}

TEST_F(ChangePasswordTest, NewPasswordChecksInOrder) {
  const std::string path = MakeVolume();
  ExpectRefused(
      {path, std::string(65, 'x'), kNew, kNew, "Letter 1 of the password cannot be used."},
      "Current password cannot be longer than 64 characters.");
  ExpectRefused({path, kOld, kNew, "New password", "Letter 1 of the password cannot be used."},
                "Letter 1 of the password cannot be used.");
  ExpectRefused({path, kOld, kNew, "New password"}, "New passwords do not match.");
  ExpectRefused({path, kOld, std::string(65, 'n'), std::string(65, 'm')},
                "New passwords do not match.");
  ExpectRefused({path, kOld, std::string(65, 'n'), std::string(65, 'n')},
                "Passwords cannot be longer than 64 characters.");
}

TEST_F(ChangePasswordTest, PasswordsOf64BytesAreAccepted) {
  const std::string current(64, 'c');
  const std::string fresh(64, 'f');
  const std::string path = MakeVolume(current);
  ASSERT_TRUE(ChangeVolumePassword(fileSystem, {path, current, fresh, fresh}).outcome.success);
  EXPECT_EQ(Open(LastHeader(ReadWholeFile(path)), fresh), kAes256);
}

TEST_F(ChangePasswordTest, MissingFile) {
  const ChangePasswordOutcome result =
      ChangeVolumePassword(fileSystem, Input(folder.File("missing.vmv")));
  EXPECT_EQ(result.outcome.message, "Error opening file.");
  EXPECT_EQ(result.outcome.caption, "Apply Error");
}

TEST_F(ChangePasswordTest, FileTooSmallForAHeader) {
  const std::string path = folder.File("small.ehb");
  WriteWholeFile(path, std::vector<uint8_t>(1043, 0));
  ExpectRefused(Input(path), "This file does not seem to contain a header block.");
}

TEST_F(ChangePasswordTest, ZerosAreNoHeader) {
  const std::string path = folder.File("zeros.ehb");
  WriteWholeFile(path, std::vector<uint8_t>(kHeaderSize, 0));
  ExpectRefused(Input(path), "Error changing password.");
}

TEST_F(ChangePasswordTest, WrongCurrentPassword) {
  const std::string path = MakeVolume();
  ExpectRefused({path, "Old password", kNew, kNew}, "Error changing password.");
}

TEST_F(ChangePasswordTest, BodyOnlyVolumeFileHoldsNoHeader) {
  const std::string path = folder.File("body.vmv");
  WriteWholeFile(path, std::vector<uint8_t>(4096, 0x5C));
  ExpectRefused(Input(path), "Error changing password.");
}

TEST_F(ChangePasswordTest, VolumeFileChangesOnlyItsLastHeaderBytes) {
  for (int algorithm = kAes128; algorithm <= kBlowfish448; ++algorithm) {
    SCOPED_TRACE(AlgorithmName(algorithm));
    const std::string path = MakeVolume(kOld, algorithm);
    const std::vector<uint8_t> before = ReadWholeFile(path);
    const ChangePasswordOutcome result = ChangeVolumePassword(fileSystem, Input(path));
    ASSERT_TRUE(result.outcome.success) << result.outcome.message;
    EXPECT_EQ(result.outcome.message, "Password successfully changed.");
    EXPECT_EQ(result.outcome.caption, "Apply");
    EXPECT_EQ(result.lastDirectory, folder.Folder());

    const std::vector<uint8_t> after = ReadWholeFile(path);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_TRUE(std::equal(before.begin(), before.end() - kHeaderSize, after.begin()));
    EXPECT_NE(LastHeader(after), LastHeader(before));
    EXPECT_EQ(Open(LastHeader(after), kOld), 0);
    EXPECT_EQ(Open(LastHeader(after), kNew), algorithm);
    EXPECT_EQ(BodyKeys(LastHeader(after), kNew), BodyKeys(LastHeader(before), kOld));
  }
}

TEST_F(ChangePasswordTest, ExternalHeaderBlockKeepsItsSize) {
  const std::string path = folder.File("volume.ehb");
  const std::vector<uint8_t> before = SealedHeader(kOld, kBlowfish128);
  WriteWholeFile(path, before);
  ASSERT_TRUE(ChangeVolumePassword(fileSystem, Input(path)).outcome.success);
  const std::vector<uint8_t> after = ReadWholeFile(path);
  ASSERT_EQ(after.size(), kHeaderSize);
  EXPECT_EQ(Open(after, kOld), 0);
  EXPECT_EQ(Open(after, kNew), kBlowfish128);
  EXPECT_EQ(BodyKeys(after, kNew), BodyKeys(before, kOld));
}

// The backup of both headers is flushed before the header is overwritten;
// the new header is flushed and read back before success, and the backup
// is then removed.
TEST_F(ChangePasswordTest, NewHeaderIsFlushedBeforeSuccess) {
  const std::string path = MakeVolume();
  ASSERT_TRUE(ChangeVolumePassword(fileSystem, Input(path)).outcome.success);
  const std::vector<std::string> expected = {"size",  "read",  "write", "flush",
                                             "write", "flush", "read"};
  EXPECT_EQ(fileSystem.log, expected);
  EXPECT_EQ(fileSystem.removed, std::vector<std::string>{HeaderBackupPath(path)});
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"volume.vmv"});
}

TEST_F(ChangePasswordTest, FailedSizeOrRead) {
  const std::string path = MakeVolume();
  fileSystem.failAt = 0;  // size
  ExpectRefused(Input(path), "Error reading file.");
  fileSystem.log.clear();
  fileSystem.failAt = 1;  // read
  ExpectRefused(Input(path), "Error reading file.");
}

// A write, flush or read-back that fails, of the backup or of the header,
// also one that wrote part of its bytes first: the old header is in place
// (put back if need be), the old password still works and no backup stays.
TEST_F(ChangePasswordTest, FailedWriteKeepsTheOldPassword) {
  for (int failAt = 2; failAt <= 6; ++failAt) {
    for (bool shortWrite : {false, true}) {
      SCOPED_TRACE(std::to_string(failAt) + (shortWrite ? " short" : ""));
      const std::string path = MakeVolume();
      fileSystem.log.clear();
      fileSystem.failAt = failAt;
      fileSystem.shortWrite = shortWrite;
      ExpectRefused(Input(path), "Error writing file.");
      EXPECT_EQ(Open(LastHeader(ReadWholeFile(path)), kOld), kAes256);
      EXPECT_FALSE(std::filesystem::exists(HeaderBackupPath(path)));
    }
  }
}

}  // namespace
