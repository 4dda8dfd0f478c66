// The searches that the conversion, its warnings and the listing share.
#include "dbg_line.h"

#include <algorithm>
#include <cstring>

namespace dbgparse::dbg {

std::size_t section_start(std::span<const unsigned char> input) {
  const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
  const std::size_t at = text.find(section_header);
  return at == std::string_view::npos ? input.size() : at + section_header.size();
}

std::size_t line_end(std::span<const unsigned char> input, std::size_t from) {
  from = std::min(from, input.size());
  return static_cast<std::size_t>(
      std::find_if(input.begin() + static_cast<std::ptrdiff_t>(from), input.end(), is_line_end) -
      input.begin());
}

std::size_t next_line_start(std::span<const unsigned char> input, std::size_t from) {
  const std::size_t size = input.size();
  // memchr finds the '0's; only those followed by an 'x' start a line.
  while (from + 1 < size) {
    const void* zero = std::memchr(input.data() + from, line_start[0], size - 1 - from);
    if (zero == nullptr) {
      break;
    }
    from = static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - input.data());
    if (input[from + 1] == static_cast<unsigned char>(line_start[1])) {
      return from;
    }
    ++from;
  }
  return size;
}

}  // namespace dbgparse::dbg
