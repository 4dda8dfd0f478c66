// The value field read by the rule alone, one byte at a time, as "%08x"
// reads it. Fields of 8 plain digits take the faster way in eight_digits.h.
#include "value_field.h"

namespace dbgparse {
namespace {

// White space as the C library's formatted input skips it.
bool is_scanf_space(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int hex_digit_value(unsigned char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  const unsigned lower = c | 0x20U;
  if (lower >= 'a' && lower <= 'f') {
    return static_cast<int>(lower - 'a') + 10;
  }
  return -1;
}

}  // namespace

std::uint32_t scan_value_field(const unsigned char* p, const unsigned char* end) {
  while (p != end && is_scanf_space(*p)) {
    ++p;
  }
  std::size_t width = dbg::value_field_width;
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
    --width;
  }
  // A leading 0 is a digit of its own; an x or X right after it is skipped.
  if (width > 0 && p != end && *p == '0') {
    ++p;
    --width;
    if (width > 0 && p != end && (*p | 0x20U) == 'x') {
      ++p;
      --width;
    }
  }
  std::uint32_t value = 0;
  for (; width > 0 && p != end; ++p, --width) {
    const int digit = hex_digit_value(*p);
    if (digit < 0) {
      break;
    }
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  // A minus negates modulo 2^32, as the unsigned conversion does.
  return negative ? 0U - value : value;
}

}  // namespace dbgparse
