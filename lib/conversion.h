// The conversion from a DBG checksum list to a QB checksum table.
//
// A DBG file is text: anything, then the header line "[Checksums]\r\n", then
// lines of the form "0x" + 8 hexadecimal positions + one separator byte + a
// text + a line end (dbg_line.h). The QB table is a run of entries (marker
// 01 2B for the first, 00 2B for the rest, the checksum as 4 little-endian
// bytes, the text's bytes) closed by the end marker 00 00 (qb_layout.h).
// Texts longer than qb::max_text_length are cut to it.
//
// None of these functions touches a file, the console or any global state,
// starts a thread, or reads or writes outside the buffers it is given.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <vector>

#include "byte_sink.h"
#include "dbg_scan.h"
#include "qb_layout.h"
#include "table_writer.h"

namespace dbgparse {

// The walk's observer that writes each checksum line's entry: its checksum,
// and its text cut to qb::max_text_length; the line that ends the table
// gets no text.
class entry_writer {
 public:
  entry_writer(std::span<const unsigned char> input, table_writer& out)
      : input_(input), out_(out) {}

  bool short_line(const dbg::checksum_line& found) {
    return out_.window_entry(found.field.checksum, input_.data() + found.text,
                             found.text_end - found.text);
  }
  bool line(const dbg::checksum_line& found) {
    const std::size_t kept = std::min(found.text_end - found.text, qb::max_text_length);
    return out_.entry(found.field.checksum, input_.subspan(found.text, kept));
  }
  bool last_line(const dbg::checksum_line& found) { return out_.entry(found.field.checksum, {}); }

 private:
  std::span<const unsigned char> input_;
  table_writer& out_;
};

// The size of the pieces that write_table hands over unless told otherwise.
inline constexpr std::size_t default_piece_size = std::size_t{64} << 10;

// Converts `input` in one forward pass and hands the table to `sink` in
// pieces of at most `piece_size` bytes (at least table_writer's minimum), on
// the calling thread. Never fails on malformed input; returns false only
// when `sink` refused a piece, after which it is not called again. Throws
// std::bad_alloc when the memory for a piece cannot be had, before calling the sink.
// Time is linear in the input's and the table's size.
bool write_table(std::span<const unsigned char> input, const byte_sink& sink,
                 std::size_t piece_size = default_piece_size);
// The same, into the memory that `pieces` gives; false only when it stopped
// the table.
bool write_table(std::span<const unsigned char> input, piece_exchange& pieces);

// The whole table in memory.
std::vector<unsigned char> convert(std::span<const unsigned char> input);

// Converts the first `length` bytes of `buffer` (all of it when `length` is
// larger) and leaves the table at the buffer's start, growing the buffer when
// the table is longer than it. Returns the table's length, at least 2.
std::size_t parse_qb(std::vector<unsigned char>& buffer, std::size_t length);

}  // namespace dbgparse
