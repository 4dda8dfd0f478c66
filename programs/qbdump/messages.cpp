#include "messages.h"

#include <cstdio>

#include "platform.h"
#include "text.h"

namespace dbgparse::qbdump {

void say_error(const std::string& message) { say_error_line("qbdump: " + message + "\n"); }

void say_error_line(const std::string& line) {
  std::fflush(stdout);
  platform::write_text(platform::standard_stream::error, line);
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
  return platform::write_text(platform::standard_stream::output, text);
}

std::string table_name(const std::string& path) { return path == "-" ? "standard input" : path; }

std::string shown_name(const std::string& path) { return text::shown_path(table_name(path)); }

}  // namespace dbgparse::qbdump
