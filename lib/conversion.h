// The conversion from a DBG checksum list to a QB checksum table.
//
// A DBG file is text: anything, then the header line "[Checksums]\r\n", then
// lines of the form "0x" + 8 hexadecimal positions + one separator byte + a
// text + a line end. The QB table is a run of entries (marker 01 2B for the
// first, 00 2B for the rest, the value as 4 little-endian bytes, the text's
// bytes) closed by the end marker 00 00.
//
// None of these functions touches a file, the console or any global state,
// and none reads or writes outside the buffers it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "qb_layout.h"

namespace dbgparse {

// Longest text written to the table; longer texts are cut to this length.
inline constexpr std::size_t max_text_length = qb::max_text_length;

// The line after whose first occurrence the checksum section starts. No
// table can hold it: a table's texts hold no CR or LF, and the marker before
// each value breaks any line that would run through the value's bytes.
inline constexpr std::string_view section_header{"[Checksums]\r\n"};

// Offset from `start` of the first CR or LF among the first `n` bytes.
// Returns 0 when none of them is a line end, and when n <= 0, so a line end
// right at `start` and no line end at all give the same answer. Reads at most
// `n` bytes.
std::size_t find_end(const unsigned char* start, std::int64_t n);

// Receives the table piece by piece, in order, never an empty one. Returns
// false to stop the conversion early (for instance when writing the piece
// failed).
using table_sink = std::function<bool(std::span<const unsigned char>)>;

// Converts `input` in one forward pass and hands the table to `sink` in
// blocks of at most `block_size` bytes (at least 1 KiB is used). Once the
// table outgrows one block, the sink is called on a thread that write_table
// starts and ends, so that writing a block overlaps with making the next:
// one call at a time, and all of them over when write_table returns. Never
// fails on malformed input; returns false only when `sink` refused a piece,
// after which it is not called again. Time is linear in the input's and the
// table's size; memory is a few blocks.
bool write_table(std::span<const unsigned char> input, const table_sink& sink,
                 std::size_t block_size = std::size_t{1} << 20);

// Converts the first `length` bytes of `buffer` (all of it when `length` is
// larger) and leaves the table at the buffer's start, growing the buffer when
// the table is longer than it. Returns the table's length, at least 2.
std::size_t parse_qb(std::vector<unsigned char>& buffer, std::size_t length);

}  // namespace dbgparse
