// Text that arrives in pieces of any size (the listing comes in pieces of up
// to 1 MiB), handed on in whole lines: a console shows a character split
// between two writes as two wrong ones.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace dbgparse::qbdump {

class whole_lines {
 public:
  using sink = std::function<bool(std::string_view)>;

  explicit whole_lines(sink to) : to_(std::move(to)) {}

  // Hands on every line that `piece` ends, with what came before it, and
  // keeps the rest for the next piece. False when the sink was.
  bool write(std::span<const unsigned char> piece);
  // Hands on what is kept: a last line without a line end.
  bool finish();

 private:
  sink to_;
  std::string held_;  // the start of a line that a later piece ends
};

}  // namespace dbgparse::qbdump
