// The conversion's warnings about an input, looked for beside the run and
// told on standard error.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace dbgparse {

class warning_report {
 public:
  // Starts looking for the warnings about `input`, read from `path`, on a
  // thread of its own, so that a clean file costs the run no time where the
  // machine has a second core (on the calling thread where no thread can be
  // had, or the input is under small_input bytes). `input` must stay as it
  // is until print() returns.
  warning_report(std::string path, std::span<const unsigned char> input);
  warning_report(const warning_report&) = delete;
  warning_report& operator=(const warning_report&) = delete;
  ~warning_report();

  // Waits for the search, then prints one line per warning, in the form
  // compilers use, so that editors and CI logs can jump to the line:
  //   dbgparse: PATH:LINE: warning: MESSAGE
  //   dbgparse: PATH: warning: MESSAGE        (about the input as a whole)
  // at most `most_shown` of them, then "dbgparse: PATH: N more warnings".
  void print();

  static constexpr std::size_t most_shown = 20;
  static constexpr std::size_t small_input = std::size_t{64} << 10;

 private:
  void look();

  std::string path_;
  std::span<const unsigned char> input_;
  std::vector<std::string> lines_;
  std::size_t count_ = 0;
  std::thread thread_;
};

}  // namespace dbgparse
