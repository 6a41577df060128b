#include "cli/command_line.h"

#include <ctype.h>

#include <algorithm>

#include "volume/header.h"

void WipeString(std::string* text) {
  SecureWipe(text->data(), text->capacity());
  text->clear();
}

namespace {

// Parses args[1...] with the options that take a value and the command's
// own options without one; returns an error text, empty when the command
// line is good.
std::string Parse(const std::vector<std::string>& args,
                  const std::vector<std::string>& valueOptions,
                  const std::vector<std::string>& flagOptions, Arguments* parsed) {
  bool optionsEnded = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      parsed->positional.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      parsed->help = true;
    } else if (arg == "--password-stdin") {
      parsed->passwordStdin = true;
    } else if (std::find(flagOptions.begin(), flagOptions.end(), arg) != flagOptions.end()) {
      parsed->flags.insert(arg);
    } else {
      const size_t equals = arg.find('=');
      const std::string name = arg.substr(0, equals);
      bool known = false;
      for (const std::string& option : valueOptions) known = known || option == name;
      if (!known) return "unknown option '" + name + "'";
      if (equals != std::string::npos) {
        parsed->values[name] = arg.substr(equals + 1);
      } else if (i + 1 < args.size()) {
        parsed->values[name] = args[++i];
      } else {
        return "option '" + name + "' needs a value";
      }
    }
  }
  return "";
}

}  // namespace

int UsageError(const CliStreams& io, const std::string& command, const std::string& error) {
  fprintf(io.err, "%s: %s\nTry '%s %s--help'.\n", kProgram, error.c_str(), kProgram,
          command.empty() ? "" : (command + " ").c_str());
  return kExitUsage;
}

bool ParseCommand(const std::vector<std::string>& args, const CliStreams& io,
                  const std::string& command, const char* usage,
                  const std::vector<std::string>& valueOptions,
                  const std::vector<std::string>& flagOptions, Arguments* parsed, int* code) {
  const std::string error = Parse(args, valueOptions, flagOptions, parsed);
  if (!error.empty()) {
    *code = UsageError(io, command, error);
    return false;
  }
  if (parsed->help) {
    fputs(usage, io.out);
    *code = kExitSuccess;
    return false;
  }
  return true;
}

int Finish(const CliStreams& io, const Outcome& outcome) {
  if (!outcome.success) {
    fprintf(io.err, "%s\n", outcome.message.c_str());
    return kExitFailure;
  }
  if (!outcome.message.empty()) fprintf(io.out, "%s\n", outcome.message.c_str());
  return kExitSuccess;
}

// Whether anything lies at `path` (a file, a link, a pipe: nothing is
// opened, so a pipe planted there cannot block), told on `err`; the command
// then stops unless --force was given.
bool Exists(const CliStreams& io, FileSystem& fileSystem, const std::string& path) {
  if (path.empty() || !fileSystem.Exists(path)) return false;
  fprintf(io.err, "%s: %s exists; use --force to replace it\n", kProgram, path.c_str());
  return true;
}

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '"' || byte == '\\') {
      json += '\\';
      json += static_cast<char>(byte);
    } else if (byte < 0x20) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      json += escaped;
    } else if (byte >= 0x80) {
      const size_t length = Utf8SequenceLength(text, i);
      json += length == 0 ? "\\ufffd" : text.substr(i, length);
      i += length == 0 ? 1 : length;
      continue;
    } else {
      json += static_cast<char>(byte);
    }
    ++i;
  }
  return json + '"';
}

const char* BackupStateName(BackupState backup) {
  switch (backup) {
    case BackupState::kNone:
      return "none";
    case BackupState::kStale:
      return "stale";
    case BackupState::kTorn:
      return "torn";
    case BackupState::kForeign:
      return "foreign";
  }
  return "none";
}

int ParseAlgorithm(const std::string& name) {
  for (int id = kAes128; id <= kBlowfish448; ++id) {
    std::string known = AlgorithmName(id);
    for (char& c : known) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    if (name == known) return id;
  }
  return kAlgorithmNone;
}
