// The conversion's warnings about an input, gathered while it is converted
// and told on standard error.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "diagnosis.h"

namespace dbgparse {

class warning_report {
 public:
  // At most this many warnings are told in full; the rest are counted.
  static constexpr std::size_t most_shown = 20;

  // The warnings about the input read from `path`.
  explicit warning_report(std::string path) : path_(std::move(path)) {}

  // The warning sink for the conversion (or for diagnose() alone, where no
  // table is written): keeps the first most_shown, counts the rest, and
  // never stops the walk.
  [[nodiscard]] warning_sink sink();

  // Prints one line per warning kept, in the form compilers use, so that
  // editors and CI logs can jump to the line:
  //   dbgparse: PATH:LINE: warning: MESSAGE
  //   dbgparse: PATH: warning: MESSAGE        (about the input as a whole)
  // then "dbgparse: PATH: N more warnings" for the rest.
  void print() const;

 private:
  std::string path_;
  std::vector<std::string> lines_;
  std::size_t count_ = 0;
};

}  // namespace dbgparse
