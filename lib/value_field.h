// The value field of a checksum line: the 8 bytes after "0x", read the way
// C's "%08x" reads them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dbg_line.h"
#include "eight_digits.h"

namespace dbgparse {

// The rule itself, one byte at a time: white space skipped and not counted,
// then at most 8 positions of an optional sign, an optional 0x/0X prefix and
// hexadecimal digits of either case. A minus negates modulo 2^32; a field
// with no digits gives 0. Never reads at or past `end`.
std::uint32_t scan_value_field(const unsigned char* p, const unsigned char* end);

// The value of the field from `p`. Nearly every field is 8 plain digits,
// which read_eight_digits converts at once; the rule reads the rest.
inline std::uint32_t read_value_field(const unsigned char* p, const unsigned char* end) {
  std::uint32_t value = 0;
  if (end - p < static_cast<std::ptrdiff_t>(dbg::value_field_width) ||
      !read_eight_digits(p, value)) {
    value = scan_value_field(p, end);
  }
  return value;
}

}  // namespace dbgparse
