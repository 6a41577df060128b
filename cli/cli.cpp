#include "cli/cli.h"

#include <ctype.h>
#include <inttypes.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <set>

#include "cli/benchmark.h"
#include "cli/care_commands.h"
#include "cli/command_line.h"
#include "cli/header_copy.h"
#include "cli/terminal.h"
#include "cli/volume_info.h"
#include "crypto/wipe.h"
#include "linux-mount/mount.h"
#include "platform/password_text.h"
#include "volume/change_password.h"
#include "volume/create_volume.h"
#include "volume/header.h"

namespace {

// A new volume's file system: exFAT on Linux, which Windows, macOS and
// Linux all read and write without extra software and which holds files of
// any size; on Windows the drive is formatted after its first mount.
#if defined(__linux__)
constexpr char kDefaultFileSystem[] = "exfat";
#else
constexpr char kDefaultFileSystem[] = "none";
#endif

constexpr char kUsage[] =
    "Usage: velmorcrypt-cli COMMAND [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  create VOLUME --size MB [--algorithm NAME] [--filesystem TYPE]\n"
    "        [--header FILE.ehb] [--force]\n"
    "                     create a volume, formatted (Linux)\n"
    "  passwd FILE        change the password of a volume or an external header block\n"
    "  info VOLUME [--header FILE.ehb] [--json]\n"
    "                     show a volume's algorithm, header placement and body size\n"
    "  backup-header VOLUME FILE [--header FILE.ehb] [--force]\n"
    "                     save the volume's sealed header to FILE\n"
    "  restore-header VOLUME FILE [--header FILE.ehb] [--force]\n"
    "                     write a saved header back; it brings back its old password\n"
    "  resize VOLUME --size MB [--header FILE.ehb] [--grow-filesystem] [--force]\n"
    "                     grow a volume (and its ext2/3/4 or NTFS file system)\n"
    "  check VOLUME [--header FILE.ehb] [--json]\n"
    "                     tell whether a volume, its header and its file system are sound\n"
    "  export VOLUME IMAGE [--header FILE.ehb] [--force]\n"
    "                     write the decrypted body to a plain disk image (unencrypted)\n"
    "  import IMAGE VOLUME --algorithm NAME [--header FILE.ehb] [--force]\n"
    "                     make a new volume whose body is a disk image\n"
    "  mount VOLUME FOLDER [--header FILE.ehb] [--read-only] [--foreground]\n"
    "        [--disk] [--fuse]\n"
    "                     show the volume's files in FOLDER (Linux)\n"
    "  unmount FOLDER     flush the volume and end its mount (Linux)\n"
    "  benchmark          time each algorithm's key derivation and sector encryption\n"
    "\n"
    "Options:\n"
    "  --password-stdin   read passwords from standard input, one per line\n" VM_CODEPAGE_OPTION
    "  --help             show help (also after a command)\n"
    "  --version          show the version\n";

constexpr char kCreateUsage[] =
    "Usage: velmorcrypt-cli create VOLUME --size MB [OPTIONS]\n"
    "\n"
    "Creates the volume file VOLUME with a body of MB megabytes (1 to 999999),\n"
    "every sector encrypted, and its password-sealed header at the end of the\n"
    "file or, with --header, in a separate external header block file.\n"
    "Asks for the password twice.\n"
    "\n"
    "On Linux the new volume comes out formatted: the file system is made by\n"
    "Debian's mkfs tool in memory and written into the volume encrypted.\n"
    "\n"
    "Options:\n"
    "  --size MB          body size in megabytes of 1048576 bytes (required)\n"
    "  --algorithm NAME   aes-128 (default), aes-256, blowfish-128 or blowfish-448\n"
    "  --filesystem TYPE  exfat (default on Linux), fat, ntfs, ext4 or none.\n"
    "                     exFAT is the default because Windows, macOS and Linux\n"
    "                     all read and write it without extra software and it\n"
    "                     holds files of any size (FAT stops at 4 GiB; NTFS needs\n"
    "                     ntfs-3g or ntfs3 on Linux; ext4 is Linux's alone).\n"
    "                     exFAT needs at least 3 MB. On Windows only none: the\n"
    "                     drive is formatted after its first mount.\n"
    "  --header FILE.ehb  keep the header in this file instead\n"
    "  --force            replace files that exist\n"
    "  --password-stdin   read the password and its confirmation from standard\n"
    "                     input, one per line\n" VM_CODEPAGE_OPTION
    "  --help             show this help\n";

constexpr char kPasswdUsage[] =
    "Usage: velmorcrypt-cli passwd FILE [OPTIONS]\n"
    "\n"
    "Changes the password of the header in the last 1044 bytes of FILE: a volume\n"
    "file that holds its header, or an external header block (.ehb). Nothing\n"
    "else in the file changes. Asks for the current password, then the new one\n"
    "twice. While it writes, the change keeps the old and the new header in\n"
    "FILE.header-backup and removes it afterwards; it refuses to run while a file\n"
    "that no change left lies under that name.\n"
    "\n"
    "Options:\n"
    "  --password-stdin   read the current password, the new password and its\n"
    "                     confirmation from standard input, one per line\n" VM_CODEPAGE_OPTION
    "  --help             show this help\n";

constexpr char kInfoUsage[] =
    "Usage: velmorcrypt-cli info VOLUME [OPTIONS]\n"
    "\n"
    "Opens the header of VOLUME with the password and shows the algorithm, where\n"
    "the header lies and the size of the body, and tells of a password change\n"
    "backup left beside the header. Reads only: a header torn by an interrupted\n"
    "password change is opened through its backup, and only passwd repairs it.\n"
    "\n"
    "Options:\n"
    "  --header FILE.ehb  the volume's external header block\n"
    "  --json             print one JSON object for scripts: algorithm,\n"
    "                     headerPlacement (\"volume file\" or \"external header block\"),\n"
    "                     headerFile, bodySize (bytes), headerBackup (\"none\", \"stale\",\n"
    "                     \"torn\" or \"foreign\") and headerBackupFile\n"
    "  --password-stdin   read the password from standard input\n" VM_CODEPAGE_OPTION
    "  --help             show this help\n";

constexpr char kBackupHeaderUsage[] =
    "Usage: velmorcrypt-cli backup-header VOLUME FILE [OPTIONS]\n"
    "\n"
    "Opens the header of VOLUME with the password, then saves the sealed header\n"
    "(1044 bytes, as an external header block) to the new file FILE, private to\n"
    "its owner. Keep it apart from the volume: one bad sector in the header loses\n"
    "every file in the volume, and restore-header brings it back. FILE holds the\n"
    "volume's keys sealed under today's password: whoever has it and that\n"
    "password can read the volume, even after the password is changed. FILE is\n"
    "never the volume, its header block, nor VOLUME.header-backup or\n"
    "FILE.ehb.header-backup, where a password change keeps its backup.\n"
    "\n"
    "Options:\n"
    "  --header FILE.ehb  the volume's external header block\n"
    "  --force            replace a file at FILE\n"
    "  --password-stdin   read the password from standard input\n" VM_CODEPAGE_OPTION
    "  --help             show this help\n";

constexpr char kRestoreHeaderUsage[] =
    "Usage: velmorcrypt-cli restore-header VOLUME FILE [OPTIONS]\n"
    "\n"
    "Writes the header saved in FILE by backup-header back over the header of\n"
    "VOLUME (its last 1044 bytes, or the external header block), with the same\n"
    "crash safety as a password change. The restored header brings back the\n"
    "password it had when it was saved: afterwards the volume opens with that\n"
    "password, not with a password set later.\n"
    "\n"
    "FILE must open with the password given. When the header in place opens with\n"
    "it too, both must be of the same volume (the same body keys); a header of\n"
    "another volume is refused. When the header in place no longer opens with\n"
    "it (damaged, or its password was changed since), only --force writes FILE.\n"
    "A header torn by an interrupted password change is first repaired from its\n"
    "backup, which stays until the repair is read back.\n"
    "\n"
    "Options:\n"
    "  --header FILE.ehb  the volume's external header block\n"
    "  --force            restore although the header in place does not open with\n"
    "                     the password: a header of another volume would make the\n"
    "                     volume's data unreadable\n"
    "  --password-stdin   read the password from standard input\n" VM_CODEPAGE_OPTION
    "  --help             show this help\n";

constexpr char kBenchmarkUsage[] =
    "Usage: velmorcrypt-cli benchmark\n"
    "\n"
    "Measures, for each algorithm on this machine, the time that opening a header\n"
    "takes at every mount (the key derivation) and the speed of the body's sector\n"
    "encryption and decryption, and shows the processor features used. Takes a\n"
    "few seconds.\n"
    "\n"
    "Options:\n"
    "  --help             show this help\n";

constexpr char kMountUsage[] =
    "Usage: velmorcrypt-cli mount VOLUME FOLDER [OPTIONS]\n"
    "\n"
    "Opens the header of VOLUME with the password and shows the volume's files\n"
    "in FOLDER, an empty folder (Linux). The decrypted disk is served through\n"
    "FUSE in a private folder that other users cannot enter; libblkid tells\n"
    "its file system, and who shows the files is decided in this order:\n"
    "  - as root (also through sudo): the kernel's own driver (vfat, exfat,\n"
    "    ntfs3, ext2/3/4, xfs, btrfs) on a loop device; FAT, exFAT and NTFS\n"
    "    files then belong to the user who ran sudo;\n"
    "  - otherwise, or where the kernel lacks the driver: fuse2fs (ext2/3/4),\n"
    "    ntfs-3g (NTFS) or exfat-fuse (exFAT);\n"
    "  - FAT without the kernel's vfat, which no FUSE server writes safely, and\n"
    "    a file system nothing here serves: a message that says what to do.\n"
    "A volume without a file system shows its disk as FOLDER/volume. Returns\n"
    "once the files are shown; 'velmorcrypt-cli unmount FOLDER' ends it.\n"
    "\n"
    "Options:\n"
    "  --header FILE.ehb  the volume's external header block\n"
    "  --read-only        read-only all the way down: the file system, the disk\n"
    "                     and the volume file\n"
    "  --foreground       stay until unmounted (Ctrl+C unmounts)\n"
    "  --disk             show the decrypted disk as FOLDER/volume instead (for\n"
    "                     mkfs, fsck, mtools or a file system of another kind)\n"
    "  --fuse             as root, show the files through the FUSE server even\n"
    "                     where the kernel's driver could\n"
    "  --password-stdin   read the password from standard input\n" VM_CODEPAGE_OPTION
    "  --help             show this help\n";

constexpr char kUnmountUsage[] =
    "Usage: velmorcrypt-cli unmount FOLDER\n"
    "\n"
    "Recognises the mount on FOLDER as a velmorcrypt volume's (by what the kernel\n"
    "tells of it, never by names that others can set), unmounts the files'\n"
    "view, detaches its loop device, flushes the volume to its file, ends the\n"
    "disk's mount and waits until the volume file is closed and the keys are\n"
    "wiped. Fails, leaving everything mounted, while a program uses the files.\n"
    "\n"
    "Options:\n"
    "  --help             show this help\n";

bool ParseNewFileSystem(const std::string& name, NewFileSystem* type) {
  static const struct {
    const char* name;
    NewFileSystem type;
  } kNames[] = {{"none", NewFileSystem::kNone},
                {"fat", NewFileSystem::kFat},
                {"exfat", NewFileSystem::kExfat},
                {"ntfs", NewFileSystem::kNtfs},
                {"ext4", NewFileSystem::kExt4}};
  for (const auto& known : kNames) {
    if (name == known.name) {
      *type = known.type;
      return true;
    }
  }
  return false;
}

int Create(const std::vector<std::string>& args, const CliStreams& io, FileSystem& fileSystem,
           const std::atomic<bool>* cancel) {
  Arguments parsed;
  int code = kExitSuccess;
  if (!ParseCommand(args, io, "create", kCreateUsage,
                    {"--size", "--algorithm", "--header", "--filesystem", "--codepage"},
                    {"--force"}, &parsed, &code)) {
    return code;
  }
  if (parsed.positional.size() != 1) return UsageError(io, "create", "name one volume file");
  if (parsed.values.count("--size") == 0) return UsageError(io, "create", "--size is required");
  CreateVolumeInput input;
  input.volumePath = parsed.positional[0];
  input.headerPath = parsed.values["--header"];
  input.replaceExisting = parsed.flags.count("--force") != 0;
  // A size that is no number reads as 0, which the engine refuses with its
  // own message.
  ParseVolumeSize(parsed.values["--size"], &input.sizeMb);
  input.algorithm =
      ParseAlgorithm(parsed.values.count("--algorithm") ? parsed.values["--algorithm"] : "aes-128");
  if (input.algorithm == kAlgorithmNone) {
    return UsageError(io, "create",
                      "unknown algorithm '" + parsed.values["--algorithm"] +
                          "' (aes-128, aes-256, blowfish-128, blowfish-448)");
  }
  const std::string fileSystemName =
      parsed.values.count("--filesystem") ? parsed.values["--filesystem"] : kDefaultFileSystem;
  NewFileSystem newFileSystem;
  if (!ParseNewFileSystem(fileSystemName, &newFileSystem)) {
    return UsageError(
        io, "create",
        "unknown file system '" + fileSystemName + "' (exfat, fat, ntfs, ext4, none)");
  }
  // The desktop's save dialog asks before it replaces a file; here the
  // user says so up front.
  for (const std::string* path : {&input.volumePath, &input.headerPath}) {
    if (!input.replaceExisting && Exists(io, fileSystem, *path)) return kExitFailure;
  }
  SecretSource secrets(io, parsed);
  if (!secrets.Ready("create", &code)) return code;
  if (!secrets.ReadNew("Password: ", "Confirm password: ", &input.password, &input.confirmation,
                       &input.passwordRefusal)) {
    return kExitFailure;
  }

  // The file system is made first: a tool that fails leaves no volume.
  int prepared = -1;
  const bool sizeValid = input.sizeMb >= 1 && input.sizeMb <= kMaxVolumeSizeMb;
  if (newFileSystem != NewFileSystem::kNone && sizeValid && input.passwordRefusal.empty() &&
      input.password == input.confirmation) {
    prepared = PrepareNewFileSystem(newFileSystem, uint64_t{input.sizeMb} * kMegabyte, io);
    if (prepared < 0) {
      WipeString(&input.password);
      WipeString(&input.confirmation);
      return kExitFailure;
    }
  }
  ProgressBar bar(io.err);
  const CreateVolumeOutcome result = CreateVolume(
      fileSystem, input, [&bar](uint32_t done, uint32_t total) { bar.Show(done, total); }, cancel);
  bar.End();
  int status = kExitSuccess;
  if (prepared >= 0) {
    status = result.outcome.success ? WriteNewFileSystem(prepared, fileSystem, input.volumePath,
                                                         input.headerPath, input.password, io)
                                    : (DiscardNewFileSystem(prepared), kExitSuccess);
  }
  WipeString(&input.password);
  WipeString(&input.confirmation);
  if (status != kExitSuccess) {
    // Half a volume is none: its files go.
    fileSystem.Remove(input.volumePath);
    if (!input.headerPath.empty()) fileSystem.Remove(input.headerPath);
    return status;
  }
  return Finish(io, result.outcome);
}

int Passwd(const std::vector<std::string>& args, const CliStreams& io, FileSystem& fileSystem) {
  Arguments parsed;
  int code = kExitSuccess;
  if (!ParseCommand(args, io, "passwd", kPasswdUsage, {"--codepage"}, {}, &parsed, &code)) {
    return code;
  }
  if (parsed.positional.size() != 1) return UsageError(io, "passwd", "name one file");
  SecretSource secrets(io, parsed);
  if (!secrets.Ready("passwd", &code)) return code;
  ChangePasswordInput input;
  input.path = parsed.positional[0];
  // A password change with the current password as earlier versions
  // stored it is what Opened would recommend.
  if (!secrets.ReadExisting("Current password: ", &input.currentPassword) ||
      !secrets.ReadNew("New password: ", "Confirm new password: ", &input.newPassword,
                       &input.confirmation, &input.newPasswordRefusal)) {
    WipeString(&input.currentPassword);
    return kExitFailure;
  }
  const ChangePasswordOutcome result = ChangeVolumePassword(fileSystem, input);
  WipeString(&input.currentPassword);
  WipeString(&input.newPassword);
  WipeString(&input.confirmation);
  return Finish(io, result.outcome);
}

// What `info` tells of a password change backup beside the header's file,
// after the header was opened or not.
void ReportBackup(FILE* stream, const std::string& headerFile, BackupState backup, bool opened) {
  const std::string backupPath = HeaderBackupPath(headerFile);
  switch (backup) {
    case BackupState::kNone:
      return;
    case BackupState::kStale:
      fprintf(stream,
              "Header backup: %s is left from an earlier password change; the next password "
              "change removes it\n",
              backupPath.c_str());
      return;
    case BackupState::kTorn:
      fprintf(stream,
              opened ? "Header backup: the header was torn by an interrupted password change and "
                       "was opened through %s; nothing was written (a password change repairs "
                       "it)\n"
                     : "Header backup: the header is torn by an interrupted password change; "
                       "neither copy in %s opens with this password\n",
              backupPath.c_str());
      return;
    case BackupState::kForeign:
      fprintf(stream,
              "Header backup: %s fits no interrupted password change of this header; ignored, "
              "but a password change or restore-header refuses to run until it is moved away\n",
              backupPath.c_str());
      return;
  }
}

void PrintInfoJson(FILE* out, const VolumeInfo& info, const std::string& volumePath,
                   const std::string& headerFile) {
  fprintf(out,
          "{\"algorithm\": %s, \"headerPlacement\": \"%s\", \"headerFile\": %s, "
          "\"bodySize\": %" PRIu64 ", \"headerBackup\": \"%s\", \"headerBackupFile\": %s, %s}\n",
          JsonString(AlgorithmName(info.algorithm)).c_str(),
          info.externalHeader ? "external header block" : "volume file",
          JsonString(headerFile).c_str(), info.bodySize, BackupStateName(info.backup),
          JsonString(HeaderBackupPath(headerFile)).c_str(),
          ResizeJson(volumePath, info.resize).c_str());
}

int Info(const std::vector<std::string>& args, const CliStreams& io, FileSystem& fileSystem) {
  Arguments parsed;
  int code = kExitSuccess;
  if (!ParseCommand(args, io, "info", kInfoUsage, {"--header", "--codepage"}, {"--json"}, &parsed,
                    &code)) {
    return code;
  }
  if (parsed.positional.size() != 1) return UsageError(io, "info", "name one volume file");
  SecretSource secrets(io, parsed);
  if (!secrets.Ready("info", &code)) return code;
  std::string password;
  if (!secrets.ReadExisting("Password: ", &password)) return kExitFailure;
  const std::string& headerPath = parsed.values["--header"];
  VolumeInfo info;
  const Outcome outcome =
      ReadVolumeInfo(fileSystem, parsed.positional[0], headerPath, password, &info);
  WipeString(&password);
  const std::string& headerFile = headerPath.empty() ? parsed.positional[0] : headerPath;
  const std::string resize = ResizeText(parsed.positional[0], info.resize);
  if (!outcome.success) {
    const int status = Finish(io, outcome);
    ReportBackup(io.err, headerFile, info.backup, false);
    if (!resize.empty()) fprintf(io.err, "Resize: %s\n", resize.c_str());
    return status;
  }
  if (parsed.flags.count("--json") != 0) {
    PrintInfoJson(io.out, info, parsed.positional[0], headerFile);
    return secrets.Opened(kExitSuccess);
  }
  fprintf(io.out, "Algorithm: %s\n", AlgorithmName(info.algorithm));
  if (info.externalHeader) {
    fprintf(io.out, "Header: external header block %s\n", headerPath.c_str());
  } else {
    fprintf(io.out, "Header: in the volume file (its last %" PRIu32 " bytes)\n", kHeaderSize);
  }
  fprintf(io.out, "Body: %" PRIu64 " bytes", info.bodySize);
  if (info.bodySize % kMegabyte == 0) {
    fprintf(io.out, " (%" PRIu64 " MB)", info.bodySize / kMegabyte);
  }
  fputc('\n', io.out);
  ReportBackup(io.out, headerFile, info.backup, true);
  if (!resize.empty()) fprintf(io.out, "Resize: %s\n", resize.c_str());
  return secrets.Opened(kExitSuccess);
}

// backup-header and restore-header: the same command line, one password.
int HeaderCopy(const std::vector<std::string>& args, const CliStreams& io, FileSystem& fileSystem,
               bool restore) {
  const std::string command = args[0];
  Arguments parsed;
  int code = kExitSuccess;
  if (!ParseCommand(args, io, command, restore ? kRestoreHeaderUsage : kBackupHeaderUsage,
                    {"--header", "--codepage"}, {"--force"}, &parsed, &code)) {
    return code;
  }
  if (parsed.positional.size() != 2) {
    return UsageError(io, command, "name one volume file and one header backup file");
  }
  HeaderCopyInput input;
  input.volumePath = parsed.positional[0];
  input.copyPath = parsed.positional[1];
  input.headerPath = parsed.values["--header"];
  input.force = parsed.flags.count("--force") != 0;
  if (!restore && !input.force && Exists(io, fileSystem, input.copyPath)) return kExitFailure;
  SecretSource secrets(io, parsed);
  if (!secrets.Ready(command, &code)) return code;
  if (!secrets.ReadExisting(restore ? "Password of the header backup: " : "Password: ",
                            &input.password)) {
    return kExitFailure;
  }
  const Outcome outcome =
      restore ? RestoreVolumeHeader(fileSystem, input) : BackupVolumeHeader(fileSystem, input);
  WipeString(&input.password);
  return secrets.Opened(Finish(io, outcome));
}

int Benchmark(const std::vector<std::string>& args, const CliStreams& io) {
  Arguments parsed;
  int code = kExitSuccess;
  if (!ParseCommand(args, io, "benchmark", kBenchmarkUsage, {}, {}, &parsed, &code)) {
    return code;
  }
  if (!parsed.positional.empty()) return UsageError(io, "benchmark", "takes no arguments");
  // A quarter of a second per speed figure: about three seconds in all.
  PrintBenchmark(io.out, MeasureAlgorithms(0.25));
  return kExitSuccess;
}

int Mount(const std::vector<std::string>& args, const CliStreams& io, FileSystem& fileSystem) {
  Arguments parsed;
  int code = kExitSuccess;
  if (!ParseCommand(args, io, "mount", kMountUsage, {"--header", "--codepage"},
                    {"--read-only", "--foreground", "--disk", "--fuse"}, &parsed, &code)) {
    return code;
  }
  if (parsed.positional.size() != 2) {
    return UsageError(io, "mount", "name one volume file and one folder");
  }
  SecretSource secrets(io, parsed);
  if (!secrets.Ready("mount", &code)) return code;
  MountOptions options;
  options.volumePath = parsed.positional[0];
  options.folder = parsed.positional[1];
  options.headerPath = parsed.values["--header"];
  options.readOnly = parsed.flags.count("--read-only") != 0;
  options.foreground = parsed.flags.count("--foreground") != 0;
  options.disk = parsed.flags.count("--disk") != 0;
  options.preferFuse = parsed.flags.count("--fuse") != 0;
  if (options.disk && options.preferFuse) {
    return UsageError(io, "mount", "--disk shows no files, so --fuse does not go with it");
  }
  return secrets.Opened(RunMount(options, io, fileSystem, [&secrets](std::string* password) {
    secrets.ReadExisting("Password: ", password);
  }));
}

int Unmount(const std::vector<std::string>& args, const CliStreams& io) {
  Arguments parsed;
  int code = kExitSuccess;
  if (!ParseCommand(args, io, "unmount", kUnmountUsage, {}, {}, &parsed, &code)) {
    return code;
  }
  if (parsed.positional.size() != 1) return UsageError(io, "unmount", "name one folder");
  return RunUnmount(parsed.positional[0], io);
}

}  // namespace

int RunCli(const std::vector<std::string>& args, const CliStreams& io, FileSystem& fileSystem,
           const std::atomic<bool>* cancel) {
  if (args.empty()) {
    fputs(kUsage, io.err);
    return kExitUsage;
  }
  const std::string& command = args[0];
  if (command == "--help" || command == "-h" || command == "help") {
    fputs(kUsage, io.out);
    return kExitSuccess;
  }
  if (command == "--version") {
    fprintf(io.out, "%s %s\n", kProgram, VM_VERSION);
    return kExitSuccess;
  }
  if (command == "create") return Create(args, io, fileSystem, cancel);
  if (command == "passwd") return Passwd(args, io, fileSystem);
  if (command == "info") return Info(args, io, fileSystem);
  if (command == "mount") return Mount(args, io, fileSystem);
  if (command == "unmount") return Unmount(args, io);
  if (command == "backup-header") return HeaderCopy(args, io, fileSystem, false);
  if (command == "restore-header") return HeaderCopy(args, io, fileSystem, true);
  if (command == "benchmark") return Benchmark(args, io);
  if (command == "resize") return ResizeCommand(args, io, fileSystem, cancel);
  if (command == "check") return CheckCommand(args, io, fileSystem);
  if (command == "export") return ExportCommand(args, io, fileSystem, cancel);
  if (command == "import") return ImportCommand(args, io, fileSystem, cancel);
  return UsageError(io, "", "unknown command '" + command + "'");
}
