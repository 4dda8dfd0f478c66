#include "warning_report.h"

#include <cstdio>

#include "diagnosis.h"

namespace dbgparse {

void report_warnings(const std::string& path, std::span<const unsigned char> input) {
  // The dialogue so far comes first where both streams show in one window.
  std::fflush(stdout);
  std::size_t count = 0;
  diagnose(input, [&](const warning& found) {
    if (++count <= most_shown) {
      const std::string where = found.line == 0 ? path : path + ":" + std::to_string(found.line);
      std::fprintf(stderr, "dbgparse: %s: warning: %s\n", where.c_str(), found.message.c_str());
    }
    return true;
  });
  if (count > most_shown) {
    std::fprintf(stderr, "dbgparse: %s: %zu more warnings\n", path.c_str(), count - most_shown);
  }
  std::fflush(stderr);
}

}  // namespace dbgparse
