// The scan of the driver's drives and the tray menu made from it, over a
// fake platform whose answers come from the input: each drive letter's
// DOS-device target and each query reply (408 bytes, targetPath without a
// terminator).
//
// Input, for each letter from A to Z: flags (Byte: bit 0, the target can be
// read; bit 1, the driver's device name is inserted into it; bit 2, the
// drive-letter device opens; bit 3, the query succeeds), the target
// (String), with bit 1 the insertion point (Byte), with bits 2 and 3 the
// reply (408 bytes).
//
// Checked: the scan lists, in letter order, exactly the letters whose target
// holds \Device\VelmorcryptVolume, and sends a query to no other; a drive
// counts as queried exactly when its query succeeded, and then shows its
// reply read as the raw bytes say (record_reading.h), otherwise nothing of
// the reply; the tray menu names every queried drive, in order, as
// "Dismount [X:] " and its display path, with a command that leads back to
// its letter, and disables "Exit" while the driver has any drive.
#include <stdint.h>
#include <string.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "app/tray_menu.h"
#include "driver/dismount.h"
#include "driver/operations.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/record_reading.h"
#include "resources/resource.h"

namespace {

constexpr int kLetterCount = 26;
constexpr uint32_t kErrorGenFailure = 31;  // ERROR_GEN_FAILURE

struct Letter {
  bool targetReadable = false;
  bool opens = false;
  bool querySucceeds = false;
  std::string target;
  uint8_t reply[kRecordSize] = {};
};

class FakeDevice : public Device {
 public:
  explicit FakeDevice(const Letter& letter) : letter_(letter) {}

  uint32_t Control(uint32_t code, const void* input, uint32_t inputSize, void* output,
                   uint32_t outputSize) override {
    FUZZ_CHECK(code == IOCTL_VD_QUERY_VOLUME);
    FUZZ_CHECK(input == nullptr && inputSize == 0);
    FUZZ_CHECK(output != nullptr && outputSize == kRecordSize);
    // A failed request may still have written part of the buffer.
    memcpy(output, letter_.reply, kRecordSize);
    return letter_.querySucceeds ? kNoError : kErrorGenFailure;
  }

 private:
  const Letter& letter_;
};

class FakePort : public DriverPort {
 public:
  explicit FakePort(const std::array<Letter, kLetterCount>& letters) : letters_(letters) {}

  std::vector<char> opened;

  std::unique_ptr<Device> OpenDevice(const std::string& path, DeviceAccess access) override {
    FUZZ_CHECK(access == DeviceAccess::kRead);
    FUZZ_CHECK(path.size() == 6 && path.compare(0, 4, "\\\\.\\") == 0 && path[5] == ':');
    const char letter = path[4];
    FUZZ_CHECK(letter >= 'A' && letter <= 'Z');
    opened.push_back(letter);
    if (!letters_[letter - 'A'].opens) return nullptr;
    return std::make_unique<FakeDevice>(letters_[letter - 'A']);
  }

  bool QueryDosTarget(const std::string& name, std::string* target) override {
    FUZZ_CHECK(name.size() == 2 && name[0] >= 'A' && name[0] <= 'Z' && name[1] == ':');
    const Letter& letter = letters_[name[0] - 'A'];
    if (!letter.targetReadable) return false;
    *target = letter.target;
    return true;
  }

  // The scan only reads.
  bool DefineRawDosDevice(const std::string&, const std::string&) override { return Refuse(); }
  bool RemoveDosDevice(const std::string&) override { return Refuse(); }
  bool RemoveMountPoint(const std::string&) override { return Refuse(); }
  void Wait(uint32_t) override { Refuse(); }

 private:
  static bool Refuse() {
    FUZZ_CHECK(!"the scan changes nothing and never waits");
    return false;
  }

  const std::array<Letter, kLetterCount>& letters_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  std::array<Letter, kLetterCount> letters;
  for (Letter& letter : letters) {
    const uint8_t flags = input.Byte();
    letter.targetReadable = (flags & 1) != 0;
    letter.target = input.String();
    if ((flags & 2) != 0) {
      letter.target.insert(input.Byte() % (letter.target.size() + 1), VD_VOLUME_DEVICE_PREFIX);
    }
    letter.opens = (flags & 4) != 0;
    letter.querySucceeds = (flags & 8) != 0;
    if (letter.opens && letter.querySucceeds) input.Block(letter.reply, kRecordSize);
  }

  FakePort port(letters);
  const std::vector<ScannedDrive> drives = ScanDrives(port);

  std::vector<char> ownLetters;
  for (int i = 0; i < kLetterCount; ++i) {
    if (letters[i].targetReadable &&
        letters[i].target.find(VD_VOLUME_DEVICE_PREFIX) != std::string::npos) {
      ownLetters.push_back(static_cast<char>('A' + i));
    }
  }
  FUZZ_CHECK(port.opened == ownLetters);
  FUZZ_CHECK(drives.size() == ownLetters.size());
  std::vector<char> queriedLetters;
  std::vector<TrayMenuItem> driveItems;
  for (size_t i = 0; i < drives.size(); ++i) {
    const ScannedDrive& drive = drives[i];
    const Letter& letter = letters[ownLetters[i] - 'A'];
    FUZZ_CHECK(drive.letter == ownLetters[i]);
    FUZZ_CHECK(drive.queried == (letter.opens && letter.querySucceeds));
    if (!drive.queried) {
      FUZZ_CHECK(drive.volume.volumePath.empty() && drive.volume.algorithm == 0 &&
                 drive.volume.volumeSize == 0);
      continue;
    }
    const std::string display = ExpectedDisplay(letter.reply);
    FUZZ_CHECK(drive.volume.volumePath == display);
    FUZZ_CHECK(drive.volume.algorithm == letter.reply[kAlgorithmOffset]);
    FUZZ_CHECK(drive.volume.volumeSize == LoadLittleEndian(letter.reply + kVolumeSizeOffset, 8));
    driveItems.push_back({static_cast<uint32_t>(ID_TRAY_DRIVE_FIRST + queriedLetters.size()),
                          std::string("Dismount [") + drive.letter + ":] " + display});
    queriedLetters.push_back(drive.letter);
  }

  const TrayMenuPlan plan = PlanTrayMenu(OptionFlags{}, RecentlyMountedList{}, drives);
  driveItems.push_back({});
  FUZZ_CHECK(plan.beforeExit == driveItems);
  FUZZ_CHECK(plan.driveLetters == queriedLetters);
  FUZZ_CHECK(plan.exitEnabled == drives.empty());
  for (size_t k = 0; k < queriedLetters.size(); ++k) {
    const std::optional<char> letter =
        DriveOfCommand(plan.driveLetters, static_cast<uint32_t>(ID_TRAY_DRIVE_FIRST + k));
    FUZZ_CHECK(letter && *letter == queriedLetters[k]);
  }
  return 0;
}
