// The value field of a checksum line: the 8 positions after "0x", read the
// way C's "%08x" reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace dbgparse {

struct value_field {
  std::uint32_t value = 0;
  std::size_t digits = 0;  // hexadecimal digits taken, a leading 0 of "0x" included
  std::size_t end = 0;     // index just past the last byte the conversion took
};

// Reads the field at `from` as "%08x" does: white space (blank, tab, LF, VT,
// FF, CR) skipped and not counted, then at most 8 positions of an optional
// sign, an optional 0x or 0X prefix and hexadecimal digits of either case. A
// minus negates modulo 2^32; a field with no digits gives 0. Reads nothing
// at or past the input's end.
value_field read_value_field(std::span<const unsigned char> input, std::size_t from);

}  // namespace dbgparse
