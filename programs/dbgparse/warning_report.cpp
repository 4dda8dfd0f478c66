#include "warning_report.h"

#include <cstdio>

#include "platform.h"
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
    platform::write_text(platform::standard_stream::error, line);
  }
  if (count_ > most_shown) {
    platform::write_text(platform::standard_stream::error,
                         text::more_warnings_line("dbgparse", path_, count_ - most_shown));
  }
  std::fflush(stderr);
}

}  // namespace dbgparse
