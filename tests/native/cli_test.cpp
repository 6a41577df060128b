// The command-line tool, run in-process with files for its standard
// streams: creating, inspecting and re-keying volumes, the engines'
// messages and exit codes, and command lines it refuses.
#include "cli/cli.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "cli/benchmark.h"
#include "cli/terminal.h"
#include "engine_test_support.h"
#include "volume/header.h"

#ifndef _WIN32
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

struct CliRun {
  int code;
  std::string out;
  std::string err;
};

class CliTest : public ::testing::Test {
 protected:
  // Runs the tool with `input` as its standard input.
  CliRun Run(const std::vector<std::string>& args, const std::string& input = "",
             const std::atomic<bool>* cancel = nullptr) {
    WriteWholeFile(streams.File("in"), std::vector<uint8_t>(input.begin(), input.end()));
    FILE* in = fopen(streams.File("in").c_str(), "rb");
    FILE* out = fopen(streams.File("out").c_str(), "wb");
    FILE* err = fopen(streams.File("err").c_str(), "wb");
    EXPECT_TRUE(in && out && err);
    const int code = RunCli(args, {in, out, err}, *fileSystem, cancel);
    fclose(in);
    fclose(out);
    fclose(err);
    const std::vector<uint8_t> outBytes = ReadWholeFile(streams.File("out"));
    const std::vector<uint8_t> errBytes = ReadWholeFile(streams.File("err"));
    return {code, std::string(outBytes.begin(), outBytes.end()),
            std::string(errBytes.begin(), errBytes.end())};
  }

  FileSystem* fileSystem = &SystemFileSystem();  // the tool's files
  TempFolder streams;  // the standard streams, and the volumes in a folder beside them
  std::string volumes = streams.File("volumes");
  std::string Volume(const std::string& name) {
    std::filesystem::create_directories(volumes);
    return (std::filesystem::path(volumes) / name).string();
  }
};

TEST_F(CliTest, CreateInfoPasswdRoundTrip) {
  const std::string volume = Volume("round.vmv");
  CliRun run = Run({"create", volume, "--filesystem", "none", "--size", "1", "--algorithm",
                    "aes-256", "--password-stdin"},
                   "first\nfirst\n");
  ASSERT_EQ(run.code, kExitSuccess) << run.err;
  EXPECT_EQ(run.out, "Velmorcrypt volume successfully created.\n");
  EXPECT_EQ(run.err, "");  // no progress bar when standard error is no terminal
  EXPECT_EQ(std::filesystem::file_size(volume), 1049620u);

  run = Run({"info", volume, "--password-stdin"}, "first\n");
  ASSERT_EQ(run.code, kExitSuccess) << run.err;
  EXPECT_EQ(run.out,
            "Algorithm: AES-256\n"
            "Header: in the volume file (its last 1044 bytes)\n"
            "Body: 1048576 bytes (1 MB)\n");

  run = Run({"passwd", volume, "--password-stdin"}, "first\nsecond\nsecond\n");
  ASSERT_EQ(run.code, kExitSuccess) << run.err;
  EXPECT_EQ(run.out, "Password successfully changed.\n");

  run = Run({"info", "--password-stdin", volume}, "first\n");
  EXPECT_EQ(run.code, kExitFailure);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Error decrypting header information with the supplied password.\n");
  run = Run({"info", volume, "--password-stdin"}, "second\r\n");
  EXPECT_EQ(run.code, kExitSuccess) << run.err;
}

TEST_F(CliTest, ExternalHeaderBlock) {
  const std::string volume = Volume("apart.vmv");
  const std::string header = Volume("apart.ehb");
  CliRun run = Run({"create", volume, "--filesystem", "none", "--size=2", "--header=" + header,
                    "--algorithm=blowfish-448", "--password-stdin"},
                   "pw\npw\n");
  ASSERT_EQ(run.code, kExitSuccess) << run.err;
  EXPECT_EQ(std::filesystem::file_size(volume), 2u * 1048576);
  EXPECT_EQ(std::filesystem::file_size(header), 1044u);

  run = Run({"info", volume, "--header", header, "--password-stdin"}, "pw\n");
  ASSERT_EQ(run.code, kExitSuccess) << run.err;
  EXPECT_EQ(run.out, "Algorithm: Blowfish-448\nHeader: external header block " + header +
                         "\nBody: 2097152 bytes (2 MB)\n");

  // The volume file holds no header of its own.
  run = Run({"passwd", volume, "--password-stdin"}, "pw\nnew\nnew\n");
  EXPECT_EQ(run.code, kExitFailure);
  EXPECT_EQ(run.err, "Error changing password.\n");
  run = Run({"passwd", header, "--password-stdin"}, "pw\nnew\nnew\n");
  EXPECT_EQ(run.code, kExitSuccess) << run.err;
  EXPECT_EQ(Run({"info", volume, "--header", header, "--password-stdin"}, "new\n").code,
            kExitSuccess);
}

TEST_F(CliTest, WrongCurrentPasswordIsRefused) {
  const std::string volume = Volume("wrong.vmv");
  ASSERT_EQ(Run({"create", volume, "--filesystem", "none", "--size", "1", "--password-stdin"},
                "right\nright\n")
                .code,
            kExitSuccess);
  const std::vector<uint8_t> before = ReadWholeFile(volume);
  const CliRun run = Run({"passwd", volume, "--password-stdin"}, "wrong\nnew\nnew\n");
  EXPECT_EQ(run.code, kExitFailure);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Error changing password.\n");
  EXPECT_EQ(ReadWholeFile(volume), before);
}

TEST_F(CliTest, CreateShowsTheEnginesMessages) {
  const std::string volume = Volume("refused.vmv");
  CliRun run = Run({"create", volume, "--filesystem", "none", "--size", "1", "--password-stdin"},
                   "one\ntwo\n");
  EXPECT_EQ(run.code, kExitFailure);
  EXPECT_EQ(run.err, "Passwords do not match.\n");
  run = Run({"create", volume, "--filesystem", "none", "--size", "lots", "--password-stdin"},
            "one\none\n");
  EXPECT_EQ(run.err, "Volume size must be from 1 to 999999 MB\n");
  run = Run({"create", volume, "--filesystem", "none", "--size", "1000000", "--password-stdin"},
            "one\none\n");
  EXPECT_EQ(run.err, "Volume size must be from 1 to 999999 MB\n");
  // Missing lines read as empty passwords.
  run = Run({"create", volume, "--filesystem", "none", "--size", "1", "--password-stdin"}, "one\n");
  EXPECT_EQ(run.err, "Please specify volume password.\n");
  run = Run({"create", volume, "--filesystem", "none", "--size", "1", "--password-stdin"},
            std::string(65, 'p') + "\n" + std::string(65, 'p') + "\n");
  EXPECT_EQ(run.err, "Passwords cannot be longer than 64 characters.\n");
  EXPECT_FALSE(std::filesystem::exists(volume));
}

TEST_F(CliTest, ExistingFilesAreReplacedOnlyWithForce) {
  const std::string volume = Volume("existing.vmv");
  const std::string header = Volume("existing.ehb");
  for (const std::string& existing : {volume, header}) {
    WriteWholeFile(existing, {1, 2, 3});
    const CliRun run = Run({"create", volume, "--filesystem", "none", "--size", "1", "--header",
                            header, "--password-stdin"},
                           "pw\npw\n");
    EXPECT_EQ(run.code, kExitFailure);
    EXPECT_EQ(run.err, "velmorcrypt-cli: " + existing + " exists; use --force to replace it\n");
    EXPECT_EQ(ReadWholeFile(existing), (std::vector<uint8_t>{1, 2, 3}));
    std::filesystem::remove(existing);
  }
  WriteWholeFile(volume, {1, 2, 3});
  const CliRun run =
      Run({"create", volume, "--filesystem", "none", "--size", "1", "--force", "--password-stdin"},
          "pw\npw\n");
  EXPECT_EQ(run.code, kExitSuccess) << run.err;
  EXPECT_EQ(std::filesystem::file_size(volume), 1049620u);
}

TEST_F(CliTest, CancelledCreationLeavesNothing) {
  const std::string volume = Volume("cancelled.vmv");
  const std::atomic<bool> cancel = true;
  const CliRun run = Run({"create", volume, "--filesystem", "none", "--size", "2", "--header",
                          Volume("cancelled.ehb"), "--password-stdin"},
                         "pw\npw\n", &cancel);
  EXPECT_EQ(run.code, kExitFailure);
  EXPECT_EQ(run.err, "Volume creation cancelled.\n");
  EXPECT_TRUE(std::filesystem::is_empty(volumes));
}

TEST_F(CliTest, InfoChecksInTheMountOrder) {
  const std::string volume = Volume("checked.vmv");
  const std::string header = Volume("checked.ehb");
  ASSERT_EQ(Run({"create", volume, "--filesystem", "none", "--size", "1", "--header", header,
                 "--password-stdin"},
                "pw\npw\n")
                .code,
            kExitSuccess);
  auto info = [&](std::vector<std::string> args, const std::string& password) {
    args.insert(args.begin(), "info");
    args.push_back("--password-stdin");
    const CliRun run = Run(args, password + "\n");
    EXPECT_EQ(run.code, kExitFailure);
    return run.err;
  };
  EXPECT_EQ(info({Volume("missing.vmv")}, ""), "Please specify volume password.\n");
  EXPECT_EQ(info({Volume("missing.vmv")}, std::string(65, 'p')),
            "Passwords should not be longer than 64 characters.\n");
  EXPECT_EQ(info({volume, "--header", Volume("missing.ehb")}, "pw"),
            "Error opening external header block.\n");
  // The header block is opened before the volume file is looked at.
  EXPECT_EQ(info({Volume("missing.vmv"), "--header", header}, "wrong"),
            "Error decrypting header information with the supplied password.\n");
  EXPECT_EQ(info({Volume("missing.vmv"), "--header", header}, "pw"),
            "Error opening Velmorcrypt volume.\n");
  EXPECT_EQ(info({Volume("missing.vmv")}, "pw"), "Error opening Velmorcrypt volume.\n");

  for (size_t size : {1043u, 1045u}) {
    WriteWholeFile(Volume("odd.ehb"), std::vector<uint8_t>(size, 0));
    EXPECT_EQ(info({volume, "--header", Volume("odd.ehb")}, "pw"),
              "Error reading external header block.\n");
  }
  // A volume file must be larger than its header.
  std::vector<uint8_t> bytes = ReadWholeFile(header);
  WriteWholeFile(Volume("tiny.vmv"), bytes);
  EXPECT_EQ(info({Volume("tiny.vmv")}, "pw"), "Error reading Velmorcrypt volume.\n");
  bytes.insert(bytes.begin(), 0);
  WriteWholeFile(Volume("tiny.vmv"), bytes);
  const CliRun run = Run({"info", Volume("tiny.vmv"), "--password-stdin"}, "pw\n");
  EXPECT_EQ(run.code, kExitSuccess) << run.err;
  EXPECT_EQ(run.out,
            "Algorithm: AES-128\nHeader: in the volume file (its last 1044 bytes)\n"
            "Body: 1 bytes\n");
}

TEST_F(CliTest, HelpAndVersion) {
  for (const char* command : {"create", "passwd", "info", "backup-header", "restore-header",
                              "benchmark", "mount", "unmount"}) {
    const CliRun run = Run({command, "--help"});
    EXPECT_EQ(run.code, kExitSuccess);
    EXPECT_EQ(run.out.rfind(std::string("Usage: velmorcrypt-cli ") + command, 0), 0u) << run.out;
  }
  CliRun run = Run({"--help"});
  EXPECT_EQ(run.code, kExitSuccess);
  EXPECT_NE(run.out.find("--password-stdin"), std::string::npos);
  run = Run({"--version"});
  EXPECT_EQ(run.code, kExitSuccess);
  EXPECT_EQ(run.out.rfind("velmorcrypt-cli ", 0), 0u) << run.out;
}

TEST_F(CliTest, CommandLinesItRefuses) {
  const std::string volume = Volume("usage.vmv");
  const std::vector<std::vector<std::string>> refused = {
      {},
      {"format", volume},
      {"create", volume, "--password-stdin"},                         // no size
      {"create", "--size", "1", "--password-stdin"},                  // no volume
      {"create", volume, volume, "--size", "1", "--password-stdin"},  // two volumes
      {"create", volume, "--size", "1", "--algorithm", "des", "--password-stdin"},
      {"create", volume, "--size", "1", "--password", "secret"},  // no passwords here
      {"create", volume, "--size"},
      {"passwd", "--password-stdin"},
      {"passwd", volume, "--force", "--password-stdin"},
      {"info", volume, "--size", "1", "--password-stdin"},
  };
  for (const std::vector<std::string>& args : refused) {
    const CliRun run = Run(args, "pw\npw\npw\n");
    EXPECT_EQ(run.code, kExitUsage) << (args.empty() ? "" : args[0]);
    EXPECT_FALSE(run.err.empty());
  }
  EXPECT_FALSE(std::filesystem::exists(volume));
}

TEST_F(CliTest, PasswordsNeedATerminalOrStandardInput) {
  const std::string volume = Volume("terminal.vmv");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"create", volume, "--size", "1"}, {"passwd", volume}, {"info", volume}}) {
    const CliRun run = Run(args, "pw\npw\npw\n");
    EXPECT_EQ(run.code, kExitUsage);
    EXPECT_NE(run.err.find("use --password-stdin"), std::string::npos) << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(volume));
}

// A volume of 1 MB made with `password`, its header in the volume file or
// in an external header block: the arguments that name it, and the file
// that holds its header.
struct TestVolume {
  std::vector<std::string> names;
  std::string headerFile;
};

class HeaderCopyTest : public CliTest, public ::testing::WithParamInterface<bool> {
 protected:
  TestVolume Make(const std::string& name, const std::string& password) {
    TestVolume volume;
    volume.names = {Volume(name + ".vmv")};
    volume.headerFile = volume.names[0];
    if (GetParam()) {
      volume.headerFile = Volume(name + ".ehb");
      volume.names.insert(volume.names.end(), {"--header", volume.headerFile});
    }
    std::vector<std::string> args = {"create", "--filesystem",    "none", "--size",
                                     "1",      "--password-stdin"};
    args.insert(args.begin() + 1, volume.names.begin(), volume.names.end());
    EXPECT_EQ(Run(args, password + "\n" + password + "\n").code, kExitSuccess);
    return volume;
  }
  // Runs COMMAND VOLUME [--header FILE.ehb] COPY [extra...] with the password.
  CliRun Copy(const char* command, const TestVolume& volume, const std::string& copy,
              const std::string& password, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {command, volume.names[0], copy, "--password-stdin"};
    args.insert(args.end(), volume.names.begin() + 1, volume.names.end());
    args.insert(args.end(), extra.begin(), extra.end());
    return Run(args, password + "\n");
  }
  // Runs `run` with a full disk or a failing read at each call on a file in
  // turn, a write cut short, until it passes: each failing run exits 1 and
  // leaves every file as it was. Returns the number of faults tried.
  int FailEachCall(const std::function<CliRun()>& run) {
    FaultyFileSystem faulty;
    faulty.shortWrite = true;
    fileSystem = &faulty;
    const auto before = FilesIn(volumes);
    for (faulty.failAt = 0;; ++faulty.failAt) {
      faulty.log.clear();
      const CliRun result = run();
      if (result.code == kExitSuccess) break;
      EXPECT_EQ(result.code, kExitFailure);
      EXPECT_EQ(FilesIn(volumes), before) << "fault at call " << faulty.failAt;
    }
    fileSystem = &SystemFileSystem();
    return faulty.failAt;
  }
  int InfoCode(const TestVolume& volume, const std::string& password) {
    std::vector<std::string> args = {"info", "--password-stdin"};
    args.insert(args.end(), volume.names.begin(), volume.names.end());
    return Run(args, password + "\n").code;
  }
};

INSTANTIATE_TEST_SUITE_P(Layouts, HeaderCopyTest, ::testing::Bool(),
                         [](const auto& layout) { return layout.param ? "External" : "InFile"; });

// The saved header is the sealed header as it lies on the disk; restoring
// it after a password change brings back the old password and the header
// file's bytes of the day it was saved.
TEST_P(HeaderCopyTest, BackupAndRestoreRoundTrip) {
  const TestVolume volume = Make("round", "old");
  const std::string copy = Volume("round.bak");
  const std::vector<uint8_t> saved = ReadWholeFile(volume.headerFile);
  CliRun run = Copy("backup-header", volume, copy, "old");
  ASSERT_EQ(run.code, kExitSuccess) << run.err;
  EXPECT_EQ(ReadWholeFile(copy), std::vector<uint8_t>(saved.end() - 1044, saved.end()));
#ifndef _WIN32
  EXPECT_EQ(std::filesystem::status(copy).permissions(), std::filesystem::perms(0600));
#endif
  // An existing file is replaced only with --force.
  EXPECT_EQ(Copy("backup-header", volume, copy, "old").code, kExitFailure);
  EXPECT_EQ(Copy("backup-header", volume, copy, "old", {"--force"}).code, kExitSuccess);

  std::vector<std::string> passwd = {"passwd", volume.headerFile, "--password-stdin"};
  ASSERT_EQ(Run(passwd, "old\nnew\nnew\n").code, kExitSuccess);
  run = Copy("restore-header", volume, copy, "old", {"--force"});
  ASSERT_EQ(run.code, kExitSuccess) << run.err;
  EXPECT_NE(run.out.find("password the header had when it was saved"), std::string::npos);
  EXPECT_EQ(ReadWholeFile(volume.headerFile), saved);
  EXPECT_EQ(InfoCode(volume, "old"), kExitSuccess);
  EXPECT_EQ(InfoCode(volume, "new"), kExitFailure);
  // Restoring the header that is in place changes nothing, without --force.
  EXPECT_EQ(Copy("restore-header", volume, copy, "old").code, kExitSuccess);
  EXPECT_EQ(ReadWholeFile(volume.headerFile), saved);
}

// Each refused backup writes no file, and never over the volume.
TEST_P(HeaderCopyTest, BackupRefusals) {
  const TestVolume volume = Make("kept", "pw");
  const auto before = FilesIn(volumes);
  const std::string copy = Volume("kept.bak");
  EXPECT_EQ(Copy("backup-header", volume, copy, "wrong").code, kExitFailure);
  EXPECT_EQ(Copy("backup-header", volume, volume.names[0], "pw", {"--force"}).code, kExitFailure);
  EXPECT_EQ(Copy("backup-header", volume, volume.headerFile, "pw", {"--force"}).code, kExitFailure);
  EXPECT_EQ(FilesIn(volumes), before);
  // A full disk: no backup file is left.
  EXPECT_GE(FailEachCall([&] { return Copy("backup-header", volume, copy, "pw"); }), 4);
}

// Each refusal: exit 1, a message, and every file as it was.
TEST_P(HeaderCopyTest, RestoreRefusals) {
  const TestVolume volume = Make("mine", "pw");
  const TestVolume other = Make("other", "pw");
  const std::string copy = Volume("mine.bak");
  const std::string otherCopy = Volume("other.bak");
  ASSERT_EQ(Copy("backup-header", volume, copy, "pw").code, kExitSuccess);
  ASSERT_EQ(Copy("backup-header", other, otherCopy, "pw").code, kExitSuccess);
  const std::vector<uint8_t> sealed = ReadWholeFile(copy);
  std::vector<uint8_t> longer = sealed;
  longer.push_back(0);
  WriteWholeFile(Volume("short.bak"), std::vector<uint8_t>(sealed.begin(), sealed.end() - 1));
  WriteWholeFile(Volume("long.bak"), longer);
  FaultyFileSystem readOnly;
  readOnly.readOnly = volume.headerFile;

  struct Refusal {
    const char* what;
    std::string copy;
    std::string password;
    std::vector<std::string> extra;
    FileSystem* files;
    const char* message;
  };
  const std::vector<Refusal> refusals = {
      {"truncated", Volume("short.bak"), "pw", {"--force"}, fileSystem, "is no header backup"},
      {"oversized", Volume("long.bak"), "pw", {"--force"}, fileSystem, "is no header backup"},
      {"wrong password", copy, "wrong", {"--force"}, fileSystem, "does not open"},
      {"another volume", otherCopy, "pw", {"--force"}, fileSystem, "of another volume"},
      {"read-only", copy, "pw", {}, &readOnly, "read-only"},
  };
  auto before = FilesIn(volumes);
  for (const Refusal& refusal : refusals) {
    SCOPED_TRACE(refusal.what);
    fileSystem = refusal.files;
    const CliRun run =
        Copy("restore-header", volume, refusal.copy, refusal.password, refusal.extra);
    fileSystem = &SystemFileSystem();
    EXPECT_EQ(run.code, kExitFailure);
    EXPECT_NE(run.err.find(refusal.message), std::string::npos) << run.err;
    EXPECT_EQ(FilesIn(volumes), before);
  }

  // A header in place that no longer opens (a bad sector) is replaced only
  // with --force, whose message tells what another volume's would do.
  std::vector<uint8_t> damaged = ReadWholeFile(volume.headerFile);
  std::fill(damaged.end() - 1044 + 512, damaged.end() - 20, 0);
  WriteWholeFile(volume.headerFile, damaged);
  before = FilesIn(volumes);
  CliRun run = Copy("restore-header", volume, copy, "pw");
  EXPECT_EQ(run.code, kExitFailure);
  EXPECT_NE(run.err.find("--force; a header of another volume would make the volume's data "
                         "unreadable"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(FilesIn(volumes), before);

  // A full disk or a failing read at each step (the backup's writes, the
  // write in place, its read back): the damaged header stays.
  EXPECT_GE(FailEachCall([&] { return Copy("restore-header", volume, copy, "pw", {"--force"}); }),
            8);
  EXPECT_EQ(InfoCode(volume, "pw"), kExitSuccess);
}

// "FILE.header-backup" is the name under which a password change and a
// restore keep the header while they write it. backup-header never writes
// there (nor at the volume file's backup name), however it is spelled; a
// file of the user's there (a saved header copied by hand) stops passwd and
// restore-header, which name it and change nothing.
TEST_P(HeaderCopyTest, TheChangesBackupNameIsNeverAUsersFile) {
  const TestVolume volume = Make("named", "pw");
  const std::string copy = Volume("named.bak");
  ASSERT_EQ(Copy("backup-header", volume, copy, "pw").code, kExitSuccess);
  const std::string backupName = volume.headerFile + ".header-backup";
  std::filesystem::copy_file(copy, backupName);
  const auto before = FilesIn(volumes);
  const std::string notOurs = backupName + " was not made by";
  const struct {
    const char* command;
    std::string file;
    std::string message;
  } kRows[] = {
      {"backup-header", backupName, "keeps its backup"},
      {"backup-header", volume.names[0] + ".header-backup", "keeps its backup"},
      {"backup-header",
       volumes + "/../volumes/" + std::filesystem::path(backupName).filename().string(),
       "keeps its backup"},
      {"restore-header", copy, notOurs},
      {"restore-header", backupName, notOurs},
      {"passwd", volume.headerFile, notOurs},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(std::string(row.command) + " " + row.file);
    const CliRun run = row.command == std::string("passwd")
                           ? Run({"passwd", row.file, "--password-stdin"}, "pw\nnew\nnew\n")
                           : Copy(row.command, volume, row.file, "pw", {"--force"});
    EXPECT_EQ(run.code, kExitFailure);
    EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
    EXPECT_TRUE(FilesIn(volumes) == before) << "a file changed";
  }
}

TEST_F(CliTest, InfoJson) {
  // A name with a quote, a tab, a byte that is no UTF-8 and a letter in
  // UTF-8; on Windows, where names hold none of these (and the test's paths
  // pass through UTF-8), the folder's backslashes.
#ifdef _WIN32
  const std::string name = "x.ehb";
  const std::string json = "x.ehb";
  const char separator[] = "\\\\";
#else
  const std::string name = "q\"b\tx\xff\xc3\xa9.ehb";
  const std::string json = "q\\\"b\\u0009x\\ufffd\xc3\xa9.ehb";
  const char separator[] = "/";
#endif
  const std::string header = Volume(name);
  const std::string volume = Volume("json.vmv");
  ASSERT_EQ(Run({"create", volume, "--filesystem", "none", "--size", "2", "--header", header,
                 "--algorithm", "blowfish-128", "--password-stdin"},
                "pw\npw\n")
                .code,
            kExitSuccess);
  const CliRun run =
      Run({"info", volume, "--header", header, "--json", "--password-stdin"}, "pw\n");
  ASSERT_EQ(run.code, kExitSuccess) << run.err;
  std::string file;
  for (const char c : volumes) {
    if (c == '\\') file += '\\';
    file += c;
  }
  const std::string folder = file;
  file += separator + json;
  EXPECT_EQ(run.out,
            "{\"algorithm\": \"Blowfish-128\", \"headerPlacement\": \"external header "
            "block\", \"headerFile\": \"" +
                file +
                "\", \"bodySize\": 2097152, \"headerBackup\": \"none\", "
                "\"headerBackupFile\": \"" +
                file + ".header-backup\", \"resize\": \"none\", \"resizeJournal\": \"" + folder +
                separator + "json.vmv.resize\", \"resizeFromMb\": 0, \"resizeToMb\": 0}\n");
}

TEST(BenchmarkTest, EveryAlgorithmMeasured) {
  const std::vector<AlgorithmBenchmark> results = MeasureAlgorithms(0.001);
  ASSERT_EQ(results.size(), 4u);
  for (int id = kAes128; id <= kBlowfish448; ++id) {
    const AlgorithmBenchmark& result = results[id - 1];
    EXPECT_EQ(result.algorithm, id);
    EXPECT_GT(result.openMilliseconds, 0);
    EXPECT_GT(result.encryptMbPerSecond, 0);
    EXPECT_GT(result.decryptMbPerSecond, 0);
  }
}

#ifndef _WIN32
// A symbolic link at the new volume's path, dangling or not, is not
// replaced without --force, and with it the link itself is replaced by a
// private file; its target is never created or written.
TEST_F(CliTest, LinksAtTheVolumePathAreNeverFollowed) {
  const std::string volume = Volume("linked.vmv");
  const std::string victim = Volume("victim");
  for (const bool dangling : {true, false}) {
    SCOPED_TRACE(dangling ? "dangling" : "to a file");
    std::filesystem::remove(victim);
    std::filesystem::remove(volume);
    if (!dangling) WriteWholeFile(victim, {9, 9});
    std::filesystem::create_symlink(victim, volume);
    CliRun run = Run({"create", volume, "--filesystem", "none", "--size", "1", "--password-stdin"},
                     "pw\npw\n");
    EXPECT_EQ(run.code, kExitFailure);
    EXPECT_TRUE(std::filesystem::is_symlink(volume));
    run = Run(
        {"create", volume, "--filesystem", "none", "--size", "1", "--force", "--password-stdin"},
        "pw\npw\n");
    EXPECT_EQ(run.code, kExitSuccess) << run.err;
    struct stat info;
    ASSERT_EQ(lstat(volume.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(std::filesystem::exists(victim), !dangling);
    if (!dangling) {
      EXPECT_EQ(ReadWholeFile(victim), (std::vector<uint8_t>{9, 9}));
    }
  }
}

// A terminal in this process: the tool's side as a stream, the other side
// typed into.
struct Terminal {
  int typing = -1;
  int tool = -1;
  Terminal() { EXPECT_EQ(openpty(&typing, &tool, nullptr, nullptr, nullptr), 0); }
  ~Terminal() {
    close(typing);
    close(tool);
  }
  bool Echoes() const {
    struct termios mode;
    return tcgetattr(tool, &mode) == 0 && (mode.c_lflag & ECHO) != 0;
  }
  // Waits, a bounded number of times, until the echo is as wanted.
  bool WaitForEcho(bool wanted) const {
    for (int i = 0; i < 2000 && Echoes() != wanted; ++i) usleep(1000);
    return Echoes() == wanted;
  }
};

// Ctrl+Z, Ctrl+\ and Ctrl+C during hidden entry: the echo comes back before
// the program stops or ends; a program continued after Ctrl+Z hides the
// entry again and still reads the whole line.
TEST(TerminalTest, SignalsDuringHiddenEntryRestoreTheEcho) {
  for (const int signal : {SIGTSTP, SIGQUIT, SIGINT}) {
    SCOPED_TRACE(strsignal(signal));
    Terminal terminal;
    int result[2];
    ASSERT_EQ(pipe(result), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      setpgid(0, 0);  // a job of its own that Ctrl+Z can stop
      FILE* in = fdopen(terminal.tool, "r");
      FILE* prompter = fopen("/dev/null", "w");
      std::string line;
      ReadHiddenLine(in, prompter, "Password: ", &line);
      _exit(write(result[1], line.data(), line.size()) == static_cast<ssize_t>(line.size()) ? 0
                                                                                            : 1);
    }
    close(result[1]);
    ASSERT_TRUE(terminal.WaitForEcho(false));
    ASSERT_EQ(kill(child, signal), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, WUNTRACED), child);
    EXPECT_TRUE(terminal.Echoes());
    if (signal == SIGTSTP) {
      ASSERT_TRUE(WIFSTOPPED(status));
      ASSERT_EQ(kill(child, SIGCONT), 0);
      EXPECT_TRUE(terminal.WaitForEcho(false));
      ASSERT_EQ(write(terminal.typing, "hidden\n", 7), 7);
      ASSERT_EQ(waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      char line[16] = {};
      EXPECT_EQ(read(result[0], line, sizeof line), 6);
      EXPECT_STREQ(line, "hidden");
      EXPECT_TRUE(terminal.Echoes());
    } else {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal);
    }
    close(result[0]);
  }
}

// The process that holds passwords writes no core dump.
TEST(TerminalTest, CoreDumpsAreDisabled) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    DisableCoreDumps();
    struct rlimit limit;
    _exit(getrlimit(RLIMIT_CORE, &limit) == 0 && limit.rlim_cur == 0 && limit.rlim_max == 0 &&
                  prctl(PR_GET_DUMPABLE) == 0
              ? 0
              : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// --password-stdin on a terminal warns that the password will show.
TEST_F(CliTest, PasswordStdinOnATerminalWarns) {
  Terminal terminal;
  ASSERT_EQ(write(terminal.typing, "pw\n", 3), 3);
  FILE* in = fdopen(dup(terminal.tool), "r");
  FILE* err = tmpfile();
  ASSERT_TRUE(in && err);
  RunCli({"info", Volume("none.vmv"), "--password-stdin"}, {in, err, err}, SystemFileSystem(),
         nullptr);
  rewind(err);
  char text[512] = {};
  fread(text, 1, sizeof text - 1, err);
  fclose(in);
  fclose(err);
  EXPECT_NE(std::string(text).find("the password is shown as it is typed"), std::string::npos)
      << text;
}
#endif

}  // namespace
