// The conversion's scan: finds each checksum line, reads its value field
// (value_field.h) and its text, and writes the entry through one of the table
// writers (table_writers.h). Texts that end within 64 bytes, nearly all of
// them, are measured with marks made ahead (input_marks.h).
#include "conversion.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string_view>

#include "input_marks.h"
#include "qb_layout.h"
#include "table_writers.h"
#include "value_field.h"

namespace dbgparse {
namespace {

// A checksum line: "0x", the value field, one separator byte, the text.
constexpr std::size_t value_field_offset = 2;
constexpr std::size_t text_offset = value_field_offset + value_field_width + 1;

// An entry whose text ends within its window is written with the whole
// window copied after its head, of which only the text's bytes count.
constexpr std::size_t window_entry_size = qb::head_size + window_size;
static_assert(std::max(window_entry_size, qb::head_size + max_text_length) <=
              block_writer::min_block_size);

// Index just past the first section header, or the input's size.
std::size_t find_section_start(std::span<const unsigned char> input) {
  const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
  const std::size_t at = text.find(section_header);
  return at == std::string_view::npos ? input.size() : at + section_header.size();
}

// Index of the first "0x" that starts at or after `from`, or the input's size.
std::size_t find_checksum_line(std::span<const unsigned char> input, std::size_t from) {
  const std::size_t size = input.size();
  while (size >= 2 && from < size - 1) {
    const void* zero = std::memchr(input.data() + from, '0', size - 1 - from);
    if (zero == nullptr) {
      break;
    }
    const auto at =
        static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - input.data());
    if (input[at + 1] == 'x') {
      return at;
    }
    from = at + 1;
  }
  return size;
}

// The first CR or LF at or after a given index. Remembers the last one found,
// so that the many checksum lines that can start inside one long text do not
// search the same bytes again and again.
class line_ends {
 public:
  explicit line_ends(std::span<const unsigned char> input) : input_(input) {}

  // Index of the first CR or LF at or after `from`, or the input's size.
  std::size_t next(std::size_t from) {
    if (!known_ || from < searched_from_ || from > line_end_) {
      const unsigned char* begin = input_.data();
      line_end_ = static_cast<std::size_t>(
          first_line_end(begin + std::min(from, input_.size()), begin + input_.size()) - begin);
      searched_from_ = from;
      known_ = true;
    }
    return line_end_;
  }

 private:
  std::span<const unsigned char> input_;
  std::size_t searched_from_ = 0;
  std::size_t line_end_ = 0;
  bool known_ = false;
};

// Makes room for `count` bytes at the cursor, keeping the input from
// `keep_from` on; false when the writer asked to stop.
template <class writer>
bool make_room(out_cursor& cursor, writer& out, std::size_t count, const unsigned char* keep_from) {
  if (!fits(cursor, count, keep_from)) {
    cursor = out.refill(cursor, count, keep_from);
  }
  return cursor.at != nullptr;
}

// The scan itself, writing through `out` (one of the writers). Returns the
// cursor past the table, null when the writer asked to stop.
template <class writer>
out_cursor convert(std::span<const unsigned char> input, writer& out) {
  const unsigned char* const data = input.data();
  const std::size_t size = input.size();
  input_marks marks(input);
  line_ends ends(input);
  out_cursor cursor = out.start();
  unsigned char marker = qb::first_entry_marker;

  std::size_t line = find_checksum_line(input, find_section_start(input));
  while (line < size) {
    // The text starts 9 bytes after "0x", however many of them the value used.
    const std::size_t text = line + text_offset;
    // Read before the entry is written, which may be over it.
    const std::uint32_t value = read_value_field(data + line + value_field_offset, data + size);

    // Nearly always: the text ends within its window, at a CR or LF with no
    // zero byte (nor any other byte below CR) before it.
    const window_marks window = marks.window(text);
    const auto length = static_cast<std::size_t>(std::countr_zero(window.stops));
    if (length > 0 && length < window_size &&
        (data[text + length] == '\r' || data[text + length] == '\n')) {
      if (!make_room(cursor, out, window_entry_size, data + text)) {
        return cursor;
      }
      unsigned char* const text_copy = put_head(cursor.at, marker, value);
      std::memcpy(text_copy, data + text, window_size);
      cursor.at = text_copy + length;
      marker = qb::entry_marker;
      // Scanning goes on from the text's second byte.
      const std::uint64_t later_starts = window.starts & ~std::uint64_t{1};
      line = later_starts != 0 ? text + static_cast<std::size_t>(std::countr_zero(later_starts))
                               : find_checksum_line(input, text + window_size);
      continue;
    }

    const std::size_t text_end = ends.next(text);
    if (text_end == size || text_end == text) {
      // No text, or no line end after it: the entry stays without text and
      // nothing after it is converted.
      if (!make_room(cursor, out, qb::head_size, data + size)) {
        return cursor;
      }
      cursor.at = put_head(cursor.at, marker, value);
      break;
    }
    const std::size_t kept = std::min(text_end - text, max_text_length);
    if (!make_room(cursor, out, qb::head_size + kept, data + text + 1)) {
      return cursor;
    }
    cursor.at = copy_text(data + text, kept, put_head(cursor.at, marker, value));
    marker = qb::entry_marker;
    // Scanning goes on from the text's second byte, so a checksum line
    // inside a text becomes an entry of its own.
    line = find_checksum_line(input, text + 1);
  }

  if (make_room(cursor, out, qb::marker_size, data + size)) {
    cursor.at = std::copy(qb::end_marker.begin(), qb::end_marker.end(), cursor.at);
  }
  return cursor;
}

}  // namespace

std::size_t find_end(const unsigned char* start, std::int64_t n) {
  if (n <= 0) {
    return 0;
  }
  const unsigned char* end = start + n;
  const unsigned char* found = first_line_end(start, end);
  return found == end ? 0 : static_cast<std::size_t>(found - start);
}

bool write_table(std::span<const unsigned char> input, const table_sink& sink,
                 std::size_t block_size) {
  block_writer out(sink, block_size);
  const out_cursor end = convert(input, out);
  return end.at != nullptr && out.finish(end);
}

std::size_t parse_qb(std::vector<unsigned char>& buffer, std::size_t length) {
  const std::span<const unsigned char> input(buffer.data(), std::min(length, buffer.size()));
  in_place_writer out(buffer.data());
  return out.finish(convert(input, out), buffer);
}

}  // namespace dbgparse
