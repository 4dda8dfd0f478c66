// The conversion from a DBG checksum list to a QB checksum table.
//
// A DBG file is text: anything, then the header line "[Checksums]\r\n", then
// lines of the form "0x" + 8 hexadecimal positions + one separator byte + a
// text + a line end (dbg_line.h). The QB table is a run of entries (marker 01 2B for the
// first, 00 2B for the rest, the value as 4 little-endian bytes, the text's
// bytes) closed by the end marker 00 00 (qb_layout.h). Texts longer than
// qb::max_text_length are cut to it.
//
// None of these functions touches a file, the console or any global state,
// and none reads or writes outside the buffers it is given.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "byte_sink.h"

namespace dbgparse {

// Converts `input` in one forward pass and hands the table to `sink` in
// blocks of at most `block_size` bytes (at least 1 KiB is used). Once the
// table outgrows one block, the sink is called on a thread that write_table
// starts and ends, so that writing a block overlaps with making the next:
// one call at a time, and all of them over when write_table returns. Never
// fails on malformed input; returns false only when `sink` refused a piece,
// after which it is not called again. Time is linear in the input's and the
// table's size; memory is a few blocks.
bool write_table(std::span<const unsigned char> input, const byte_sink& sink,
                 std::size_t block_size = std::size_t{1} << 20);

// Converts the first `length` bytes of `buffer` (all of it when `length` is
// larger) and leaves the table at the buffer's start, growing the buffer when
// the table is longer than it. Returns the table's length, at least 2.
std::size_t parse_qb(std::vector<unsigned char>& buffer, std::size_t length);

}  // namespace dbgparse
