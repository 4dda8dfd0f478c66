#include "value_field.h"

#include <array>

#include "dbg_line.h"

namespace dbgparse {
namespace {

// White space as the C library's formatted input skips it.
bool is_scanf_space(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Each byte's value as a hexadecimal digit, -1 for the rest. A table, not
// comparisons: digits and letters come in no order a branch could learn.
constexpr std::array<int, 256> hex_digit_values = [] {
  std::array<int, 256> values{};
  values.fill(-1);
  for (std::size_t k = 0; k < 10; ++k) {
    values['0' + k] = static_cast<int>(k);
  }
  for (std::size_t k = 0; k < 6; ++k) {
    values['a' + k] = static_cast<int>(k) + 10;
    values['A' + k] = static_cast<int>(k) + 10;
  }
  return values;
}();

}  // namespace

value_field read_value_field(std::span<const unsigned char> input, std::size_t from) {
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
    const int digit = hex_digit_values[input[at]];
    if (digit < 0) {
      break;
    }
    field.value = field.value * 16 + static_cast<std::uint32_t>(digit);
    ++field.digits;
  }
  // A minus negates modulo 2^32, as the unsigned conversion does.
  if (negative) {
    field.value = 0U - field.value;
  }
  field.end = at;
  return field;
}

}  // namespace dbgparse
