#include "value_field.h"

#include <array>

#include "dbg_line.h"

namespace dbgparse {
namespace {

// White space as the C library's formatted input skips it.
bool is_scanf_space(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

value_field read_unusual_value_field(std::span<const unsigned char> input, std::size_t from) {
  const std::size_t size = input.size();
  std::size_t at = from;
  while (at < size && is_scanf_space(input[at])) {
    ++at;
  }
  std::size_t width = dbg::value_field_width;
  bool negative = false;
  if (at < size && (input[at] == '+' || input[at] == '-')) {
    negative = input[at] == '-';
    ++at;
    --width;
  }
  value_field field;
  // A leading 0 is a digit of its own; an x or X right after it is skipped.
  if (width > 0 && at < size && input[at] == '0') {
    ++at;
    --width;
    ++field.digits;
    if (width > 0 && at < size && (input[at] | 0x20U) == 'x') {
      ++at;
      --width;
    }
  }
  for (; width > 0 && at < size; ++at, --width) {
    const unsigned digit = hex_digit_values[input[at]];
    if (digit == not_a_digit) {
      break;
    }
    field.checksum = field.checksum * 16 + digit;
    ++field.digits;
  }
  // A minus negates modulo 2^32, as the unsigned conversion does.
  if (negative) {
    field.checksum = 0U - field.checksum;
  }
  field.end = at;
  return field;
}

}  // namespace dbgparse
