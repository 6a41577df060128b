// What an engine returns to the page or tool that drove it: success, or the
// message and caption of the first failing check. The page shows it as a
// message box; the engine itself never touches a window.
#pragma once
#include <string>
#include <utility>

struct Outcome {
  bool success = false;
  std::string message;
  std::string caption;

  static Outcome Success(std::string message, std::string caption) {
    return {true, std::move(message), std::move(caption)};
  }
  static Outcome Failure(std::string message, std::string caption) {
    return {false, std::move(message), std::move(caption)};
  }
};
