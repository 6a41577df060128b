#include "cli/care_commands.h"

#include "cli/command_line.h"
#include "cli/volume_care.h"
#include "linux-mount/mount.h"
#include "volume/resize_volume.h"

namespace {

constexpr char kResizeUsage[] =
    "Usage: velmorcrypt-cli resize VOLUME --size MB [OPTIONS]\n"
    "\n"
    "Grows the body of VOLUME to MB megabytes (1 to 999999; a volume is never\n"
    "made smaller). The new sectors are written as a new volume's are, encrypted\n"
    "zeros, with progress on a terminal. With the header in the volume file, the\n"
    "header moves to the new end; a kill, a power loss or Ctrl+C at any point\n"
    "leaves a volume that opens with its password at its old or its new size.\n"
    "VOLUME.resize, beside it, tells of a growth that did not finish (info and\n"
    "check report it): resizing to its new size again finishes it, resizing to\n"
    "its old size undoes it. Refused while the volume is mounted, and when its\n"
    "disk lacks the room, before anything is written.\n"
    "\n"
    "The file system inside keeps its size unless --grow-filesystem grows it\n"
    "too (ext2/3/4 with e2fsck and resize2fs, NTFS with ntfsresize; Linux).\n"
    "FAT and exFAT have no maintained tool that grows them: mount the volume,\n"
    "copy the files out, create a larger volume and copy them in.\n"
    "\n"
    "Options:\n"
    "  --size MB          the body's new size in megabytes of 1048576 bytes\n"
    "  --header FILE.ehb  the volume's external header block\n"
    "  --grow-filesystem  grow the file system to fill the volume too (it is\n"
    "                     checked first; refused before anything is written when\n"
    "                     no tool here grows it)\n"
    "  --force            grow although the body does not decrypt with the keys\n"
    "                     of the external header block to zeros or a file system\n"
    "                     (it may belong to another volume)\n"
    "  --password-stdin   read the password from standard input\n" VM_CODEPAGE_OPTION
    "  --help             show this help\n";

constexpr char kCheckUsage[] =
    "Usage: velmorcrypt-cli check VOLUME [OPTIONS]\n"
    "\n"
    "Tells whether VOLUME is sound, without writing anything: the header opens\n"
    "with the password (algorithm, placement and body size), the file's size\n"
    "fits the format, the password change backup beside the header (none,\n"
    "stale, torn or foreign), an interrupted resize, and, on Linux, the file\n"
    "system's own checker run read-only on the decrypted disk (e2fsck -fn,\n"
    "ntfsfix -n, fsck.exfat -n, fsck.fat -n). Nothing is repaired. Exits with 0\n"
    "when all is sound, 1 with a list of what is not.\n"
    "\n"
    "Options:\n"
    "  --header FILE.ehb  the volume's external header block\n"
    "  --json             print one JSON object for scripts: info's members and\n"
    "                     fileSize, sizeFits, headerOpens, resize, fileSystem,\n"
    "                     fileSystemCheck (\"clean\", \"faults\" or \"not checked\"),\n"
    "                     fileSystemChecker, sound and problems\n"
    "  --password-stdin   read the password from standard input\n" VM_CODEPAGE_OPTION
    "  --help             show this help\n";

constexpr char kExportUsage[] =
    "Usage: velmorcrypt-cli export VOLUME IMAGE [OPTIONS]\n"
    "\n"
    "Writes the decrypted body of VOLUME to IMAGE, a plain disk image that any\n"
    "machine reads without this program (a loop device, mtools, 7-Zip, a virtual\n"
    "machine). IMAGE is NOT encrypted: whoever can read it reads the volume's\n"
    "files. It is created private to its owner and exclusively. The volume is\n"
    "read only; it may be mounted read-only meanwhile, not read-write. A failure,\n"
    "a full disk, a volume that changes during the copy or Ctrl+C removes IMAGE.\n"
    "\n"
    "Options:\n"
    "  --header FILE.ehb  the volume's external header block\n"
    "  --force            replace a file at IMAGE\n"
    "  --password-stdin   read the password from standard input\n" VM_CODEPAGE_OPTION
    "  --help             show this help\n";

constexpr char kImportUsage[] =
    "Usage: velmorcrypt-cli import IMAGE VOLUME --algorithm NAME [OPTIONS]\n"
    "\n"
    "Creates the volume file VOLUME whose body is the disk image IMAGE,\n"
    "encrypted, followed by encrypted zeros up to a whole megabyte. IMAGE must be\n"
    "a whole number of 512-byte sectors and at most 999999 MB. Asks for the new\n"
    "volume's password twice. A failure, an image that changes during the copy\n"
    "or Ctrl+C leaves no volume.\n"
    "\n"
    "Options:\n"
    "  --algorithm NAME   aes-128, aes-256, blowfish-128 or blowfish-448\n"
    "  --header FILE.ehb  keep the header in this file instead\n"
    "  --force            replace files that exist\n"
    "  --password-stdin   read the password and its confirmation from standard\n"
    "                     input, one per line\n" VM_CODEPAGE_OPTION
    "  --help             show this help\n";

const char* CheckResultName(FileSystemCheck::Result result) {
  switch (result) {
    case FileSystemCheck::Result::kClean:
      return "clean";
    case FileSystemCheck::Result::kFaults:
      return "faults";
    case FileSystemCheck::Result::kNotChecked:
      return "not checked";
  }
  return "not checked";
}

// A JSON string, or null when empty.
std::string JsonOrNull(const std::string& text) { return text.empty() ? "null" : JsonString(text); }

void PrintCheck(FILE* out, const std::string& volumePath, const std::string& headerPath,
                const VolumeCheck& check, const FileSystemCheck& fileSystem) {
  const VolumeInfo& info = check.info;
  if (check.opened) {
    fprintf(out, "Algorithm: %s\n", AlgorithmName(info.algorithm));
    if (info.externalHeader) {
      fprintf(out, "Header: external header block %s\n", headerPath.c_str());
    } else {
      fprintf(out, "Header: in the volume file (its last %" PRIu32 " bytes)\n", kHeaderSize);
    }
    fprintf(out, "Body: %" PRIu64 " bytes\n", info.bodySize);
  } else {
    fputs("Header: does not open with this password\n", out);
  }
  fprintf(out, "File size: %" PRIu64 " bytes, %s\n", check.fileSize,
          check.sizeFits ? "fits the format" : "does not fit the format");
  fprintf(out, "Header backup: %s\n", BackupStateName(info.backup));
  const std::string resize = ResizeText(volumePath, check.resize);
  fprintf(out, "Resize: %s\n", resize.empty() ? "none pending" : resize.c_str());
  if (fileSystem.result == FileSystemCheck::Result::kNotChecked) {
    fprintf(out, "File system: %s%snot checked (%s)\n", fileSystem.type.c_str(),
            fileSystem.type.empty() ? "" : ", ", fileSystem.report.c_str());
  } else {
    fprintf(out, "File system: %s, %s: %s\n", fileSystem.type.c_str(), fileSystem.checker.c_str(),
            CheckResultName(fileSystem.result));
  }
  if (check.problems.empty()) {
    fputs("The volume is sound.\n", out);
    return;
  }
  fputs("Problems:\n", out);
  for (const std::string& problem : check.problems) fprintf(out, "  - %s\n", problem.c_str());
  if (!fileSystem.report.empty() && fileSystem.result == FileSystemCheck::Result::kFaults) {
    fprintf(out, "What %s said:\n%s", fileSystem.checker.c_str(), fileSystem.report.c_str());
  }
}

void PrintCheckJson(FILE* out, const std::string& volumePath, const std::string& headerPath,
                    const VolumeCheck& check, const FileSystemCheck& fileSystem) {
  const std::string& headerFile = headerPath.empty() ? volumePath : headerPath;
  std::string problems;
  for (const std::string& problem : check.problems) {
    problems += (problems.empty() ? "" : ", ") + JsonString(problem);
  }
  fprintf(out,
          "{\"algorithm\": %s, \"headerPlacement\": \"%s\", \"headerFile\": %s, "
          "\"bodySize\": %" PRIu64 ", \"fileSize\": %" PRIu64
          ", \"sizeFits\": %s, \"headerOpens\": %s, \"headerBackup\": \"%s\", "
          "\"headerBackupFile\": %s, %s, \"fileSystem\": %s, \"fileSystemCheck\": \"%s\", "
          "\"fileSystemChecker\": %s, \"sound\": %s, \"problems\": [%s]}\n",
          check.opened ? JsonString(AlgorithmName(check.info.algorithm)).c_str() : "null",
          headerPath.empty() ? "volume file" : "external header block",
          JsonString(headerFile).c_str(), check.info.bodySize, check.fileSize,
          check.sizeFits ? "true" : "false", check.opened ? "true" : "false",
          BackupStateName(check.info.backup), JsonString(HeaderBackupPath(headerFile)).c_str(),
          ResizeJson(volumePath, check.resize).c_str(), JsonOrNull(fileSystem.type).c_str(),
          CheckResultName(fileSystem.result), JsonOrNull(fileSystem.checker).c_str(),
          check.problems.empty() ? "true" : "false", problems.c_str());
}

}  // namespace

std::string ResizeText(const std::string& volumePath, const PendingResize& resize) {
  const std::string journal = ResizeJournalPath(volumePath);
  switch (resize.state) {
    case PendingResize::State::kNone:
      return "";
    case PendingResize::State::kPending:
      return "a growth from " + std::to_string(resize.fromMb) + " MB to " +
             std::to_string(resize.toMb) + " MB was interrupted (" + journal + "); " +
             ResizeAdvice(volumePath, resize.fromMb, resize.toMb);
    case PendingResize::State::kForeign:
      return journal + " is no resize journal of this volume that can be checked";
  }
  return "";
}

std::string ResizeJson(const std::string& volumePath, const PendingResize& resize) {
  const char* state = resize.state == PendingResize::State::kNone      ? "none"
                      : resize.state == PendingResize::State::kPending ? "interrupted"
                                                                       : "foreign";
  return "\"resize\": \"" + std::string(state) +
         "\", \"resizeJournal\": " + JsonString(ResizeJournalPath(volumePath)) +
         ", \"resizeFromMb\": " + std::to_string(resize.fromMb) +
         ", \"resizeToMb\": " + std::to_string(resize.toMb);
}

int ResizeCommand(const std::vector<std::string>& args, const CliStreams& io,
                  FileSystem& fileSystem, const std::atomic<bool>* cancel) {
  Arguments parsed;
  int code = kExitSuccess;
  if (!ParseCommand(args, io, "resize", kResizeUsage, {"--size", "--header", "--codepage"},
                    {"--grow-filesystem", "--force"}, &parsed, &code)) {
    return code;
  }
  if (parsed.positional.size() != 1) return UsageError(io, "resize", "name one volume file");
  if (parsed.values.count("--size") == 0) return UsageError(io, "resize", "--size is required");
  ResizeVolumeInput input;
  input.volumePath = parsed.positional[0];
  input.headerPath = parsed.values["--header"];
  input.force = parsed.flags.count("--force") != 0;
  // A size that is no number reads as 0, which the engine refuses.
  ParseVolumeSize(parsed.values["--size"], &input.sizeMb);
  const bool growFileSystem = parsed.flags.count("--grow-filesystem") != 0;
  SecretSource secrets(io, parsed);
  if (!secrets.Ready("resize", &code)) return code;
  if (!secrets.ReadExisting("Password: ", &input.password)) return kExitFailure;
  std::string type;
  if (growFileSystem) {
    // Known before anything is written: a file system that nothing here
    // grows refuses the whole command.
    const int found = VolumeFileSystemType(fileSystem, input.volumePath, input.headerPath,
                                           input.password, io, &type);
    if (found != kExitSuccess) {
      WipeString(&input.password);
      return found;
    }
    if (!FileSystemGrows(type)) {
      WipeString(&input.password);
      fprintf(io.err,
              "%s: %s holds %s, which no maintained tool here grows; nothing was changed. "
              "To give its files more room, mount it, copy them out, create a larger volume "
              "(create --size MB --filesystem ...) and copy them in.\n",
              kProgram, input.volumePath.c_str(),
              type.empty() ? "no file system that this machine recognises" : type.c_str());
      return kExitFailure;
    }
  }
  ProgressBar bar(io.err);
  const ResizeOutcome result = ResizeVolume(
      fileSystem, input, [&bar](uint32_t done, uint32_t total) { bar.Show(done, total); }, cancel);
  bar.End();
  int status = Finish(io, result.outcome);
  if (status == kExitSuccess && growFileSystem &&
      (result.result == ResizeResult::kGrown || result.result == ResizeResult::kUnchanged)) {
    status =
        GrowVolumeFileSystem(fileSystem, input.volumePath, input.headerPath, input.password, io);
    if (status == kExitSuccess) {
      fprintf(io.out, "The %s file system fills the volume's %" PRIu32 " MB now.\n", type.c_str(),
              result.toMb);
    } else {
      fprintf(io.err,
              "%s: the volume is %" PRIu32
              " MB, but its file system keeps its old size; 'velmorcrypt-cli resize %s --size "
              "%" PRIu32 " --grow-filesystem' tries again\n",
              kProgram, result.toMb, input.volumePath.c_str(), result.toMb);
    }
  }
  WipeString(&input.password);
  return secrets.Opened(status);
}

int CheckCommand(const std::vector<std::string>& args, const CliStreams& io,
                 FileSystem& fileSystem) {
  Arguments parsed;
  int code = kExitSuccess;
  if (!ParseCommand(args, io, "check", kCheckUsage, {"--header", "--codepage"}, {"--json"}, &parsed,
                    &code)) {
    return code;
  }
  if (parsed.positional.size() != 1) return UsageError(io, "check", "name one volume file");
  SecretSource secrets(io, parsed);
  if (!secrets.Ready("check", &code)) return code;
  std::string password;
  if (!secrets.ReadExisting("Password: ", &password)) return kExitFailure;
  const std::string& volumePath = parsed.positional[0];
  const std::string& headerPath = parsed.values["--header"];
  VolumeCheck check = CheckVolume(fileSystem, volumePath, headerPath, password);
  FileSystemCheck fileSystemCheck;
  fileSystemCheck.report = "the header does not open";
  if (check.opened) {
    fileSystemCheck = CheckVolumeFileSystem(fileSystem, volumePath, headerPath, password);
  }
  WipeString(&password);
  if (fileSystemCheck.result == FileSystemCheck::Result::kFaults) {
    check.problems.push_back("The " + fileSystemCheck.type + " file system has faults (" +
                             fileSystemCheck.checker +
                             "; nothing was repaired). Its checker repairs them on the disk that "
                             "'velmorcrypt-cli mount VOLUME FOLDER --disk' shows as "
                             "FOLDER/volume.");
  }
  if (parsed.flags.count("--json") != 0) {
    PrintCheckJson(io.out, volumePath, headerPath, check, fileSystemCheck);
  } else {
    PrintCheck(io.out, volumePath, headerPath, check, fileSystemCheck);
  }
  return secrets.Opened(check.problems.empty() ? kExitSuccess : kExitFailure);
}

int ExportCommand(const std::vector<std::string>& args, const CliStreams& io,
                  FileSystem& fileSystem, const std::atomic<bool>* cancel) {
  Arguments parsed;
  int code = kExitSuccess;
  if (!ParseCommand(args, io, "export", kExportUsage, {"--header", "--codepage"}, {"--force"},
                    &parsed, &code)) {
    return code;
  }
  if (parsed.positional.size() != 2) {
    return UsageError(io, "export", "name one volume file and one image file");
  }
  ExportInput input;
  input.volumePath = parsed.positional[0];
  input.imagePath = parsed.positional[1];
  input.headerPath = parsed.values["--header"];
  input.force = parsed.flags.count("--force") != 0;
  if (!input.force && Exists(io, fileSystem, input.imagePath)) return kExitFailure;
  SecretSource secrets(io, parsed);
  if (!secrets.Ready("export", &code)) return code;
  if (!secrets.ReadExisting("Password: ", &input.password)) return kExitFailure;
  fprintf(io.err,
          "%s: warning: %s will hold the volume's contents unencrypted: whoever can read it "
          "reads them. Keep it where only you can, and delete it when you are done.\n",
          kProgram, input.imagePath.c_str());
  ProgressBar bar(io.err);
  const Outcome outcome = ExportVolume(
      fileSystem, input, [&bar](uint32_t done, uint32_t total) { bar.Show(done, total); }, cancel);
  bar.End();
  WipeString(&input.password);
  return secrets.Opened(Finish(io, outcome));
}

int ImportCommand(const std::vector<std::string>& args, const CliStreams& io,
                  FileSystem& fileSystem, const std::atomic<bool>* cancel) {
  Arguments parsed;
  int code = kExitSuccess;
  if (!ParseCommand(args, io, "import", kImportUsage, {"--algorithm", "--header", "--codepage"},
                    {"--force"}, &parsed, &code)) {
    return code;
  }
  if (parsed.positional.size() != 2) {
    return UsageError(io, "import", "name one image file and one volume file");
  }
  if (parsed.values.count("--algorithm") == 0) {
    return UsageError(io, "import", "--algorithm is required");
  }
  ImportInput input;
  input.imagePath = parsed.positional[0];
  CreateVolumeInput& volume = input.volume;
  volume.volumePath = parsed.positional[1];
  volume.headerPath = parsed.values["--header"];
  volume.replaceExisting = parsed.flags.count("--force") != 0;
  volume.algorithm = ParseAlgorithm(parsed.values["--algorithm"]);
  if (volume.algorithm == kAlgorithmNone) {
    return UsageError(io, "import",
                      "unknown algorithm '" + parsed.values["--algorithm"] +
                          "' (aes-128, aes-256, blowfish-128, blowfish-448)");
  }
  for (const std::string* path : {&volume.volumePath, &volume.headerPath}) {
    if (!volume.replaceExisting && Exists(io, fileSystem, *path)) return kExitFailure;
  }
  SecretSource secrets(io, parsed);
  if (!secrets.Ready("import", &code)) return code;
  if (!secrets.ReadNew("Password: ", "Confirm password: ", &volume.password, &volume.confirmation,
                       &volume.passwordRefusal)) {
    return kExitFailure;
  }
  ProgressBar bar(io.err);
  const Outcome outcome = ImportImage(
      fileSystem, input, [&bar](uint32_t done, uint32_t total) { bar.Show(done, total); }, cancel);
  bar.End();
  WipeString(&volume.password);
  WipeString(&volume.confirmation);
  return Finish(io, outcome);
}
