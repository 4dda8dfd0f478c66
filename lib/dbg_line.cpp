// The searches that the conversion, its warnings and the listing share, all
// made of one marking of 64-byte blocks.
#include "dbg_line.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace dbgparse::dbg {

std::size_t section_start(std::span<const unsigned char> input) {
  const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
  const std::size_t at = text.find(section_header);
  return at == std::string_view::npos ? input.size() : at + section_header.size();
}

block_marks mark_last_block(std::span<const unsigned char> input, std::size_t at) {
  // The input's last bytes, marked in a copy padded with a byte that is no
  // stop, no "0" and no "x".
  std::array<unsigned char, block_size + 1> last{};
  last.fill(0xFF);
  std::copy(input.begin() + static_cast<std::ptrdiff_t>(at), input.end(), last.begin());
  return mark(last.data());
}

std::size_t line_end(std::span<const unsigned char> input, std::size_t from) {
  for (std::size_t at = from; at < input.size(); at += block_size) {
    for (std::uint64_t stops = mark_block(input, at).stops; stops != 0; stops &= stops - 1) {
      const std::size_t k = at + static_cast<std::size_t>(std::countr_zero(stops));
      if (is_line_end(input[k])) {
        return k;
      }
    }
  }
  return input.size();
}

std::size_t next_line_start(std::span<const unsigned char> input, std::size_t from) {
  for (std::size_t at = from; at < input.size(); at += block_size) {
    if (const std::uint64_t starts = mark_block(input, at).starts; starts != 0) {
      return at + static_cast<std::size_t>(std::countr_zero(starts));
    }
  }
  return input.size();
}

}  // namespace dbgparse::dbg
