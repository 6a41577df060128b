// The volume creation engine: the order and texts of its checks, the two
// file layouts, the body, and what a failed or cancelled creation leaves.
#include "volume/create_volume.h"

#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <vector>

#include "crypto/random.h"
#include "crypto/sectors.h"
#include "engine_test_support.h"
#include "volume/body_cipher.h"
#include "volume/header.h"

namespace {

constexpr char kPassword[] = "correct horse";

class CreateVolumeTest : public ::testing::Test {
 protected:
  CreateVolumeInput Input(uint32_t sizeMb, int algorithm = kAes128, bool external = false) {
    CreateVolumeInput input;
    input.volumePath = folder.File("new.vmv");
    if (external) input.headerPath = folder.File("new.ehb");
    input.sizeMb = sizeMb;
    input.password = kPassword;
    input.confirmation = kPassword;
    input.algorithm = algorithm;
    return input;
  }

  void ExpectRefused(const CreateVolumeInput& input, const std::string& message) {
    const CreateVolumeOutcome result = CreateVolume(fileSystem, input);
    EXPECT_FALSE(result.outcome.success);
    EXPECT_EQ(result.outcome.message, message);
    EXPECT_EQ(result.outcome.caption, "Create Error");
    EXPECT_TRUE(result.lastDirectory.empty());
    EXPECT_TRUE(folder.Names().empty()) << "a failed creation left files behind";
  }

  TempFolder folder;
  FaultyFileSystem fileSystem;
};

// Opens the header with the password and decrypts every body sector on its
// own, by its number; each must give 512 zero bytes.
void ExpectVolumeOpensToZeros(std::vector<uint8_t> header, const std::vector<uint8_t>& body,
                              const std::string& password, int algorithm) {
  ASSERT_EQ(header.size(), kHeaderSize);
  ASSERT_EQ(body.size() % kSectorSize, 0u);
  ASSERT_EQ(OpenHeader(header.data(), reinterpret_cast<const uint8_t*>(password.data()),
                       static_cast<uint32_t>(password.size())),
            algorithm);
  BodyCipher cipher;
  ASSERT_TRUE(BodyCipherInit(&cipher, algorithm, header.data() + kSectorKeyOffset,
                             header.data() + kSectorIvSeedOffset));
  const std::vector<uint8_t> zeros(kSectorSize, 0);
  uint8_t sector[kSectorSize];
  size_t wrong = 0;
  for (uint64_t s = 0; s < body.size() / kSectorSize; ++s) {
    memcpy(sector, body.data() + s * kSectorSize, kSectorSize);
    BodyCipherDecrypt(&cipher, sector, s, 1);
    wrong += memcmp(sector, zeros.data(), kSectorSize) != 0;
  }
  BodyCipherWipe(&cipher);
  EXPECT_EQ(wrong, 0u) << "sectors that do not decrypt to zeros";
}

TEST(ParseVolumeSizeTest, ReadsUnsignedDecimalNumbers) {
  uint32_t size = 7;
  EXPECT_TRUE(ParseVolumeSize("650", &size));
  EXPECT_EQ(size, 650u);
  EXPECT_TRUE(ParseVolumeSize("  999999", &size));
  EXPECT_EQ(size, 999999u);
  EXPECT_TRUE(ParseVolumeSize("4294967295", &size));
  EXPECT_EQ(size, 4294967295u);
  EXPECT_TRUE(ParseVolumeSize("0", &size));
  EXPECT_EQ(size, 0u);
}

TEST(ParseVolumeSizeTest, AnythingElseReadsAsZero) {
  for (const char* text : {"", "   ", "abc", "12a", "-1", "+5", "1.5", "4294967296"}) {
    uint32_t size = 7;
    EXPECT_FALSE(ParseVolumeSize(text, &size)) << text;
    EXPECT_EQ(size, 0u) << text;
  }
}

TEST_F(CreateVolumeTest, EmptyVolumePathComesBeforeEverythingElse) {
  CreateVolumeInput input = Input(0);
  input.volumePath.clear();
  input.password.clear();
  ExpectRefused(input, "Please specify Velmorcrypt volume file to create.");
  EXPECT_TRUE(fileSystem.freeSpaceAsked.empty());
}

TEST_F(CreateVolumeTest, SizeOutOfRangeComesBeforePasswords) {
  const std::string message = "Volume size must be from 1 to 999999 MB";
  for (uint32_t size : {0u, 1000000u, 4294967295u}) {
    CreateVolumeInput input = Input(size);
    input.password.clear();
    ExpectRefused(input, message);
  }
  // A size field that holds no number reads as 0.
  CreateVolumeInput input = Input(5);
  EXPECT_FALSE(ParseVolumeSize("five", &input.sizeMb));
  ExpectRefused(input, message);
}

TEST_F(CreateVolumeTest, LargestSizePassesTheRangeCheck) {
  CreateVolumeInput input = Input(999999);
  input.confirmation.clear();  // stops the creation at the password check
  ExpectRefused(input, "Please specify volume password.");
}

TEST_F(CreateVolumeTest, FreeSpaceIsAskedOfTheVolumeFilesFolder) {
  CreateVolumeInput input = Input(1);
  input.password.clear();
  ExpectRefused(input, "Please specify volume password.");
  ASSERT_EQ(fileSystem.freeSpaceAsked.size(), 1u);
  EXPECT_EQ(fileSystem.freeSpaceAsked[0], input.volumePath);
}

TEST_F(CreateVolumeTest, ExactlyEnoughFreeSpacePasses) {
  fileSystem.freeSpace = 3ull * kMegabyte;
  const CreateVolumeOutcome result = CreateVolume(fileSystem, Input(3));
  EXPECT_TRUE(result.outcome.success) << result.outcome.message;
}

TEST_F(CreateVolumeTest, OneByteTooLittleFreeSpaceFailsBeforePasswords) {
  fileSystem.freeSpace = 3ull * kMegabyte - 1;
  CreateVolumeInput input = Input(3);
  input.password.clear();
  ExpectRefused(input, "Volume size is too large for the specified drive.");
}

TEST_F(CreateVolumeTest, HeaderBytesAreNotCountedAgainstFreeSpace) {
  fileSystem.freeSpace = 1ull * kMegabyte + kHeaderSize - 1;
  EXPECT_TRUE(CreateVolume(fileSystem, Input(1)).outcome.success);
}

TEST_F(CreateVolumeTest, UnknownFreeSpaceSkipsTheCheck) {
  fileSystem.freeSpace = std::nullopt;
  const CreateVolumeOutcome result = CreateVolume(fileSystem, Input(1));
  EXPECT_TRUE(result.outcome.success) << result.outcome.message;
}

TEST_F(CreateVolumeTest, PasswordChecksInOrder) {
  CreateVolumeInput input = Input(1);
  input.password.clear();
  ExpectRefused(input, "Please specify volume password.");
  input = Input(1);
  input.confirmation.clear();
  ExpectRefused(input, "Please specify volume password.");
  // The shell's refusal (letters its code page cannot hold) comes next.
  input = Input(1);
  input.confirmation = "Correct horse";
  input.passwordRefusal = "Letter 1 of the confirmation cannot be used.";
  ExpectRefused(input, input.passwordRefusal);
  input.passwordRefusal.clear();
  ExpectRefused(input, "Passwords do not match.");
  // A mismatch is reported before the length.
  input.password = std::string(65, 'a');
  input.confirmation = std::string(65, 'b');
  ExpectRefused(input, "Passwords do not match.");
  input.confirmation = input.password;
  ExpectRefused(input, "Passwords cannot be longer than 64 characters.");
}

TEST_F(CreateVolumeTest, PasswordOf64BytesIsAccepted) {
  CreateVolumeInput input = Input(1, kBlowfish448);
  input.password = input.confirmation = std::string(64, '\xE9');
  ASSERT_TRUE(CreateVolume(fileSystem, input).outcome.success);
  const std::vector<uint8_t> file = ReadWholeFile(input.volumePath);
  ASSERT_EQ(file.size(), kMegabyte + kHeaderSize);
  ExpectVolumeOpensToZeros({file.begin() + kMegabyte, file.end()},
                           {file.begin(), file.begin() + kMegabyte}, input.password, kBlowfish448);
}

TEST_F(CreateVolumeTest, UnknownAlgorithmIsRefused) {
  ExpectRefused(Input(1, kAlgorithmNone), "Unknown encryption algorithm.");
  ExpectRefused(Input(1, 5), "Unknown encryption algorithm.");
}

// The header block named as the volume file, by the same text, by another
// spelling of a file yet to be made, or through a link to an existing one:
// refused, and no file is made or changed.
TEST_F(CreateVolumeTest, HeaderBlockThatIsTheVolumeFileIsRefused) {
  const std::string other = folder.Folder() + "./new.vmv";
  for (const bool existing : {false, true}) {
    for (const std::string& headerPath : {folder.File("new.vmv"), other, folder.File("link")}) {
      SCOPED_TRACE(headerPath + (existing ? " existing" : ""));
      std::filesystem::remove_all(folder.Folder());
      std::filesystem::create_directories(folder.Folder());
      if (existing) {
        WriteWholeFile(folder.File("new.vmv"), {4, 2});
#ifdef _WIN32
        if (headerPath == folder.File("link")) continue;
#else
        std::filesystem::create_symlink(folder.File("new.vmv"), folder.File("link"));
#endif
      } else if (headerPath == folder.File("link")) {
        continue;
      }
      const auto before = FilesIn(folder.Folder());
      CreateVolumeInput input = Input(1, kAes128);
      input.headerPath = headerPath;
      EXPECT_EQ(CreateVolume(fileSystem, input).outcome.message,
                "The external header block cannot be the Velmorcrypt volume file itself.");
      EXPECT_TRUE(FilesIn(folder.Folder()) == before);
    }
  }
}

TEST_F(CreateVolumeTest, HeaderInTheVolumeFile) {
  for (int algorithm = kAes128; algorithm <= kBlowfish448; ++algorithm) {
    SCOPED_TRACE(AlgorithmName(algorithm));
    const CreateVolumeInput input = Input(1, algorithm);
    const CreateVolumeOutcome result = CreateVolume(fileSystem, input);
    ASSERT_TRUE(result.outcome.success) << result.outcome.message;
    EXPECT_EQ(result.outcome.message, "Velmorcrypt volume successfully created.");
    EXPECT_EQ(result.outcome.caption, "Create");
    EXPECT_EQ(result.lastDirectory, folder.Folder());
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"new.vmv"});
    const std::vector<uint8_t> file = ReadWholeFile(input.volumePath);
    ASSERT_EQ(file.size(), 1049620u);
    ExpectVolumeOpensToZeros({file.begin() + kMegabyte, file.end()},
                             {file.begin(), file.begin() + kMegabyte}, kPassword, algorithm);
  }
}

TEST_F(CreateVolumeTest, ExternalHeaderBlock) {
  for (int algorithm = kAes128; algorithm <= kBlowfish448; ++algorithm) {
    SCOPED_TRACE(AlgorithmName(algorithm));
    const CreateVolumeInput input = Input(1, algorithm, true);
    ASSERT_TRUE(CreateVolume(fileSystem, input).outcome.success);
    const std::vector<uint8_t> volume = ReadWholeFile(input.volumePath);
    const std::vector<uint8_t> header = ReadWholeFile(input.headerPath);
    ASSERT_EQ(volume.size(), 1048576u);
    ASSERT_EQ(header.size(), 1044u);
    ExpectVolumeOpensToZeros(header, volume, kPassword, algorithm);
  }
}

TEST_F(CreateVolumeTest, SectorNumbersRunOnAcrossMegabytes) {
  const CreateVolumeInput input = Input(3, kAes256, true);
  ASSERT_TRUE(CreateVolume(fileSystem, input).outcome.success);
  const std::vector<uint8_t> volume = ReadWholeFile(input.volumePath);
  ASSERT_EQ(volume.size(), 3u * kMegabyte);
  ExpectVolumeOpensToZeros(ReadWholeFile(input.headerPath), volume, kPassword, kAes256);
  // Equal plaintext, different sector numbers: no two sectors are alike.
  EXPECT_NE(memcmp(volume.data(), volume.data() + kSectorSize, kSectorSize), 0);
  EXPECT_NE(memcmp(volume.data(), volume.data() + kMegabyte, kSectorSize), 0);
}

TEST_F(CreateVolumeTest, ExistingFilesAreReplaced) {
  const CreateVolumeInput input = Input(1, kBlowfish128, true);
  WriteWholeFile(input.volumePath, std::vector<uint8_t>(kMegabyte + 5000, 0xAA));
  WriteWholeFile(input.headerPath, std::vector<uint8_t>(3000, 0xAA));
  ASSERT_TRUE(CreateVolume(fileSystem, input).outcome.success);
  const std::vector<uint8_t> volume = ReadWholeFile(input.volumePath);
  EXPECT_EQ(volume.size(), kMegabyte);
  ExpectVolumeOpensToZeros(ReadWholeFile(input.headerPath), volume, kPassword, kBlowfish128);
}

TEST_F(CreateVolumeTest, ProgressOncePerMegabyte) {
  std::vector<std::pair<uint32_t, uint32_t>> calls;
  const CreateVolumeOutcome result =
      CreateVolume(fileSystem, Input(3),
                   [&](uint32_t done, uint32_t total) { calls.emplace_back(done, total); });
  ASSERT_TRUE(result.outcome.success);
  const std::vector<std::pair<uint32_t, uint32_t>> expected = {{0, 3}, {1, 3}, {2, 3}, {3, 3}};
  EXPECT_EQ(calls, expected);
}

TEST_F(CreateVolumeTest, BodyIsWrittenInMegabyteWrites) {
  ASSERT_TRUE(CreateVolume(fileSystem, Input(3)).outcome.success);
  EXPECT_EQ(fileSystem.Count("write"), 4);  // three megabytes and the header
}

TEST_F(CreateVolumeTest, FolderThatCannotBeWritten) {
  CreateVolumeInput input = Input(1);
  input.volumePath = folder.File("missing") + "/new.vmv";
  ExpectRefused(input, "Error creating Velmorcrypt volume.");

  input = Input(1, kAes128, true);
  input.headerPath = folder.File("missing") + "/new.ehb";
  ExpectRefused(input, "Error creating external header block.");

  // The header block made first is removed again.
  input = Input(1, kAes128, true);
  input.volumePath = folder.File("missing") + "/new.vmv";
  ExpectRefused(input, "Error creating Velmorcrypt volume.");
  input = Input(1, kAes128, true);
  fileSystem.failOpen = input.volumePath;
  ExpectRefused(input, "Error creating Velmorcrypt volume.");
}

TEST_F(CreateVolumeTest, FailingRandomSourceCreatesNothing) {
  const RandomSource previous = SetRandomSource([](uint8_t*, uint32_t) -> bool { return false; });
  ExpectRefused(Input(1), "Error creating Velmorcrypt volume.");
  ExpectRefused(Input(1, kAes128, true), "Error creating Velmorcrypt volume.");
  SetRandomSource(previous);
}

// A disk that fills up at any one write, size change or flush of a small
// creation: the creation fails and removes its files, in both layouts.
TEST_F(CreateVolumeTest, FullDiskAtEveryStep) {
  for (bool external : {false, true}) {
    FaultyFileSystem clean;
    ASSERT_TRUE(CreateVolume(clean, Input(2, kAes128, external)).outcome.success);
    std::filesystem::remove(folder.File("new.vmv"));
    std::filesystem::remove(folder.File("new.ehb"));
    for (size_t step = 0; step < clean.log.size(); ++step) {
      for (bool shortWrite : {false, true}) {
        if (shortWrite && clean.log[step] != "write") continue;
        SCOPED_TRACE(std::string(external ? "external header, " : "header inside, ") +
                     clean.log[step] + " " + std::to_string(step) + (shortWrite ? " short" : ""));
        fileSystem.log.clear();
        fileSystem.failAt = static_cast<int>(step);
        fileSystem.shortWrite = shortWrite;
        ExpectRefused(Input(2, kAes128, external), "Error writing Velmorcrypt volume.");
      }
    }
  }
}

TEST_F(CreateVolumeTest, CancellingRemovesTheFiles) {
  for (bool external : {false, true}) {
    std::atomic<bool> cancel = false;
    const CreateVolumeOutcome result = CreateVolume(
        fileSystem, Input(3, kAes128, external),
        [&](uint32_t done, uint32_t) { cancel = done == 1; }, &cancel);
    EXPECT_FALSE(result.outcome.success);
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(fileSystem.Count("write"), external ? 2 : 1);  // header block, first megabyte
    EXPECT_TRUE(folder.Names().empty());
    fileSystem.log.clear();
  }
}

TEST_F(CreateVolumeTest, CancelledBeforeTheBodyStarts) {
  const std::atomic<bool> cancel = true;
  const CreateVolumeOutcome result = CreateVolume(fileSystem, Input(1), {}, &cancel);
  EXPECT_TRUE(result.cancelled);
  EXPECT_FALSE(result.outcome.success);
  EXPECT_TRUE(folder.Names().empty());
}

}  // namespace
