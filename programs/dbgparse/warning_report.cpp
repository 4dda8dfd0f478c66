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
    std::fputs(text::more_warnings_line("dbgparse", path_, count_ - most_shown).c_str(), stderr);
  }
  std::fflush(stderr);
}

}  // namespace dbgparse
