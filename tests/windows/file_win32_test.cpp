// The Win32 file interface: what sharing for reading allows, and free space
// asked of a folder rather than of a drive root.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "platform/file.h"
#include "platform/path.h"

namespace {

class Win32FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              (std::string("vm-win32-") +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  std::string PathOf(const char* name) const { return (folder_ / name).string(); }

  std::filesystem::path folder_;
  FileSystem& fileSystem_ = SystemFileSystem();
};

// Every open shares for reading only: two readers may share a file, but
// nobody may write or delete a file that is open, and a file open for
// writing cannot be opened at all (its writer does not share writing).
TEST_F(Win32FileTest, OpenFilesAreSharedForReadingOnly) {
  const std::string path = PathOf("shared.vmv");
  std::unique_ptr<File> writer = fileSystem_.Open(path, OpenMode::kCreateReadWrite);
  ASSERT_TRUE(writer);
  ASSERT_TRUE(writer->WriteAt(0, "data", 4));
  EXPECT_FALSE(fileSystem_.Open(path, OpenMode::kRead));
  EXPECT_FALSE(fileSystem_.Open(path, OpenMode::kReadWrite));
  EXPECT_FALSE(fileSystem_.Remove(path));
  writer.reset();

  std::unique_ptr<File> reader = fileSystem_.Open(path, OpenMode::kRead);
  ASSERT_TRUE(reader);
  std::unique_ptr<File> secondReader = fileSystem_.Open(path, OpenMode::kRead);
  ASSERT_TRUE(secondReader);
  char text[4];
  EXPECT_TRUE(secondReader->ReadAt(0, text, 4));
  EXPECT_FALSE(fileSystem_.Open(path, OpenMode::kReadWrite));
  EXPECT_FALSE(fileSystem_.Open(path, OpenMode::kCreateReadWrite));
  EXPECT_FALSE(fileSystem_.Remove(path));

  reader.reset();
  secondReader.reset();
  EXPECT_TRUE(fileSystem_.Remove(path));
}

// The same folder measured through a drive-letter path, its forward-slash
// spelling and its root gives an answer each time; a folder that does not
// exist gives none.
TEST_F(Win32FileTest, FreeSpaceOfFolders) {
  uint64_t bytes = 0;
  const std::string path = PathOf("new.vmv");
  ASSERT_EQ(path[1], ':');
  EXPECT_TRUE(fileSystem_.FreeSpace(path, &bytes));
  EXPECT_GT(bytes, 0u);
  std::string forward = path;
  for (char& c : forward) c = c == '\\' ? '/' : c;
  EXPECT_TRUE(fileSystem_.FreeSpace(forward, &bytes));
  EXPECT_TRUE(fileSystem_.FreeSpace(path.substr(0, 3) + "new.vmv", &bytes));
  EXPECT_FALSE(fileSystem_.FreeSpace(PathOf("missing") + "\\new.vmv", &bytes));
}

// A relative name is measured in the current folder.
TEST_F(Win32FileTest, FreeSpaceOfARelativeName) {
  uint64_t bytes = 0;
  EXPECT_TRUE(fileSystem_.FreeSpace("new.vmv", &bytes));
  EXPECT_EQ(FolderOfPath("new.vmv"), "");
}

// The same file by its volume serial number and file index, whatever the
// spelling of its path; a file with the same bytes is another file.
TEST_F(Win32FileTest, SameFileComparesIdentities) {
  const std::string path = PathOf("volume.vmv");
  const std::string twin = PathOf("twin.vmv");
  for (const std::string& name : {path, twin}) {
    std::unique_ptr<File> file = fileSystem_.Open(name, OpenMode::kCreateReadWrite);
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->WriteAt(0, "same", 4));
  }
  const std::string upper = folder_.string() + "\\.\\VOLUME.VMV";
  EXPECT_TRUE(fileSystem_.SameFile(path, upper));
  EXPECT_TRUE(fileSystem_.SameFile(
      path, folder_.string() + "\\..\\" + folder_.filename().string() + "\\volume.vmv"));
  EXPECT_FALSE(fileSystem_.SameFile(path, twin));
  EXPECT_FALSE(fileSystem_.SameFile(path, PathOf("missing.vmv")));
}

}  // namespace
