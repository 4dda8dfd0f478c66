// The conversion's scan: finds each checksum line, reads its value field and
// its text, and writes the entry.
#include "conversion.h"

#include <algorithm>
#include <cstring>

#include "dbg_line.h"
#include "qb_layout.h"
#include "table_writer.h"
#include "value_field.h"

namespace dbgparse {

bool write_table(std::span<const unsigned char> input, const byte_sink& sink,
                 std::size_t block_size) {
  table_writer out(sink, block_size);
  dbg::line_ends ends(input);
  dbg::marks_ahead ahead(input);
  const std::size_t size = input.size();
  for (std::size_t line = dbg::next_line_start(input, dbg::section_start(input)); line < size;) {
    const std::uint32_t value = read_value_field(input, line + dbg::value_field_offset).value;
    const std::size_t text = line + dbg::head_size;
    // Nearly always: the text ends within the 64 bytes from its first one,
    // at a CR or LF with no zero byte (nor any other stop) before it.
    const dbg::block_marks marks = ahead.at(text);
    if (const std::size_t length = dbg::short_text_length(input, text, marks); length > 0) {
      if (!out.window_entry(value, input.data() + text, length)) {
        return false;
      }
      line = dbg::line_start_after(input, text, marks);
      continue;
    }
    const std::size_t text_end = ends.next(text);
    if (text_end >= size || text_end == text) {
      // No text, or no line end after it: the entry stays without text and
      // nothing after it is converted.
      if (!out.entry(value, {})) {
        return false;
      }
      break;
    }
    const std::size_t kept = std::min(text_end - text, qb::max_text_length);
    if (!out.entry(value, input.subspan(text, kept))) {
      return false;
    }
    // Scanning goes on from the text's second byte, so a checksum line
    // inside a text becomes an entry of its own.
    line = dbg::next_line_start(input, text + 1);
  }
  return out.finish();
}

std::vector<unsigned char> convert(std::span<const unsigned char> input) {
  std::vector<unsigned char> table;
  // Nearly every table is shorter than its input.
  table.reserve(input.size() + qb::marker_size);
  write_table(input, [&table](std::span<const unsigned char> piece) {
    table.insert(table.end(), piece.begin(), piece.end());
    return true;
  });
  return table;
}

std::size_t parse_qb(std::vector<unsigned char>& buffer, std::size_t length) {
  const std::vector<unsigned char> table =
      convert(std::span<const unsigned char>(buffer.data(), std::min(length, buffer.size())));
  if (table.size() > buffer.size()) {
    buffer.resize(table.size());
  }
  std::copy(table.begin(), table.end(), buffer.begin());
  return table.size();
}

}  // namespace dbgparse
