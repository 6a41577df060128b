// Faults injected through the file interface and the driver port, one at a
// time and, for the password change, two at a time: a disk that fills up,
// a write that fails or comes up short, a read that returns fewer bytes
// than asked, a file that vanishes between two checks, a driver that
// refuses each request in turn. After each: the right message, no success
// reported, no file left that looks like a volume, and a volume whose
// password change failed still opens with its old password.
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "driver/dismount.h"
#include "driver/mount_command.h"
#include "driver/service.h"
#include "driver_test_fakes.h"
#include "engine_test_support.h"
#include "volume/change_password.h"
#include "volume/create_volume.h"
#include "volume/header.h"

namespace {

constexpr char kPassword[] = "fault password";
constexpr char kNewPassword[] = "new fault password";

int totalFaults = 0;

// Counts one injected fault that ended cleanly.
void Count(int* faults) {
  ++*faults;
  ++totalFaults;
}

void Report(const char* what, int faults) {
  std::cout << "injected faults (" << what << "): " << faults
            << (::testing::Test::HasFailure() ? ", SOME DID NOT END CLEANLY\n"
                                              : ", all ended cleanly\n");
  ::testing::Test::RecordProperty("injected_faults", faults);
}

const uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

// The platform's file system with every operation numbered from 0 (opens,
// reads, writes, sizes, size changes, flushes; removals are not counted and
// always pass through). The operations whose numbers are in `fail` fail: a
// failing write first writes the whole sectors of its first half, a failing
// read fills half of its buffer, as a full disk or a short read would. `vanish` is removed
// just before the operation numbered `vanishAt`.
class PlannedFaults : public FileSystem {
 public:
  std::set<int> fail;
  std::string vanish;
  int vanishAt = -1;
  bool failRemove = false;
  int operations = 0;
  // The numbers of the opens that only look whether a file is there.
  std::set<int> looks;

  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
    if (mode == OpenMode::kReadNoFollow) looks.insert(operations);
    if (!Pass()) return nullptr;
    std::unique_ptr<File> file = SystemFileSystem().Open(path, mode);
    if (!file) return nullptr;
    return std::make_unique<PlannedFile>(*this, std::move(file));
  }
  bool Remove(const std::string& path) override {
    return !failRemove && SystemFileSystem().Remove(path);
  }
  bool FreeSpace(const std::string& path, uint64_t* bytes) override {
    return SystemFileSystem().FreeSpace(path, bytes);
  }
  bool Exists(const std::string& path) override { return SystemFileSystem().Exists(path); }

 private:
  bool Pass() {
    const int number = operations++;
    if (number == vanishAt) {
      std::error_code ignored;  // a file held open cannot vanish on Windows
      std::filesystem::remove_all(vanish, ignored);
    }
    return fail.count(number) == 0;
  }

  class PlannedFile : public File {
   public:
    PlannedFile(PlannedFaults& owner, std::unique_ptr<File> inner)
        : owner_(owner), inner_(std::move(inner)) {}
    bool ReadAt(uint64_t offset, void* data, uint32_t size) override {
      if (owner_.Pass()) return inner_->ReadAt(offset, data, size);
      inner_->ReadAt(offset, data, size / 2);
      return false;
    }
    bool WriteAt(uint64_t offset, const void* data, uint32_t size) override {
      if (owner_.Pass()) return inner_->WriteAt(offset, data, size);
      const uint32_t written = WholeSectorsWithin(offset, size / 2);
      if (written > 0) inner_->WriteAt(offset, data, written);
      return false;
    }
    bool Size(uint64_t* size) override { return owner_.Pass() && inner_->Size(size); }
    bool SetSize(uint64_t size) override { return owner_.Pass() && inner_->SetSize(size); }
    bool Flush() override { return owner_.Pass() && inner_->Flush(); }

   private:
    PlannedFaults& owner_;
    std::unique_ptr<File> inner_;
  };
};

// --- Volume creation -------------------------------------------------------

CreateVolumeInput CreationInput(const TempFolder& folder, int algorithm, bool external) {
  CreateVolumeInput input;
  input.volumePath = folder.File("new.vmv");
  if (external) input.headerPath = folder.File("new.ehb");
  input.sizeMb = 2;
  input.password = kPassword;
  input.confirmation = kPassword;
  input.algorithm = algorithm;
  return input;
}

// A disk that fills up (or a write that comes up short, a flush or a size
// change that fails, a file that cannot be created) at every operation of
// a creation, in both layouts and with both ciphers.
TEST(FaultInjectionTest, CreationFailsCleanlyAtEveryOperation) {
  int faults = 0;
  for (const int algorithm : {kAes256, kBlowfish448}) {
    for (const bool external : {false, true}) {
      TempFolder folder;
      PlannedFaults clean;
      ASSERT_TRUE(CreateVolume(clean, CreationInput(folder, algorithm, external)).outcome.success);
      std::filesystem::remove(folder.File("new.vmv"));
      std::filesystem::remove(folder.File("new.ehb"));
      for (int step = 0; step < clean.operations; ++step) {
        SCOPED_TRACE(std::to_string(algorithm) + (external ? " external, " : " inside, ") +
                     "operation " + std::to_string(step));
        PlannedFaults files;
        files.fail = {step};
        const CreateVolumeOutcome result =
            CreateVolume(files, CreationInput(folder, algorithm, external));
        EXPECT_FALSE(result.outcome.success);
        EXPECT_EQ(result.outcome.caption, "Create Error");
        const std::set<std::string> messages = {"Error creating Velmorcrypt volume.",
                                                "Error creating external header block.",
                                                "Error writing Velmorcrypt volume."};
        EXPECT_TRUE(messages.count(result.outcome.message)) << result.outcome.message;
        EXPECT_TRUE(result.lastDirectory.empty());
        EXPECT_TRUE(folder.Names().empty()) << "a failed creation left files behind";
        Count(&faults);
      }
    }
  }
  Report("creation", faults);
}

// The volume's folder vanishes between the free-space check and the
// creation of the files.
TEST(FaultInjectionTest, CreationFolderVanishes) {
  int faults = 0;
  for (const bool external : {false, true}) {
    TempFolder folder;
    const std::string inner = folder.File("inner");
    std::filesystem::create_directory(inner);
    CreateVolumeInput input = CreationInput(folder, kAes128, external);
    input.volumePath = inner + "/new.vmv";
    if (external) input.headerPath = inner + "/new.ehb";
    PlannedFaults files;
    files.vanish = inner;
    files.vanishAt = 0;  // the first open
    const CreateVolumeOutcome result = CreateVolume(files, input);
    EXPECT_FALSE(result.outcome.success);
    EXPECT_EQ(result.outcome.message, external ? "Error creating external header block."
                                               : "Error creating Velmorcrypt volume.");
    EXPECT_TRUE(folder.Names().empty());
    Count(&faults);
  }
  Report("creation, vanished folder", faults);
}

// --- Password change -------------------------------------------------------

class PasswordChangeFaults : public ::testing::Test {
 protected:
  void MakeVolume() {
    std::vector<uint8_t> bytes(4096);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 3 + 11);
    std::vector<uint8_t> header(kHeaderSize);
    uint8_t key[kBodyKeySize];
    uint8_t seed[kBodyKeySize];
    ASSERT_TRUE(
        SealHeader(header.data(), Bytes(kPassword), sizeof kPassword - 1, kAes128, key, seed));
    bytes.insert(bytes.end(), header.begin(), header.end());
    WriteWholeFile(path_, bytes);
    std::filesystem::remove(HeaderBackupPath(path_));  // left by the faults before
    original_ = bytes;
  }

  ChangePasswordOutcome Change(FileSystem& files) {
    return ChangeVolumePassword(files, {path_, kPassword, kNewPassword, kNewPassword});
  }

  // The header opens with the password the way every opener reads it,
  // through the backup when the failed change tore it; the body is
  // untouched.
  int OpensWith(const std::string& password) {
    const std::vector<uint8_t> file = ReadWholeFile(path_);
    EXPECT_EQ(file.size(), original_.size());
    if (file.size() != original_.size()) return 0;
    EXPECT_TRUE(std::equal(file.begin(), file.end() - kHeaderSize, original_.begin()));
    std::vector<uint8_t> header(file.end() - kHeaderSize, file.end());
    return OpenHeaderReadOnly(SystemFileSystem(), path_, header.data(), Bytes(password),
                              static_cast<uint32_t>(password.size()));
  }

  void ExpectFailed(const ChangePasswordOutcome& result) {
    EXPECT_FALSE(result.outcome.success);
    EXPECT_EQ(result.outcome.caption, "Apply Error");
    const std::set<std::string> messages = {"Error opening file.", "Error reading file.",
                                            "Error writing file."};
    EXPECT_TRUE(messages.count(result.outcome.message)) << result.outcome.message;
  }

  TempFolder folder_;
  std::string path_ = folder_.File("volume.vmv");
  std::vector<uint8_t> original_;
};

// One fault at each operation of a change: the file is as it was, no backup
// stays, and the old password opens. A backup that cannot be looked at is as
// good as none.
TEST_F(PasswordChangeFaults, EveryOperationFailsAlone) {
  MakeVolume();
  PlannedFaults clean;
  ASSERT_TRUE(Change(clean).outcome.success);
  int faults = 0;
  for (int step = 0; step < clean.operations; ++step) {
    if (clean.looks.count(step) == 1) continue;
    SCOPED_TRACE("operation " + std::to_string(step));
    MakeVolume();
    PlannedFaults files;
    files.fail = {step};
    ExpectFailed(Change(files));
    EXPECT_EQ(ReadWholeFile(path_), original_) << "a failed change altered the file";
    EXPECT_EQ(folder_.Names(), std::vector<std::string>{"volume.vmv"});
    EXPECT_EQ(OpensWith(kPassword), kAes128);
    Count(&faults);
  }
  Report("password change, single", faults);
}

// Two faults, at every pair of operations (say the write and then the
// write that puts the old header back): the old password still opens,
// with the backup if need be.
TEST_F(PasswordChangeFaults, EveryPairOfOperationsFails) {
  MakeVolume();
  PlannedFaults clean;
  ASSERT_TRUE(Change(clean).outcome.success);
  int faults = 0;
  for (int first = 0; first < clean.operations; ++first) {
    for (int second = first + 1; second < clean.operations + 6; ++second) {
      if (clean.looks.count(first) + clean.looks.count(second) > 0) continue;
      SCOPED_TRACE("operations " + std::to_string(first) + " and " + std::to_string(second));
      MakeVolume();
      PlannedFaults files;
      files.fail = {first, second};
      ExpectFailed(Change(files));
      EXPECT_EQ(OpensWith(kPassword), kAes128);
      Count(&faults);
    }
  }
  Report("password change, pairs", faults);
}

// The backup cannot be removed after the new header was written (or it
// vanished): the change is reported as failed and the old header is back.
TEST_F(PasswordChangeFaults, BackupThatCannotBeRemoved) {
  MakeVolume();
  PlannedFaults files;
  files.failRemove = true;
  ExpectFailed(Change(files));
  EXPECT_EQ(ReadWholeFile(path_), original_);
  EXPECT_EQ(OpensWith(kPassword), kAes128);
  Report("password change, backup not removed", 1);
  ++totalFaults;
}

// The file vanishes between the checks of the input and its opening, or
// the backup vanishes while the change writes.
TEST_F(PasswordChangeFaults, VanishingFiles) {
  int faults = 0;
  MakeVolume();
  PlannedFaults files;
  files.vanish = path_;
  files.vanishAt = 0;
  const ChangePasswordOutcome gone = Change(files);
  EXPECT_FALSE(gone.outcome.success);
  EXPECT_EQ(gone.outcome.message, "Error opening file.");
  Count(&faults);

  PlannedFaults clean;
  MakeVolume();
  ASSERT_TRUE(Change(clean).outcome.success);
  for (int step = 4; step < clean.operations; ++step) {
    SCOPED_TRACE("backup vanishes at operation " + std::to_string(step));
    MakeVolume();
    PlannedFaults backupGone;
    backupGone.vanish = HeaderBackupPath(path_);
    backupGone.vanishAt = step;
    const ChangePasswordOutcome result = Change(backupGone);
    // Either the change went through, or it failed with the old header in
    // place.
    if (result.outcome.success) {
      EXPECT_EQ(OpensWith(kNewPassword), kAes128);
      EXPECT_EQ(OpensWith(kPassword), 0);
    } else {
      EXPECT_EQ(OpensWith(kPassword), kAes128);
    }
    Count(&faults);
  }
  Report("password change, vanishing files", faults);
}

// --- Driver ---------------------------------------------------------------

class DriverFaults : public ::testing::Test {
 protected:
  DriverFaults() {
    std::vector<uint8_t> bytes(8192, 0);
    std::vector<uint8_t> header(kHeaderSize);
    uint8_t key[kBodyKeySize];
    uint8_t seed[kBodyKeySize];
    EXPECT_TRUE(
        SealHeader(header.data(), Bytes(kPassword), sizeof kPassword - 1, kAes256, key, seed));
    bytes.insert(bytes.end(), header.begin(), header.end());
    files.files[kVolume].bytes = bytes;
  }

  MountPageState State() {
    MountPageState state;
    state.volumePath = kVolume;
    state.password = kPassword;
    state.driveText = "E:";
    return state;
  }

  const std::string kVolume = "C:\\volumes\\a.vmv";
  MemoryFileSystem files;
  FakeMinuteTimer timer;
};

// Each device open and each request of a mount refused in turn: a refusal
// before the drive letter is defined fails the mount with its message and
// leaves the page as the user filled it; the idle counter's write is not
// reported.
TEST_F(DriverFaults, MountWithEachRequestRefused) {
  FakeDriverPort clean;
  MountPageState cleanState = State();
  ASSERT_TRUE(RunMountCommand(cleanState, files, clean, timer).outcome.success);
  int faults = 0;
  for (const std::string& entry : clean.log) {
    const std::string name = entry.substr(0, entry.find(' '));
    const std::string target = entry.substr(entry.find(' ') + 1);
    if (name == "close") continue;
    SCOPED_TRACE(entry);
    FakeDriverPort port;
    if (name == "open") {
      port.unopenable.insert(target.substr(0, target.rfind(' ')));
    } else if (name == "define") {
      port.failDefine = true;
    } else {
      port.failCodes[name] = kFakeErrorAccessDenied;
    }
    MountPageState state = State();
    const MountResult result = RunMountCommand(state, files, port, timer);
    const bool beforeTheLetter = name != "set-idle" && target.rfind("\\\\.\\E:", 0) != 0;
    if (beforeTheLetter) {
      EXPECT_FALSE(result.outcome.success);
      EXPECT_EQ(result.outcome.message, "Error trying to mount disk.");
      EXPECT_EQ(result.outcome.caption, "Mount Error");
      EXPECT_EQ(state.password, kPassword);
      EXPECT_EQ(state.volumePath, kVolume);
      EXPECT_EQ(port.dosDevices.count("E:"), 0u);
      EXPECT_TRUE(state.recentList.slots[0].volumePath.empty());
    } else {
      EXPECT_TRUE(result.outcome.success);
      EXPECT_TRUE(state.password.empty());
    }
    Count(&faults);
  }
  EXPECT_GE(faults, 4);
  Report("mount", faults);
}

// A header that cannot be read whole (a short read, a size that cannot be
// told) or a volume file that vanished after its header was read.
TEST_F(DriverFaults, MountWithFileFaults) {
  int faults = 0;
  FakeDriverPort port;
  files.files[kVolume].readFails = true;
  MountPageState state = State();
  EXPECT_EQ(RunMountCommand(state, files, port, timer).outcome.message,
            "Error decrypting header information with the supplied password.");
  Count(&faults);
  files.files[kVolume].readFails = false;
  files.files[kVolume].sizeFails = true;
  EXPECT_EQ(RunMountCommand(state, files, port, timer).outcome.message,
            "Error reading Velmorcrypt volume.");
  Count(&faults);
  files.files[kVolume].sizeFails = false;
  // External header block read, then the volume file is gone.
  const std::string block = "C:\\volumes\\a.ehb";
  const std::vector<uint8_t>& bytes = files.files[kVolume].bytes;
  files.files[block].bytes.assign(bytes.end() - kHeaderSize, bytes.end());
  files.files.erase(kVolume);
  state.externalHeaderPath = block;
  EXPECT_EQ(RunMountCommand(state, files, port, timer).outcome.message,
            "Error opening Velmorcrypt volume.");
  Count(&faults);
  EXPECT_TRUE(port.requests.empty());
  Report("mount, files", faults);
}

// Each request of a dismount refused in turn: the result is true exactly
// when the drive letter is gone, and the letter goes exactly when the
// driver let the volume go.
TEST_F(DriverFaults, DismountWithEachRequestRefused) {
  FakeDriverPort clean;
  clean.AddMountedVolume('E', "\\??\\C:\\v.vmv", kAes128, kMegabyte);
  ASSERT_TRUE(DismountVolume(clean, 'E', 0, 0));
  int faults = 0;
  for (const std::string& entry : clean.log) {
    const std::string name = entry.substr(0, entry.find(' '));
    if (name == "close" || name == "wait") continue;
    for (const int force : {0, 1}) {
      SCOPED_TRACE(entry + (force ? " forced" : ""));
      FakeDriverPort port;
      port.AddMountedVolume('E', "\\??\\C:\\v.vmv", kAes128, kMegabyte);
      if (name == "open") {
        const std::string target = entry.substr(entry.find(' ') + 1);
        port.unopenable.insert(target.substr(0, target.rfind(' ')));
      } else if (name == "remove") {
        port.failRemove = true;
      } else if (name == "delete-mount-point") {
        port.failDeleteMountPoint = true;
      } else if (name == "lock") {
        port.lockFailures = INT_MAX;
      } else {
        port.failCodes[name] = kFakeErrorBusy;
      }
      const bool result = DismountVolume(port, 'E', 0, force);
      EXPECT_EQ(result, port.dosDevices.count("E:") == 0);
      // A volume is never left mounted in the driver without its letter.
      EXPECT_EQ(port.volumes.empty(), port.dosDevices.count("E:") == 0);
      Count(&faults);
    }
  }
  Report("dismount", faults);
}

// Each step of installing the driver refused in turn: the install reports
// failure; and removing it with the deletion refused reports failure.
TEST_F(DriverFaults, InstallWithEachStepRefused) {
  int faults = 0;
  for (int step = 0; step < 5; ++step) {
    SCOPED_TRACE(step);
    FakeDriverPort port;
    port.driverRunning = false;
    FakeServicePort services;
    switch (step) {
      case 0:
        services.currentDirectoryFails = true;
        break;
      case 1:
        services.files.clear();
        break;
      case 2:
        services.managerFails = true;
        break;
      case 3:
        services.createError = kFakeErrorAccessDenied;
        break;
      case 4:
        services.startError = kFakeErrorAccessDenied;
        break;
    }
    EXPECT_FALSE(InstallDriver(port, services));
    EXPECT_FALSE(services.serviceRunning);
    Count(&faults);
  }
  FakeServicePort services;
  services.serviceExists = true;
  services.deleteFails = true;
  EXPECT_FALSE(RemoveDriver(services));
  Count(&faults);
  services.deleteFails = false;
  services.managerFails = true;
  EXPECT_FALSE(RemoveDriver(services));
  Count(&faults);
  Report("driver install and removal", faults);
}

class TotalReport : public ::testing::Environment {
 public:
  void TearDown() override {
    const bool clean = ::testing::UnitTest::GetInstance()->failed_test_count() == 0;
    std::cout << "injected faults: " << totalFaults
              << (clean ? ", all ended cleanly\n" : ", SOME DID NOT END CLEANLY\n");
  }
};

const auto* const kTotalReport = ::testing::AddGlobalTestEnvironment(new TotalReport);

}  // namespace
