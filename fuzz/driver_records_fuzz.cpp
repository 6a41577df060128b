// The driver's records as the program reads and builds them: the query
// reply (any 408 bytes, its targetPath without a terminator), the version
// reply, the DOS-device target of a drive, and the mount request built from
// a volume path.
//
// Input: the query reply (408 bytes), the version reply (12 bytes), drive
// letter, header placement, algorithm (Bytes), logon session (Uint32),
// read-only flag (Byte), then the volume path (the rest).
//
// Checked against the raw bytes of the records, not their structure:
// - targetPath is read up to its NUL or the end of its 260 bytes, never
//   further, and shown as \\ and the text from index 8 when the sixth
//   character is an upper-case N, else as the text from index 4; algorithm
//   is the byte at 261, volumeSize the little-endian 64 bits at 392;
// - the version shows as its three signed numbers with dots between;
// - a DOS-device target is the driver's when it holds \Device\VelmorcryptVolume;
// - a volume path whose NT form fits 260 bytes with its NUL gives a mount
//   request with each field at its offset and every other byte zero, and its
//   targetPath reads back as the path itself (where the display rule can
//   tell the two forms apart); a longer one is refused and the record zeroed.
#include <stdint.h>
#include <string.h>

#include <string>
#include <string_view>

#include "driver/records.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/record_reading.h"

namespace {

constexpr size_t kTargetPathSize = VD_TARGET_PATH_SIZE;
constexpr std::string_view kLocalPrefix = "\\??\\";
constexpr std::string_view kUncPrefix = "\\??\\UNC\\";

void CheckQueryReply(const uint8_t raw[kRecordSize]) {
  // The field alone on the heap, so that a read past its 260 bytes is caught.
  const ExactBytes targetPath(
      std::string_view(reinterpret_cast<const char*>(raw), kTargetPathSize));
  const std::string expected = ExpectedDisplay(raw);
  FUZZ_CHECK(TargetPathDisplay(reinterpret_cast<const char*>(targetPath.data())) == expected);

  VolumeControlRecord reply;
  memcpy(&reply, raw, kRecordSize);
  const VolumeInfo info = ReadQueryReply(reply);
  FUZZ_CHECK(info.volumePath == expected);
  FUZZ_CHECK(info.algorithm == raw[kAlgorithmOffset]);
  FUZZ_CHECK(info.volumeSize == LoadLittleEndian(raw + kVolumeSizeOffset, 8));
}

void CheckVersion(const uint8_t raw[sizeof(DriverVersion)]) {
  DriverVersion version;
  memcpy(&version, raw, sizeof version);
  std::string expected;
  for (int i = 0; i < 3; ++i) {
    if (i > 0) expected += '.';
    expected += std::to_string(static_cast<int32_t>(LoadLittleEndian(raw + 4 * i, 4)));
  }
  FUZZ_CHECK(FormatDriverVersion(version) == expected);
}

// Whether the display rule gives back `path` from its NT form: the sixth
// character of the NT form marks UNC, so a path whose second character is N
// reads back as UNC; a lone leading backslash loses its next character.
bool DisplayGivesBack(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return false;
  if (!path.empty() && path[0] == '\\') return path.size() >= 2 && path[1] == '\\';
  return path.size() < 2 || path[1] != 'N';
}

struct RequestFields {
  char driveLetter;
  int headerPlacement;
  int algorithm;
  uint32_t logonSessionId;
  int readOnly;
};

void CheckMountRequest(const RequestFields& fields, std::string_view volumePath) {
  const auto [driveLetter, headerPlacement, algorithm, logonSessionId, readOnly] = fields;
  uint8_t header[kHeaderSize];
  for (uint32_t i = 0; i < kHeaderSize; ++i) header[i] = static_cast<uint8_t>(i * 7 + 1);

  const bool unc = !volumePath.empty() && volumePath[0] == '\\';
  const std::string ntForm = unc ? std::string(kUncPrefix) + std::string(TextFrom(volumePath, 2))
                                 : std::string(kLocalPrefix) + std::string(volumePath);
  const bool fits = ntForm.size() < kTargetPathSize;
  FUZZ_CHECK(TargetPathFits(volumePath) == fits);

  VolumeControlRecord request;
  memset(&request, 0xA5, sizeof request);
  FUZZ_CHECK(FillMountRequest(&request, volumePath, driveLetter, headerPlacement, algorithm, header,
                              logonSessionId, readOnly) == fits);
  uint8_t raw[kRecordSize];
  memcpy(raw, &request, kRecordSize);
  uint8_t expected[kRecordSize] = {};
  if (fits) {
    memcpy(expected, ntForm.data(), ntForm.size());
    expected[260] = static_cast<uint8_t>(driveLetter);
    expected[261] = static_cast<uint8_t>(algorithm);
    memcpy(expected + 262, header + kSectorIvSeedOffset, kBodyKeySize);
    memcpy(expected + 326, header + kSectorKeyOffset, kBodyKeySize);
    expected[390] = static_cast<uint8_t>(headerPlacement);
    for (int i = 0; i < 4; ++i) expected[400 + i] = static_cast<uint8_t>(logonSessionId >> (8 * i));
    expected[405] = readOnly == 1 ? 1 : 0;
  }
  FUZZ_CHECK(memcmp(raw, expected, kRecordSize) == 0);
  if (fits && DisplayGivesBack(volumePath)) {
    FUZZ_CHECK(TargetPathDisplay(request.targetPath) == volumePath);
  }

  // BuildTargetPath alone leaves a field it cannot fill as it was.
  char targetPath[kTargetPathSize];
  memset(targetPath, 0x5A, sizeof targetPath);
  FUZZ_CHECK(BuildTargetPath(volumePath, targetPath) == fits);
  if (fits) {
    FUZZ_CHECK(memcmp(targetPath, ntForm.c_str(), ntForm.size() + 1) == 0);
  } else {
    for (char c : targetPath) FUZZ_CHECK(c == 0x5A);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  uint8_t reply[kRecordSize];
  input.Block(reply, kRecordSize);
  uint8_t version[sizeof(DriverVersion)];
  input.Block(version, sizeof version);
  CheckQueryReply(reply);
  CheckVersion(version);

  RequestFields fields;
  fields.driveLetter = static_cast<char>(input.Byte());
  fields.headerPlacement = input.Byte();
  fields.algorithm = input.Byte();
  fields.logonSessionId = input.Uint32();
  fields.readOnly = input.Byte();
  const ExactBytes rest(input.Rest());
  const std::string_view text = rest.view();
  FUZZ_CHECK(IsVolumeDeviceTarget(text) ==
             (text.find("\\Device\\VelmorcryptVolume") != std::string_view::npos));
  CheckMountRequest(fields, text);
  return 0;
}
