#include "warning_report.h"

#include <cstdio>
#include <exception>
#include <system_error>
#include <utility>

#include "diagnosis.h"

namespace dbgparse {

warning_report::warning_report(std::string path, std::span<const unsigned char> input)
    : path_(std::move(path)), input_(input) {
  // A small input is looked at sooner than a thread starts.
  if (input.size() < small_input) {
    look();
    return;
  }
  try {
    thread_ = std::thread([this] { look(); });
  } catch (const std::system_error&) {
    look();
  }
}

warning_report::~warning_report() {
  if (thread_.joinable()) {
    thread_.join();
  }
}

void warning_report::look() {
  try {
    diagnose(
        input_,
        [this](const warning& found) {
          if (++count_ <= most_shown) {
            const std::string where =
                found.line == 0 ? path_ : path_ + ":" + std::to_string(found.line);
            lines_.push_back("dbgparse: " + where + ": warning: " + found.message + "\n");
          }
          return true;
        },
        most_shown);
  } catch (const std::exception&) {
    // No memory for a message: the warnings are an aid, the run goes on
    // with those found so far.
  }
}

void warning_report::print() {
  if (thread_.joinable()) {
    thread_.join();
  }
  // The dialogue so far comes first where both streams show in one window.
  std::fflush(stdout);
  for (const std::string& line : lines_) {
    std::fputs(line.c_str(), stderr);
  }
  if (count_ > most_shown) {
    std::fprintf(stderr, "dbgparse: %s: %zu more warnings\n", path_.c_str(), count_ - most_shown);
  }
  std::fflush(stderr);
}

}  // namespace dbgparse
