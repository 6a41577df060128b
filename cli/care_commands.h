// The tool's commands that care for a volume without a mount:
//
//   velmorcrypt-cli resize VOLUME --size MB [--header FILE.ehb] [--grow-filesystem] [--force]
//   velmorcrypt-cli check VOLUME [--header FILE.ehb] [--json]
//   velmorcrypt-cli export VOLUME IMAGE [--header FILE.ehb] [--force]
//   velmorcrypt-cli import IMAGE VOLUME --algorithm NAME [--header FILE.ehb] [--force]
//
// Each takes `args` with the command's name first and answers an exit code.
#pragma once
#include <atomic>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "volume/resize_volume.h"

int ResizeCommand(const std::vector<std::string>& args, const CliStreams& io,
                  FileSystem& fileSystem, const std::atomic<bool>* cancel);
int CheckCommand(const std::vector<std::string>& args, const CliStreams& io,
                 FileSystem& fileSystem);
int ExportCommand(const std::vector<std::string>& args, const CliStreams& io,
                  FileSystem& fileSystem, const std::atomic<bool>* cancel);
int ImportCommand(const std::vector<std::string>& args, const CliStreams& io,
                  FileSystem& fileSystem, const std::atomic<bool>* cancel);

// What `info` and `check` tell of a resize journal beside the volume: a
// line of text ("" for none), and the members of their JSON objects.
std::string ResizeText(const std::string& volumePath, const PendingResize& resize);
std::string ResizeJson(const std::string& volumePath, const PendingResize& resize);
