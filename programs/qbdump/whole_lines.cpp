#include "whole_lines.h"

namespace dbgparse::qbdump {

bool whole_lines::write(std::span<const unsigned char> piece) {
  const std::string_view text(reinterpret_cast<const char*>(piece.data()), piece.size());
  const std::size_t last_line_end = text.rfind('\n');
  if (last_line_end == std::string_view::npos) {
    held_.append(text);
    return true;
  }
  const std::string_view ended = text.substr(0, last_line_end + 1);
  bool written = false;
  if (held_.empty()) {
    written = to_(ended);
  } else {
    held_.append(ended);
    written = to_(held_);
  }
  held_.assign(text.substr(last_line_end + 1));
  return written;
}

bool whole_lines::finish() {
  if (held_.empty()) {
    return true;
  }
  const bool written = to_(held_);
  held_.clear();
  return written;
}

}  // namespace dbgparse::qbdump
