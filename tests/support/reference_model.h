// A second, deliberately plain implementation of the DBG to QB conversion,
// written to be obviously right rather than fast: one byte at a time, step by
// step, with the same cursor, flags and staging buffer as the scan it checks.
// Tests and the fuzzer compare dbgparse::parse_qb against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace reference_model {

struct conversion {
  std::vector<unsigned char> table;       // the whole table, end marker included
  std::vector<std::size_t> text_lengths;  // bytes of text written, per entry in order
  std::vector<std::size_t> line_starts;   // where each entry's "0x" is in the input
};

// Converts a DBG file's bytes into a QB checksum table.
conversion convert(std::span<const unsigned char> input);

// Offset from `start` of the first CR or LF among the `n` bytes from `start`;
// 0 when there is none among them. Reads only bytes inside `input`.
std::size_t line_end_offset(std::span<const unsigned char> input, std::size_t start, std::size_t n);

// The checksum that a checksum line's value field starting at `from` gives,
// read as the C library's "%08x" conversion reads it, without looking past
// the input's end. 0 when nothing converts.
std::uint32_t read_value_field(std::span<const unsigned char> input, std::size_t from);

// Checks a table against the layout's own rules, given the length of each
// entry's text: its total length, the markers where the lengths put them, the
// end marker, texts of at most 255 bytes without CR or LF, and an empty text
// only in the last entry. Returns what is wrong, or an empty string.
std::string layout_fault(std::span<const unsigned char> table,
                         std::span<const std::size_t> text_lengths);

}  // namespace reference_model
