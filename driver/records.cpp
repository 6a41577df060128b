#include "driver/records.h"

#include <stdio.h>
#include <string.h>

static_assert(VD_BODY_KEY_SIZE == kBodyKeySize, "the request carries whole body keys");

namespace {

constexpr std::string_view kLocalPrefix = "\\??\\";
constexpr std::string_view kUncPrefix = "\\??\\UNC\\";
// A UNC path loses its two leading backslashes behind kUncPrefix.
constexpr size_t kUncLeadLength = 2;
// Where the display form starts and how a UNC target is told.
constexpr size_t kUncMarkIndex = 5;
constexpr size_t kLocalDisplayIndex = kLocalPrefix.size();
constexpr size_t kUncDisplayIndex = kUncPrefix.size();

struct NtForm {
  std::string_view prefix;
  std::string_view rest;
};

NtForm SplitNtForm(std::string_view volumePath) {
  if (!volumePath.empty() && volumePath[0] == '\\') {
    return {kUncPrefix, volumePath.substr(volumePath.size() < kUncLeadLength ? volumePath.size()
                                                                             : kUncLeadLength)};
  }
  return {kLocalPrefix, volumePath};
}

std::string_view TailFrom(std::string_view text, size_t index) {
  return index < text.size() ? text.substr(index) : std::string_view();
}

}  // namespace

bool TargetPathFits(std::string_view volumePath) {
  const NtForm form = SplitNtForm(volumePath);
  return form.prefix.size() + form.rest.size() < VD_TARGET_PATH_SIZE;
}

bool BuildTargetPath(std::string_view volumePath, char targetPath[VD_TARGET_PATH_SIZE]) {
  if (!TargetPathFits(volumePath)) return false;
  const NtForm form = SplitNtForm(volumePath);
  memcpy(targetPath, form.prefix.data(), form.prefix.size());
  memcpy(targetPath + form.prefix.size(), form.rest.data(), form.rest.size());
  targetPath[form.prefix.size() + form.rest.size()] = '\0';
  return true;
}

std::string TargetPathDisplay(const char targetPath[VD_TARGET_PATH_SIZE]) {
  const std::string_view text(targetPath, strnlen(targetPath, VD_TARGET_PATH_SIZE));
  if (text.size() > kUncMarkIndex && text[kUncMarkIndex] == 'N') {
    return "\\\\" + std::string(TailFrom(text, kUncDisplayIndex));
  }
  return std::string(TailFrom(text, kLocalDisplayIndex));
}

bool IsVolumeDeviceTarget(std::string_view target) {
  return target.find(VD_VOLUME_DEVICE_PREFIX) != std::string_view::npos;
}

std::string VolumeDeviceName(int deviceNumber) {
  char name[64];
  snprintf(name, sizeof name, VD_VOLUME_DEVICE_FORMAT, deviceNumber);
  return name;
}

std::string DriveDevicePath(char driveLetter) {
  char path[8];
  snprintf(path, sizeof path, VD_DRIVE_DEVICE_FORMAT, driveLetter);
  return path;
}

std::string DriveName(char driveLetter) { return {driveLetter, ':'}; }

std::string DriveRoot(char driveLetter) { return {driveLetter, ':', '\\'}; }

bool FillMountRequest(VolumeControlRecord* request, std::string_view volumePath, char driveLetter,
                      int headerPlacement, int algorithm, const uint8_t header[kHeaderSize],
                      uint32_t logonSessionId, int readOnly) {
  memset(request, 0, sizeof *request);
  if (!BuildTargetPath(volumePath, request->targetPath)) return false;
  request->driveLetter = driveLetter;
  request->algorithm = static_cast<uint8_t>(algorithm);
  memcpy(request->sectorIvSeed, header + kSectorIvSeedOffset, kBodyKeySize);
  memcpy(request->sectorKey, header + kSectorKeyOffset, kBodyKeySize);
  request->headerPlacement = static_cast<uint8_t>(headerPlacement);
  request->logonSessionId = logonSessionId;
  request->readOnly = readOnly == 1 ? 1 : 0;
  return true;
}

void FillDismountRequest(VolumeControlRecord* request, char driveLetter, uint32_t logonSessionId,
                         bool force) {
  memset(request, 0, sizeof *request);
  request->driveLetter = driveLetter;
  request->logonSessionId = logonSessionId;
  request->readOnly = 0;
  request->force = force ? 1 : 0;
}

VolumeInfo ReadQueryReply(const VolumeControlRecord& reply) {
  return {TargetPathDisplay(reply.targetPath), reply.algorithm, reply.volumeSize};
}

std::string FormatDriverVersion(const DriverVersion& version) {
  char text[48];
  snprintf(text, sizeof text, "%ld.%ld.%ld", static_cast<long>(version.major),
           static_cast<long>(version.minor), static_cast<long>(version.build));
  return text;
}
