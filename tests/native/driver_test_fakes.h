// Test doubles of the driver interface: a driver port that plays the disk
// driver and the DOS-device table in memory, a service port, a minute timer
// and an in-memory file system. Each keeps a log of the calls it received so
// that tests assert on their order.
#pragma once
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "driver/auto_dismount.h"
#include "driver/driver_port.h"
#include "driver/protocol.h"
#include "driver/records.h"
#include "driver/service.h"
#include "platform/file.h"

inline constexpr uint32_t kFakeErrorInvalidFunction = 1;  // ERROR_INVALID_FUNCTION
inline constexpr uint32_t kFakeErrorAccessDenied = 5;     // ERROR_ACCESS_DENIED
inline constexpr uint32_t kFakeErrorNotFound = 2;         // ERROR_FILE_NOT_FOUND
inline constexpr uint32_t kFakeErrorBusy = 170;           // ERROR_BUSY

inline std::string FakeCodeName(uint32_t code) {
  switch (code) {
    case IOCTL_VD_MOUNT:
      return "mount";
    case IOCTL_VD_DISMOUNT:
      return "dismount";
    case IOCTL_VD_GET_VERSION:
      return "version";
    case IOCTL_VD_QUERY_VOLUME:
      return "query";
    case IOCTL_VD_GET_IDLE:
      return "get-idle";
    case IOCTL_VD_SET_IDLE:
      return "set-idle";
    case VD_FSCTL_LOCK_VOLUME:
      return "lock";
    case VD_FSCTL_DISMOUNT_VOLUME:
      return "fs-dismount";
    case VD_FSCTL_UNLOCK_VOLUME:
      return "unlock";
  }
  char text[16];
  snprintf(text, sizeof text, "0x%08X", code);
  return text;
}

inline const char* FakeAccessName(DeviceAccess access) {
  switch (access) {
    case DeviceAccess::kNone:
      return "none";
    case DeviceAccess::kRead:
      return "r";
    case DeviceAccess::kWrite:
      return "w";
    case DeviceAccess::kReadWrite:
      return "rw";
  }
  return "?";
}

// A disk driver and the DOS-device table in memory. The log reads, for
// example: "open \\.\Velmorcrypt rw", "mount \\.\Velmorcrypt", "close
// \\.\Velmorcrypt", "define E: \Device\VelmorcryptVolume0".
class FakeDriverPort : public DriverPort {
 public:
  struct Volume {
    VolumeControlRecord request;  // as the program sent it
    uint64_t size = 10 * 1048576;
    IdleCounter idle = 0;
  };

  // Set-up.
  bool driverRunning = true;
  std::set<std::string> unopenable;           // device paths that fail to open
  std::map<std::string, uint32_t> failCodes;  // code name -> error it fails with
  int lockFailures = 0;                       // INT_MAX: every volume stays in use
  std::set<char> drivesInUse;                 // their lock always fails
  uint32_t fileSystemDismountError = kNoError;
  bool failDefine = false;
  bool failRemove = false;
  bool failDeleteMountPoint = false;
  int nextDeviceNumber = 0;
  DriverVersion version = {1, 2, 3};

  // State and observations.
  std::map<std::string, std::string> dosDevices;  // "E:" -> target
  std::map<int, Volume> volumes;                  // device number -> volume
  std::vector<VolumeControlRecord> requests;      // mount and dismount requests received
  std::vector<std::string> log;

  // Mounts a volume directly, as if an earlier run had, on `letter`.
  int AddMountedVolume(char letter, const char* targetPath, int algorithm, uint64_t size) {
    const int number = nextDeviceNumber++;
    Volume& volume = volumes[number];
    memset(&volume.request, 0, sizeof volume.request);
    snprintf(volume.request.targetPath, sizeof volume.request.targetPath, "%s", targetPath);
    volume.request.driveLetter = letter;
    volume.request.algorithm = static_cast<uint8_t>(algorithm);
    volume.size = size;
    dosDevices[DriveName(letter)] = VolumeDeviceName(number);
    return number;
  }

  // The volume behind a drive letter, or nullptr.
  Volume* VolumeOn(char letter) {
    const auto device = dosDevices.find(DriveName(letter));
    if (device == dosDevices.end()) return nullptr;
    for (auto& [number, volume] : volumes) {
      if (device->second == VolumeDeviceName(number)) return &volume;
    }
    return nullptr;
  }

  int Count(const std::string& entry) const {
    int count = 0;
    for (const std::string& line : log) count += line == entry ? 1 : 0;
    return count;
  }

  // Log lines that start with `prefix`.
  std::vector<std::string> Lines(const std::string& prefix) const {
    std::vector<std::string> lines;
    for (const std::string& line : log) {
      if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
    }
    return lines;
  }

  std::unique_ptr<Device> OpenDevice(const std::string& path, DeviceAccess access) override {
    log.push_back("open " + path + " " + FakeAccessName(access));
    if (unopenable.count(path)) return nullptr;
    if (path == VD_CONTROL_DEVICE_PATH) {
      if (!driverRunning) return nullptr;
    } else if (path.size() != 6 || !dosDevices.count(path.substr(4, 2))) {
      return nullptr;
    }
    return std::make_unique<FakeDevice>(*this, path);
  }

  bool DefineRawDosDevice(const std::string& name, const std::string& target) override {
    log.push_back("define " + name + " " + target);
    if (failDefine || dosDevices.count(name)) return false;
    dosDevices[name] = target;
    return true;
  }

  bool RemoveDosDevice(const std::string& name) override {
    log.push_back("remove " + name);
    if (failRemove || !dosDevices.count(name)) return false;
    dosDevices.erase(name);
    return true;
  }

  bool RemoveMountPoint(const std::string& root) override {
    log.push_back("delete-mount-point " + root);
    const std::string name = root.substr(0, 2);
    if (failDeleteMountPoint || !dosDevices.count(name)) return false;
    dosDevices.erase(name);
    return true;
  }

  bool QueryDosTarget(const std::string& name, std::string* target) override {
    log.push_back("query-dos " + name);
    const auto device = dosDevices.find(name);
    if (device == dosDevices.end()) return false;
    *target = device->second;
    return true;
  }

  void Wait(uint32_t milliseconds) override {
    log.push_back("wait " + std::to_string(milliseconds));
  }

 private:
  class FakeDevice : public Device {
   public:
    FakeDevice(FakeDriverPort& port, std::string path) : port_(port), path_(std::move(path)) {}
    ~FakeDevice() override { port_.log.push_back("close " + path_); }

    uint32_t Control(uint32_t code, const void* input, uint32_t inputSize, void* output,
                     uint32_t outputSize) override {
      const std::string name = FakeCodeName(code);
      port_.log.push_back(name + " " + path_);
      const auto failure = port_.failCodes.find(name);
      if (failure != port_.failCodes.end()) return failure->second;
      return port_.Serve(path_, code, input, inputSize, output, outputSize);
    }

   private:
    FakeDriverPort& port_;
    std::string path_;
  };

  uint32_t Serve(const std::string& path, uint32_t code, const void* input, uint32_t inputSize,
                 void* output, uint32_t outputSize) {
    const bool control = path == VD_CONTROL_DEVICE_PATH;
    Volume* volume = control ? nullptr : VolumeOn(path[4]);
    switch (code) {
      case IOCTL_VD_MOUNT: {
        if (!control || inputSize != sizeof(VolumeControlRecord) ||
            outputSize != sizeof(VolumeControlRecord)) {
          return kFakeErrorInvalidFunction;
        }
        VolumeControlRecord request;
        memcpy(&request, input, sizeof request);
        requests.push_back(request);
        const int number = nextDeviceNumber++;
        volumes[number].request = request;
        VolumeControlRecord reply = {};
        reply.deviceNumber = static_cast<int8_t>(number);
        memcpy(output, &reply, sizeof reply);
        return kNoError;
      }
      case IOCTL_VD_DISMOUNT: {
        if (!control || inputSize != sizeof(VolumeControlRecord)) return kFakeErrorInvalidFunction;
        VolumeControlRecord request;
        memcpy(&request, input, sizeof request);
        requests.push_back(request);
        for (auto it = volumes.begin(); it != volumes.end(); ++it) {
          if (it->second.request.driveLetter == request.driveLetter) {
            volumes.erase(it);
            return kNoError;
          }
        }
        return kFakeErrorNotFound;
      }
      case IOCTL_VD_GET_VERSION:
        if (!control || outputSize != sizeof(DriverVersion)) return kFakeErrorInvalidFunction;
        memcpy(output, &version, sizeof version);
        return kNoError;
      case IOCTL_VD_QUERY_VOLUME: {
        if (!volume || outputSize != sizeof(VolumeControlRecord)) return kFakeErrorInvalidFunction;
        VolumeControlRecord reply = {};
        memcpy(reply.targetPath, volume->request.targetPath, sizeof reply.targetPath);
        reply.algorithm = volume->request.algorithm;
        reply.volumeSize = volume->size;
        memcpy(output, &reply, sizeof reply);
        return kNoError;
      }
      case IOCTL_VD_GET_IDLE:
        if (!volume || outputSize != 1) return kFakeErrorInvalidFunction;
        memcpy(output, &volume->idle, 1);
        return kNoError;
      case IOCTL_VD_SET_IDLE:
        if (!volume || inputSize != 1) return kFakeErrorInvalidFunction;
        memcpy(&volume->idle, input, 1);
        return kNoError;
      case VD_FSCTL_LOCK_VOLUME:
        if (control) return kFakeErrorInvalidFunction;
        if (drivesInUse.count(path[4])) return kFakeErrorAccessDenied;
        if (lockFailures > 0) {
          if (lockFailures != INT_MAX) --lockFailures;
          return kFakeErrorAccessDenied;
        }
        return kNoError;
      case VD_FSCTL_DISMOUNT_VOLUME:
        return control ? kFakeErrorInvalidFunction : fileSystemDismountError;
      case VD_FSCTL_UNLOCK_VOLUME:
        return control ? kFakeErrorInvalidFunction : kNoError;
    }
    return kFakeErrorInvalidFunction;
  }
};

// The service control manager in memory.
class FakeServicePort : public ServicePort {
 public:
  // Set-up.
  std::string currentDirectory = "C:\\Tools";
  bool currentDirectoryFails = false;
  std::set<std::string> files = {"C:\\Tools\\velmorcrypt.sys"};
  bool managerFails = false;
  uint32_t createError = kNoError;  // besides kErrorServiceExists for a present service
  uint32_t startError = kNoError;   // besides kErrorServiceAlreadyRunning for a running one
  bool stopFails = false;
  bool deleteFails = false;

  // State and observations.
  bool serviceExists = false;
  bool serviceRunning = false;
  std::string serviceBinary;
  std::vector<std::string> log;

  bool CurrentDirectory(std::string* directory) override {
    log.push_back("current-directory");
    if (currentDirectoryFails) return false;
    *directory = currentDirectory;
    return true;
  }

  bool FileOpens(const std::string& path) override {
    log.push_back("file " + path);
    return files.count(path) != 0;
  }

  std::unique_ptr<ServiceManager> OpenManager() override {
    log.push_back("open-manager");
    if (managerFails) return nullptr;
    return std::make_unique<Manager>(*this);
  }

 private:
  class Service : public DriverService {
   public:
    explicit Service(FakeServicePort& port) : port_(port) {}
    ~Service() override { port_.log.push_back("close-service"); }
    uint32_t Start() override {
      port_.log.push_back("start");
      if (port_.startError != kNoError) return port_.startError;
      if (port_.serviceRunning) return kErrorServiceAlreadyRunning;
      port_.serviceRunning = true;
      return kNoError;
    }
    bool Stop() override {
      port_.log.push_back("stop");
      if (port_.stopFails) return false;
      port_.serviceRunning = false;
      return true;
    }
    bool Delete() override {
      port_.log.push_back("delete");
      if (port_.deleteFails) return false;
      port_.serviceExists = false;
      return true;
    }

   private:
    FakeServicePort& port_;
  };

  class Manager : public ServiceManager {
   public:
    explicit Manager(FakeServicePort& port) : port_(port) {}
    ~Manager() override { port_.log.push_back("close-manager"); }
    uint32_t CreateDriverService(const std::string& binaryPath) override {
      port_.log.push_back("create " + binaryPath);
      if (port_.createError != kNoError) return port_.createError;
      if (port_.serviceExists) return kErrorServiceExists;
      port_.serviceExists = true;
      port_.serviceBinary = binaryPath;
      return kNoError;
    }
    std::unique_ptr<DriverService> OpenDriverService() override {
      port_.log.push_back("open-service");
      if (!port_.serviceExists) return nullptr;
      return std::make_unique<Service>(port_);
    }

   private:
    FakeServicePort& port_;
  };
};

class FakeMinuteTimer : public MinuteTimer {
 public:
  bool startFails = false;
  int starts = 0;
  int stops = 0;

  bool Start() override {
    ++starts;
    return !startFails;
  }
  void Stop() override { ++stops; }
};

// Files in memory. A file marked read-only opens only for reading.
class MemoryFileSystem : public FileSystem {
 public:
  struct Entry {
    std::vector<uint8_t> bytes;
    bool readOnly = false;
    bool sizeFails = false;
    bool readFails = false;
  };

  std::map<std::string, Entry> files;
  // "open <path> r|rw", "size <path>", "read <path> <offset> <size>".
  std::vector<std::string> log;

  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
    const bool reading = ReadsOnly(mode);
    log.push_back("open " + path + (reading ? " r" : " rw"));
    const auto entry = files.find(path);
    if (entry == files.end() || (!reading && mode != OpenMode::kReadWrite)) return nullptr;
    if (mode == OpenMode::kReadWrite && entry->second.readOnly) return nullptr;
    return std::make_unique<MemoryFile>(*this, path, entry->second);
  }
  bool Remove(const std::string& path) override { return files.erase(path) != 0; }
  bool FreeSpace(const std::string&, uint64_t*) override { return false; }
  bool Exists(const std::string& path) override { return files.count(path) == 1; }

  int Reads() const {
    int count = 0;
    for (const std::string& line : log) count += line.compare(0, 5, "read ") == 0 ? 1 : 0;
    return count;
  }

 private:
  class MemoryFile : public File {
   public:
    MemoryFile(MemoryFileSystem& files, std::string path, Entry& entry)
        : files_(files), path_(std::move(path)), entry_(entry) {}
    bool ReadAt(uint64_t offset, void* data, uint32_t size) override {
      files_.log.push_back("read " + path_ + " " + std::to_string(offset) + " " +
                           std::to_string(size));
      if (entry_.readFails || offset + size > entry_.bytes.size()) return false;
      memcpy(data, entry_.bytes.data() + offset, size);
      return true;
    }
    bool WriteAt(uint64_t, const void*, uint32_t) override { return false; }
    bool Size(uint64_t* size) override {
      files_.log.push_back("size " + path_);
      if (entry_.sizeFails) return false;
      *size = entry_.bytes.size();
      return true;
    }
    bool SetSize(uint64_t) override { return false; }
    bool Flush() override { return true; }

   private:
    MemoryFileSystem& files_;
    std::string path_;
    Entry& entry_;
  };
};
