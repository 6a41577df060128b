// The platform's file interface and the path helper.
#include "platform/file.h"

#include <gtest/gtest.h>
#include <string.h>

#include <filesystem>
#include <vector>

#include "engine_test_support.h"
#include "platform/path.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

TEST(FolderOfPathTest, KeepsTheFolderAndItsSeparator) {
  EXPECT_EQ(FolderOfPath("C:\\Volumes\\secret.vmv"), "C:\\Volumes\\");
  EXPECT_EQ(FolderOfPath("C:\\secret.vmv"), "C:\\");
  EXPECT_EQ(FolderOfPath("\\\\server\\share\\secret.vmv"), "\\\\server\\share\\");
  EXPECT_EQ(FolderOfPath("/home/user/secret.vmv"), "/home/user/");
  EXPECT_EQ(FolderOfPath("/secret.vmv"), "/");
  EXPECT_EQ(FolderOfPath("C:/Volumes/secret.vmv"), "C:/Volumes/");
  EXPECT_EQ(FolderOfPath("C:\\a/b\\secret.vmv"), "C:\\a/b\\");
  EXPECT_EQ(FolderOfPath("C:\\Volumes\\"), "C:\\Volumes\\");
}

TEST(SamePathTest, SeparatorsAreAlikeAndCaseFollowsThePlatform) {
  EXPECT_TRUE(SamePath("C:\\d\\v.vmv", "C:/d/v.vmv"));
  EXPECT_FALSE(SamePath("C:\\d\\v.vmv", "C:\\d\\v.ehb"));
  EXPECT_FALSE(SamePath("C:\\d\\v.vmv", "C:\\d\\v.vmv2"));
#ifdef _WIN32
  EXPECT_TRUE(SamePath("c:\\D\\V.VMV", "C:\\d\\v.vmv"));
#else
  EXPECT_FALSE(SamePath("/d/V.vmv", "/d/v.vmv"));
#endif
}

TEST(FolderOfPathTest, PathWithoutSeparator) {
  EXPECT_EQ(FolderOfPath("secret.vmv"), "");
  EXPECT_EQ(FolderOfPath("C:secret.vmv"), "C:");
  EXPECT_EQ(FolderOfPath(""), "");
}

class SystemFileTest : public ::testing::Test {
 protected:
  TempFolder folder;
  FileSystem& fileSystem = SystemFileSystem();
};

TEST_F(SystemFileTest, WritesAndReadsAtOffsets) {
  const std::string path = folder.File("data.bin");
  std::unique_ptr<File> file = fileSystem.Open(path, OpenMode::kCreateReadWrite);
  ASSERT_TRUE(file);
  ASSERT_TRUE(file->WriteAt(100, "world", 5));
  ASSERT_TRUE(file->WriteAt(0, "hello", 5));
  ASSERT_TRUE(file->Flush());
  uint64_t size = 0;
  ASSERT_TRUE(file->Size(&size));
  EXPECT_EQ(size, 105u);
  char text[6] = {};
  ASSERT_TRUE(file->ReadAt(100, text, 5));
  EXPECT_STREQ(text, "world");
  file.reset();

  const std::vector<uint8_t> bytes = ReadWholeFile(path);
  ASSERT_EQ(bytes.size(), 105u);
  EXPECT_EQ(memcmp(bytes.data(), "hello", 5), 0);
  EXPECT_EQ(bytes[50], 0);
}

TEST_F(SystemFileTest, ShortReadFails) {
  const std::string path = folder.File("short.bin");
  WriteWholeFile(path, std::vector<uint8_t>(1043, 7));
  std::unique_ptr<File> file = fileSystem.Open(path, OpenMode::kRead);
  ASSERT_TRUE(file);
  std::vector<uint8_t> buffer(1044);
  EXPECT_FALSE(file->ReadAt(0, buffer.data(), 1044));
  EXPECT_FALSE(file->ReadAt(2000, buffer.data(), 1));
  EXPECT_TRUE(file->ReadAt(0, buffer.data(), 1043));
}

TEST_F(SystemFileTest, SetSizeCutsAndExtends) {
  const std::string path = folder.File("size.bin");
  std::unique_ptr<File> file = fileSystem.Open(path, OpenMode::kCreateReadWrite);
  ASSERT_TRUE(file);
  ASSERT_TRUE(file->WriteAt(0, "0123456789", 10));
  ASSERT_TRUE(file->SetSize(4));
  uint64_t size = 0;
  ASSERT_TRUE(file->Size(&size));
  EXPECT_EQ(size, 4u);
  ASSERT_TRUE(file->SetSize(2000));
  ASSERT_TRUE(file->Size(&size));
  EXPECT_EQ(size, 2000u);
  file.reset();
  const std::vector<uint8_t> bytes = ReadWholeFile(path);
  ASSERT_EQ(bytes.size(), 2000u);
  EXPECT_EQ(memcmp(bytes.data(), "0123", 4), 0);
  EXPECT_EQ(bytes[4], 0);
}

// Offsets beyond 4 GiB take the high half of the offset (a sparse file).
TEST_F(SystemFileTest, OffsetsBeyondFourGigabytes) {
  const std::string path = folder.File("large.bin");
  std::unique_ptr<File> file = fileSystem.Open(path, OpenMode::kCreateReadWrite);
  ASSERT_TRUE(file);
  const uint64_t offset = (5ull << 30) + 3;
  ASSERT_TRUE(file->SetSize(offset + 8));
  ASSERT_TRUE(file->WriteAt(offset, "far away", 8));
  ASSERT_TRUE(file->WriteAt(3, "near", 4));
  char text[9] = {};
  ASSERT_TRUE(file->ReadAt(offset, text, 8));
  EXPECT_STREQ(text, "far away");
  ASSERT_TRUE(file->ReadAt(3, text, 4));
  EXPECT_EQ(memcmp(text, "near", 4), 0);
  uint64_t size = 0;
  ASSERT_TRUE(file->Size(&size));
  EXPECT_EQ(size, offset + 8);
}

TEST_F(SystemFileTest, OpenModes) {
  const std::string path = folder.File("modes.bin");
  EXPECT_FALSE(fileSystem.Open(path, OpenMode::kRead));
  EXPECT_FALSE(fileSystem.Open(path, OpenMode::kReadWrite));
  WriteWholeFile(path, std::vector<uint8_t>(300, 1));

  std::unique_ptr<File> reader = fileSystem.Open(path, OpenMode::kRead);
  ASSERT_TRUE(reader);
  EXPECT_FALSE(reader->WriteAt(0, "x", 1));
  reader.reset();

  std::unique_ptr<File> writer = fileSystem.Open(path, OpenMode::kReadWrite);
  ASSERT_TRUE(writer);
  uint64_t size = 0;
  ASSERT_TRUE(writer->Size(&size));
  EXPECT_EQ(size, 300u);
  writer.reset();

  // Created anew: an existing file is replaced.
  std::unique_ptr<File> created = fileSystem.Open(path, OpenMode::kCreateReadWrite);
  ASSERT_TRUE(created);
  ASSERT_TRUE(created->Size(&size));
  EXPECT_EQ(size, 0u);
}

// A streaming reader reads whole aligned pages past the cache and anything
// else through it; both give the file's bytes, including the short tail of
// the file and bytes written a moment ago that are still only in the cache.
TEST_F(SystemFileTest, StreamingReadsGiveTheFilesBytes) {
  const std::string path = folder.File("stream.bin");
  constexpr uint32_t kPage = 4096;
  std::vector<uint8_t> bytes(3 * kPage + 100);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 4096);
  std::unique_ptr<File> writer = fileSystem.Open(path, OpenMode::kCreateReadWrite);
  ASSERT_TRUE(writer);
  ASSERT_TRUE(writer->WriteAt(0, bytes.data(), static_cast<uint32_t>(bytes.size())));
  writer.reset();

  std::unique_ptr<File> reader = fileSystem.Open(path, OpenMode::kReadStreaming);
  ASSERT_TRUE(reader);
  EXPECT_FALSE(reader->WriteAt(0, "x", 1));
  struct alignas(kPage) Pages {
    uint8_t bytes[5 * kPage];
  };
  auto buffer = std::make_unique<Pages>();
  const struct {
    uint64_t offset;
    uint32_t size;
    uint32_t bufferOffset;  // 0: the buffer is page-aligned
    bool read;
  } rows[] = {
      {0, 2 * kPage, 0, true},  {kPage, kPage, 0, true},       {kPage, kPage, 8, true},
      {100, kPage, 0, true},    {0, 3 * kPage + 100, 0, true}, {2 * kPage, kPage + 100, 0, true},
      {0, 4 * kPage, 0, false}, {3 * kPage, kPage, 0, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.offset << "+" << row.size << " at " << row.bufferOffset);
    uint8_t* into = buffer->bytes + row.bufferOffset;
    memset(into, 0xEE, row.size);
    ASSERT_EQ(reader->ReadAt(row.offset, into, row.size), row.read);
    if (row.read) {
      EXPECT_EQ(memcmp(into, bytes.data() + row.offset, row.size), 0);
    }
  }
}

TEST_F(SystemFileTest, FoldersAreNotFiles) {
  EXPECT_FALSE(fileSystem.Open(folder.Folder(), OpenMode::kRead));
  EXPECT_FALSE(fileSystem.Open(folder.Folder(), OpenMode::kReadWrite));
  EXPECT_FALSE(fileSystem.Open(folder.File("missing") + "/x.vmv", OpenMode::kCreateReadWrite));
}

TEST_F(SystemFileTest, Remove) {
  const std::string path = folder.File("gone.bin");
  WriteWholeFile(path, {1, 2, 3});
  EXPECT_TRUE(fileSystem.Exists(path) && fileSystem.Exists(folder.Folder()));
  EXPECT_TRUE(fileSystem.Remove(path));
  EXPECT_TRUE(folder.Names().empty());
  EXPECT_FALSE(fileSystem.Remove(path) || fileSystem.Exists(path));
}

TEST_F(SystemFileTest, FreeSpaceOfTheFolderThatWouldHoldTheFile) {
  uint64_t bytes = 0;
  ASSERT_TRUE(fileSystem.FreeSpace(folder.File("not-yet.vmv"), &bytes));
  EXPECT_GT(bytes, 0u);
  EXPECT_FALSE(fileSystem.FreeSpace(folder.File("missing") + "/x.vmv", &bytes));
}

// A bare file name is in the working folder.
TEST_F(SystemFileTest, FreeSpaceOfABareName) {
  uint64_t bytes = 0;
  ASSERT_TRUE(fileSystem.FreeSpace("not-yet.vmv", &bytes));
  EXPECT_GT(bytes, 0u);
}

// The writeback hints change neither the bytes nor the size, whatever range
// they name, and the file is still written to and flushed after them.
TEST_F(SystemFileTest, WritebackHintsLeaveTheFileAsWritten) {
  const std::string path = folder.File("writeback.bin");
  std::unique_ptr<File> file = fileSystem.Open(path, OpenMode::kCreateReadWrite);
  ASSERT_TRUE(file);
  constexpr uint32_t kPiece = 1 << 20;
  constexpr uint32_t kPieces = 3;
  std::vector<uint8_t> expected(size_t{kPiece} * kPieces);
  for (size_t i = 0; i < expected.size(); ++i)
    expected[i] = static_cast<uint8_t>(i * 13 + i / 4099);
  for (uint32_t piece = 0; piece < kPieces; ++piece) {
    const uint64_t offset = uint64_t{piece} * kPiece;
    ASSERT_TRUE(file->WriteAt(offset, expected.data() + offset, kPiece));
    file->StartWriteback(offset, kPiece);
    if (piece > 0) file->WaitWriteback(offset - kPiece, kPiece);
  }
  // Empty ranges and ranges past the end.
  file->StartWriteback(0, 0);
  file->WaitWriteback(expected.size(), 0);
  file->StartWriteback(expected.size() + kPiece, kPiece);
  file->WaitWriteback(expected.size() - 10, 5 * uint64_t{kPiece});
  // A range already written back is written again.
  memcpy(expected.data() + 100, "again", 5);
  ASSERT_TRUE(file->WriteAt(100, "again", 5));
  file->StartWriteback(0, kPiece);
  ASSERT_TRUE(file->Flush());

  uint64_t size = 0;
  ASSERT_TRUE(file->Size(&size));
  EXPECT_EQ(size, expected.size());
  std::vector<uint8_t> read(expected.size());
  ASSERT_TRUE(file->ReadAt(0, read.data(), static_cast<uint32_t>(read.size())));
  EXPECT_EQ(read, expected);
  file.reset();
  EXPECT_EQ(ReadWholeFile(path), expected);
}

#ifndef _WIN32
// Files created with either create mode are private to their owner whatever
// the umask, no create writes through a symbolic link (one to a file, or a
// dangling one), the exclusive create fails on both, and the backup reader
// and Remove never follow one; the backup reader takes plain files only.
TEST_F(SystemFileTest, CreatesArePrivateAndNeverGoThroughALink) {
  const std::string victim = folder.File("victim");
  WriteWholeFile(victim, {1, 2, 3});
  const mode_t savedMask = umask(0);
  for (const OpenMode mode : {OpenMode::kCreateReadWrite, OpenMode::kCreateExclusive}) {
    for (const std::string& target : {victim, folder.File("nowhere")}) {
      SCOPED_TRACE(target);
      const std::string link = folder.File("link");
      std::filesystem::remove(link);
      std::filesystem::create_symlink(target, link);
      std::unique_ptr<File> file = fileSystem.Open(link, mode);
      EXPECT_EQ(file != nullptr, mode == OpenMode::kCreateReadWrite);
      if (file) {
        EXPECT_TRUE(file->WriteAt(0, "new", 3));
      }
      file.reset();
      EXPECT_EQ(ReadWholeFile(victim), (std::vector<uint8_t>{1, 2, 3}));
      EXPECT_FALSE(std::filesystem::exists(folder.File("nowhere")));
      if (mode == OpenMode::kCreateReadWrite) {
        struct stat info;
        ASSERT_EQ(lstat(link.c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(info.st_mode & 07777, 0600u);
      }
    }
    const std::string fresh = folder.File("fresh");
    std::filesystem::remove(fresh);
    ASSERT_TRUE(fileSystem.Open(fresh, mode));
    EXPECT_EQ(std::filesystem::status(fresh).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(fileSystem.Open(fresh, OpenMode::kCreateExclusive), nullptr);
  }
  umask(savedMask);
  const std::string link = folder.File("victim-link");
  std::filesystem::create_symlink(victim, link);
  EXPECT_EQ(fileSystem.Open(link, OpenMode::kReadNoFollow), nullptr);
  EXPECT_TRUE(fileSystem.Open(victim, OpenMode::kReadNoFollow));
  const std::string pipe = folder.File("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_EQ(fileSystem.Open(pipe, OpenMode::kReadNoFollow), nullptr);  // and does not wait
  std::filesystem::create_symlink(folder.File("nowhere"), folder.File("dangling"));
  EXPECT_TRUE(fileSystem.Exists(link) && fileSystem.Exists(pipe) &&
              fileSystem.Exists(folder.File("dangling")));  // what the reader refuses is there
  EXPECT_TRUE(fileSystem.Remove(link));
  EXPECT_EQ(ReadWholeFile(victim), (std::vector<uint8_t>{1, 2, 3}));
}

// Two paths are the same file by identity: through a hard link, a symbolic
// link or another spelling; two files with the same bytes are not.
TEST_F(SystemFileTest, SameFileComparesIdentities) {
  const std::string file = folder.File("volume.vmv");
  const std::string twin = folder.File("twin.vmv");
  WriteWholeFile(file, {7});
  WriteWholeFile(twin, {7});
  std::filesystem::create_hard_link(file, folder.File("hard"));
  std::filesystem::create_symlink(file, folder.File("soft"));
  EXPECT_TRUE(fileSystem.SameFile(file, folder.File("hard")));
  EXPECT_TRUE(fileSystem.SameFile(folder.File("soft"), file));
  EXPECT_TRUE(fileSystem.SameFile(file, folder.Folder() + "./volume.vmv"));
  EXPECT_TRUE(fileSystem.SameFile(folder.File("missing"), folder.File("missing")));
  EXPECT_FALSE(fileSystem.SameFile(file, twin));
  EXPECT_FALSE(fileSystem.SameFile(folder.File("missing"), folder.Folder() + "./missing"));
}
#endif

}  // namespace
