// The conversion's warnings about an input, told on standard error.
#pragma once

#include <span>
#include <string>

namespace dbgparse {

// Prints one line per warning about `input`, which was read from `path`, in
// the form compilers use, so that editors and CI logs can jump to the line:
//   dbgparse: PATH:LINE: warning: MESSAGE
//   dbgparse: PATH: warning: MESSAGE        (about the input as a whole)
// At most `most_shown` of them, then "dbgparse: PATH: N more warnings".
void report_warnings(const std::string& path, std::span<const unsigned char> input);

inline constexpr std::size_t most_shown = 20;

}  // namespace dbgparse
