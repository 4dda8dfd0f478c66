// The value field of a checksum line: the 8 positions after "0x", read the
// way C's "%08x" reads them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "dbg_line.h"

namespace dbgparse {

struct value_field {
  std::uint32_t value = 0;
  std::size_t digits = 0;  // hexadecimal digits taken, a leading 0 of "0x" included
  std::size_t end = 0;     // index just past the last byte the conversion took
};

// Each byte's value as a hexadecimal digit, not_a_digit for the rest. A
// table, not comparisons: digits and letters come in no order a branch could
// learn.
inline constexpr unsigned not_a_digit = 0x10;
inline constexpr std::array<std::uint8_t, 256> hex_digit_values = [] {
  std::array<std::uint8_t, 256> values{};
  values.fill(not_a_digit);
  for (std::uint8_t k = 0; k < 10; ++k) {
    values['0' + k] = k;
  }
  for (std::uint8_t k = 0; k < 6; ++k) {
    values['a' + k] = values['A' + k] = 10 + k;
  }
  return values;
}();

inline bool is_hex_digit(unsigned char c) { return hex_digit_values[c] != not_a_digit; }

// Reads a field that is not 8 hexadecimal digits (see read_value_field).
value_field read_unusual_value_field(std::span<const unsigned char> input, std::size_t from);

// Reads the field at `from` as "%08x" does: white space (blank, tab, LF, VT,
// FF, CR) skipped and not counted, then at most 8 positions of an optional
// sign, an optional 0x or 0X prefix and hexadecimal digits of either case. A
// minus negates modulo 2^32; a field with no digits gives 0. Reads nothing
// at or past the input's end.
inline value_field read_value_field(std::span<const unsigned char> input, std::size_t from) {
  // Nearly every field is 8 digits, which "%08x" reads as they stand: they
  // are looked up side by side and checked once.
  if (from <= input.size() && input.size() - from >= dbg::value_field_width) {
    std::uint32_t value = 0;
    unsigned seen = 0;
    for (std::size_t k = 0; k < dbg::value_field_width; ++k) {
      const unsigned digit = hex_digit_values[input[from + k]];
      value |= digit << (4 * (dbg::value_field_width - 1 - k));
      seen |= digit;
    }
    if ((seen & not_a_digit) == 0) {
      return {value, dbg::value_field_width, from + dbg::value_field_width};
    }
  }
  return read_unusual_value_field(input, from);
}

}  // namespace dbgparse
