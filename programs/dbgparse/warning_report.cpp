#include "warning_report.h"

#include <cstdio>

#include "text.h"

namespace dbgparse {

warning_sink warning_report::sink() {
  return [this](const warning& found) {
    if (++count_ <= most_shown) {
      lines_.push_back(text::warning_line("dbgparse", path_, found.line, found.message));
    }
    return true;
  };
}

void warning_report::print() const {
  // The dialogue so far comes first where both streams show in one window.
  std::fflush(stdout);
  for (const std::string& line : lines_) {
    std::fputs(line.c_str(), stderr);
  }
  if (count_ > most_shown) {
    std::fprintf(stderr, "dbgparse: %s: %zu more warnings\n", text::shown_path(path_).c_str(),
                 count_ - most_shown);
  }
  std::fflush(stderr);
}

}  // namespace dbgparse
