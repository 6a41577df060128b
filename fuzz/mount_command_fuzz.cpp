// The mount command's checks and its reading of the header block, over an
// in-memory file system and a fake driver whose answers come from the input.
//
// Input: failing file calls (Uint64 mask), flags (Byte: bit 0, the volume
// file opens only for reading; bit 1, the volume file exists; bit 2, the
// external header block exists; bit 3, the driver accepts the mount; bit 4,
// the drive letter can be defined; bit 5, the minute timer starts), the
// reply's device number (Byte), the read-only flag (Byte, modulo 3), applied
// and edited timeouts, logon session (Uint32s), volume path, external header
// path, password, drive text (Strings), the external header block's contents
// (String of up to 255 bytes, or with bit 6 of the flags the 1044 bytes that
// follow), then the volume file's contents (the rest).
//
// Checked:
// - the first failing check, in the fixed order, gives its message, with no
//   file opened and no driver request sent before every check has passed;
// - the header block is the external one when it is exactly 1044 bytes, or
//   the last 1044 bytes of a volume file of more than 1044 bytes, and the
//   mount goes ahead exactly when it opens with the password;
// - the mount request carries the volume's NT path, the drive letter, the
//   algorithm and the body keys of the opened header, the header placement,
//   the logon session and the read-only flag, and the drive letter is mapped
//   to the device number of the reply;
// - a failure changes nothing of the page's state but the clamped timeout
//   and the timer; a success records the volume in the recent list and
//   clears the paths, the password and the read-only flag; no file is ever
//   written.
#include <stdint.h>
#include <string.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "driver/auto_dismount.h"
#include "driver/mount_command.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/memory_file_system.h"
#include "fuzz/record_reading.h"
#include "volume/change_password.h"
#include "volume/header.h"

namespace {

constexpr char kErrorCaption[] = "Mount Error";
constexpr char kDecryptFailure[] =
    "Error decrypting header information with the supplied password.";
constexpr uint32_t kErrorGenFailure = 31;  // ERROR_GEN_FAILURE

struct DriverAnswers {
  bool mounts = false;
  bool defines = false;
  int8_t deviceNumber = 0;
};

class FakeDevice : public Device {
 public:
  FakeDevice(std::vector<VolumeControlRecord>* mounts, std::vector<IdleCounter>* counters,
             const DriverAnswers& answers, bool control)
      : mounts_(mounts), counters_(counters), answers_(answers), control_(control) {}

  uint32_t Control(uint32_t code, const void* input, uint32_t inputSize, void* output,
                   uint32_t outputSize) override {
    if (code == IOCTL_VD_SET_IDLE) {
      FUZZ_CHECK(!control_ && inputSize == sizeof(IdleCounter) && outputSize == 0);
      counters_->push_back(*static_cast<const IdleCounter*>(input));
      return kNoError;
    }
    FUZZ_CHECK(code == IOCTL_VD_MOUNT && control_);
    FUZZ_CHECK(inputSize == kRecordSize && outputSize == kRecordSize);
    mounts_->push_back(*static_cast<const VolumeControlRecord*>(input));
    VolumeControlRecord reply;
    memset(&reply, 0xC3, sizeof reply);
    reply.deviceNumber = answers_.deviceNumber;
    memcpy(output, &reply, sizeof reply);
    return answers_.mounts ? kNoError : kErrorGenFailure;
  }

 private:
  std::vector<VolumeControlRecord>* mounts_;
  std::vector<IdleCounter>* counters_;
  const DriverAnswers& answers_;
  bool control_;
};

class FakePort : public DriverPort {
 public:
  explicit FakePort(const DriverAnswers& answers) : answers_(answers) {}

  std::vector<VolumeControlRecord> mounts;
  std::vector<IdleCounter> counters;
  std::vector<std::string> opened;
  std::vector<std::pair<std::string, std::string>> defined;

  std::unique_ptr<Device> OpenDevice(const std::string& path, DeviceAccess access) override {
    opened.push_back(path);
    const bool control = path == VD_CONTROL_DEVICE_PATH;
    FUZZ_CHECK(access == (control ? DeviceAccess::kReadWrite : DeviceAccess::kWrite));
    return std::make_unique<FakeDevice>(&mounts, &counters, answers_, control);
  }
  bool DefineRawDosDevice(const std::string& name, const std::string& target) override {
    defined.emplace_back(name, target);
    return answers_.defines;
  }
  bool RemoveDosDevice(const std::string&) override { return Refuse(); }
  bool RemoveMountPoint(const std::string&) override { return Refuse(); }
  bool QueryDosTarget(const std::string&, std::string*) override { return Refuse(); }
  void Wait(uint32_t) override { Refuse(); }

 private:
  static bool Refuse() {
    FUZZ_CHECK(!"a mount neither scans, nor removes, nor waits");
    return false;
  }

  const DriverAnswers& answers_;
};

class FakeTimer : public MinuteTimer {
 public:
  explicit FakeTimer(bool starts) : starts_(starts) {}
  int started = 0;
  bool Start() override {
    ++started;
    return starts_;
  }
  void Stop() override { FUZZ_CHECK(!"a mount never stops the timer"); }

 private:
  bool starts_;
};

bool NtFormFits(const std::string& volumePath) {
  const bool unc = !volumePath.empty() && volumePath[0] == '\\';
  const size_t length = unc ? 8 + TextFrom(volumePath, 2).size() : 4 + volumePath.size();
  return length < VD_TARGET_PATH_SIZE;
}

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The message of the first failing check before any file is opened, or "".
std::string FirstFailingCheck(const MountPageState& state) {
  if (state.volumePath.empty()) return "Please specify a Velmorcrypt volume.";
  if (state.password.empty()) return "Please specify volume password.";
  if (state.password.size() > kMaxPasswordLength) {
    return "Passwords should not be longer than 64 characters.";
  }
  if (state.driveText.empty() || !IsLetter(state.driveText[0])) {
    return "No free drive letter is available.";
  }
  if (!NtFormFits(state.volumePath)) return "The volume path is too long.";
  return "";
}

bool SameState(const MountPageState& a, const MountPageState& b) {
  if (a.volumePath != b.volumePath || a.externalHeaderPath != b.externalHeaderPath ||
      a.password != b.password || a.readOnly != b.readOnly || a.driveText != b.driveText ||
      a.logonSessionId != b.logonSessionId || a.lastDirectory != b.lastDirectory ||
      a.autoDismount.appliedTimeout != b.autoDismount.appliedTimeout) {
    return false;
  }
  for (int i = 0; i < kRecentSlotCount; ++i) {
    if (a.recentList.slots[i].volumePath != b.recentList.slots[i].volumePath ||
        a.recentList.slots[i].drive != b.recentList.slots[i].drive) {
      return false;
    }
  }
  return true;
}

// The mount request of a successful open: every field where it belongs.
void CheckMountRequest(const VolumeControlRecord& request, const MountPageState& before,
                       int algorithm, const uint8_t opened[kHeaderSize], bool external) {
  uint8_t raw[kRecordSize];
  memcpy(raw, &request, kRecordSize);
  const std::string& path = before.volumePath;
  const bool unc = path[0] == '\\';
  const std::string ntForm = (unc ? "\\??\\UNC\\" : "\\??\\") +
                             std::string(unc ? TextFrom(path, 2) : std::string_view(path));
  FUZZ_CHECK(memcmp(raw, ntForm.c_str(), ntForm.size() + 1) == 0);
  FUZZ_CHECK(raw[260] == static_cast<uint8_t>(before.driveText[0]));
  FUZZ_CHECK(raw[kAlgorithmOffset] == algorithm);
  FUZZ_CHECK(memcmp(raw + 262, opened + kSectorIvSeedOffset, kBodyKeySize) == 0);
  FUZZ_CHECK(memcmp(raw + 326, opened + kSectorKeyOffset, kBodyKeySize) == 0);
  FUZZ_CHECK(raw[390] == (external ? VD_HEADER_EXTERNAL : VD_HEADER_IN_VOLUME_FILE));
  FUZZ_CHECK(LoadLittleEndian(raw + 400, 4) == before.logonSessionId);
  FUZZ_CHECK(raw[405] == (before.readOnly == 1 ? 1 : 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  const uint64_t failMask = input.Uint64();
  const uint8_t flags = input.Byte();
  DriverAnswers answers;
  answers.mounts = (flags & 8) != 0;
  answers.defines = (flags & 16) != 0;
  answers.deviceNumber = static_cast<int8_t>(input.Byte());

  MountPageState state;
  state.readOnly = input.Byte() % 3;
  state.autoDismount.appliedTimeout = input.Uint32();
  state.editedTimeout = input.Uint32();
  state.logonSessionId = input.Uint32();
  state.volumePath = input.String();
  state.externalHeaderPath = input.String();
  state.password = input.String();
  state.driveText = input.String();
  state.lastDirectory = "C:\\before\\";
  AddRecentEntry(state.recentList, "C:\\listed.vmv", "Q:");
  const std::string headerBlock =
      (flags & 64) != 0 ? std::string(input.Take(kHeaderSize)) : input.String();
  const std::string volume(input.Rest());
  // The two paths may name the same file: the header block's contents then
  // win.

  MemoryFileSystem files(UINT64_MAX, failMask);
  if ((flags & 1) != 0) files.readOnly.insert(state.volumePath);
  if ((flags & 2) != 0) files.files[state.volumePath] = volume;
  if ((flags & 4) != 0) files.files[state.externalHeaderPath] = headerBlock;
  const auto filesBefore = files.files;
  // Settling a backup that an interrupted password change left beside the
  // header is the change_password target's to check.
  const std::string& headerHolder =
      state.externalHeaderPath.empty() ? state.volumePath : state.externalHeaderPath;
  if (filesBefore.count(HeaderBackupPath(headerHolder)) == 1) return 0;
  FakePort port(answers);
  FakeTimer timer((flags & 32) != 0);
  const MountPageState before = state;

  const MountResult result = RunMountCommand(state, files, port, timer);

  FUZZ_CHECK(state.editedTimeout == ClampIdleTimeout(before.editedTimeout));
  FUZZ_CHECK(timer.started == (before.autoDismount.appliedTimeout != 0 ? 1 : 0));
  FUZZ_CHECK(files.files == filesBefore);
  FUZZ_CHECK(files.Count("write") == 0 && files.Count("set-size") == 0);

  const std::string failedCheck = FirstFailingCheck(before);
  if (!failedCheck.empty()) {
    FUZZ_CHECK(!result.outcome.success && result.outcome.message == failedCheck);
    FUZZ_CHECK(result.outcome.caption == kErrorCaption);
    FUZZ_CHECK(files.log.empty() && port.opened.empty());
    FUZZ_CHECK(SameState(state, before));
    return 0;
  }

  // Where the header block comes from, and whether it opens.
  const bool external = !before.externalHeaderPath.empty();
  const auto volumeFile = filesBefore.find(before.volumePath);
  const bool volumeUsable = volumeFile != filesBefore.end() &&
                            (files.readOnly.count(before.volumePath) == 0 || before.readOnly == 1);
  const auto headerFile = filesBefore.find(before.externalHeaderPath);
  const bool holderExists = external ? headerFile != filesBefore.end() : volumeUsable;
  const std::string holder =
      !holderExists ? std::string() : (external ? headerFile : volumeFile)->second;
  const bool holderFits = external ? holder.size() == kHeaderSize : holder.size() > kHeaderSize;
  uint8_t opened[kHeaderSize] = {};
  int algorithm = kAlgorithmNone;
  if (holderExists && holderFits) {
    memcpy(opened, holder.data() + holder.size() - kHeaderSize, kHeaderSize);
    algorithm = OpenHeader(opened, reinterpret_cast<const uint8_t*>(before.password.data()),
                           static_cast<uint32_t>(before.password.size()));
  }

  if (!result.outcome.success) {
    FUZZ_CHECK(result.outcome.caption == kErrorCaption);
    FUZZ_CHECK(SameState(state, before));
  }
  if (!result.outcome.success && port.mounts.empty()) {
    // Refused before the driver was asked.
    FUZZ_CHECK(port.opened.empty() && port.defined.empty());
    const std::string& message = result.outcome.message;
    if (files.AnyCallFailed()) {
      static const std::set<std::string> kFileMessages = {
          "Error opening external header block.", "Error reading external header block.",
          "Error opening Velmorcrypt volume.", "Error reading Velmorcrypt volume.",
          kDecryptFailure};
      FUZZ_CHECK(kFileMessages.count(message) == 1);
    } else if (!holderExists) {
      FUZZ_CHECK(message == (external ? "Error opening external header block."
                                      : "Error opening Velmorcrypt volume."));
    } else if (!holderFits) {
      FUZZ_CHECK(message == (external ? "Error reading external header block."
                                      : "Error reading Velmorcrypt volume."));
    } else if (algorithm == kAlgorithmNone) {
      FUZZ_CHECK(message == kDecryptFailure);
    } else {
      FUZZ_CHECK(external && !volumeUsable && message == "Error opening Velmorcrypt volume.");
    }
  }
  if (!result.outcome.success && !port.mounts.empty()) {
    FUZZ_CHECK(result.outcome.message == "Error trying to mount disk.");
    FUZZ_CHECK(!answers.mounts || !answers.defines);
  }

  if (!port.mounts.empty()) {
    FUZZ_CHECK(port.mounts.size() == 1 && algorithm != kAlgorithmNone);
    CheckMountRequest(port.mounts[0], before, algorithm, opened, external);
    FUZZ_CHECK(port.defined.size() == (answers.mounts ? 1u : 0u));
    if (answers.mounts) {
      FUZZ_CHECK(port.defined[0].first == std::string{before.driveText[0], ':'});
      FUZZ_CHECK(port.defined[0].second ==
                 "\\Device\\VelmorcryptVolume" + std::to_string(answers.deviceNumber));
    }
  }

  if (result.outcome.success) {
    FUZZ_CHECK(result.outcome.message == "Velmorcrypt volume successfully mounted.");
    FUZZ_CHECK(result.outcome.caption == "Mount");
    FUZZ_CHECK(result.driveLetter == before.driveText[0]);
    FUZZ_CHECK(answers.mounts && answers.defines && algorithm != kAlgorithmNone);
    FUZZ_CHECK(port.counters.size() == 1);
    FUZZ_CHECK(port.opened.back() == std::string("\\\\.\\") + before.driveText[0] + ":");
    FUZZ_CHECK(state.volumePath.empty() && state.externalHeaderPath.empty());
    FUZZ_CHECK(state.password.empty() && state.readOnly == 0);
    FUZZ_CHECK(state.recentList.slots[0].volumePath == before.volumePath);
    FUZZ_CHECK(state.recentList.slots[0].drive == before.driveText);
    const char last = state.lastDirectory.empty() ? '\\' : state.lastDirectory.back();
    FUZZ_CHECK(last == '\\' || last == '/');
  }
  return 0;
}
