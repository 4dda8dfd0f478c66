#include "messages.h"

#include <cstdio>

#include "platform.h"

namespace dbgparse::qbdump {

void say_error(const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "qbdump: %s\n", message.c_str());
}

int usage_error(const std::string& message) {
  say_error(message);
  say_error("Try 'qbdump --help' for more information.");
  return exit_trouble;
}

std::string because() {
  const std::string reason = platform::failure_reason();
  return reason.empty() ? reason : ": " + reason;
}

bool write_out(std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

std::string shown_name(const std::string& path) { return path == "-" ? "standard input" : path; }

}  // namespace dbgparse::qbdump
