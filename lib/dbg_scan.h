// The walk over a DBG file's checksum lines: the one place that says which
// "0x" makes the next entry, where its value field and text are, and which
// line ends the table. The conversion, its warnings and the listing's checks
// are its observers; converting with warnings is one walk with both.
#pragma once

#include <cstddef>
#include <span>

#include "dbg_line.h"
#include "value_field.h"

namespace dbgparse::dbg {

struct checksum_line {
  std::size_t start = 0;  // of its "0x"
  value_field field;      // read from start + value_field_offset
  std::size_t text = 0;   // start + text_offset, which may lie past the input's end
  // The first CR or LF from `text` on, or the input's size when there is
  // none. The text is [text, text_end); it ends the table when it is empty
  // or has no line end.
  std::size_t text_end = 0;
};

// What an observer of the walk has; each call returns false to stop it.
//   bool short_line(const checksum_line&)  a line whose text is not empty
//       and ends at a CR or LF within block_size bytes, with no other stop
//       (zero byte, tab, control byte) before it: nearly every line;
//   bool line(const checksum_line&)  any other line with a text and a line
//       end (its text may be longer than an entry holds);
//   bool last_line(const checksum_line&)  the line that ends the table: its
//       text is empty or has no line end. Nothing after it is walked.
// The observer sees the lines in input order; the walk goes on from each
// line's text's second byte, so a "0x" inside a text starts a line too.
// An observer with
//   static constexpr bool short_lines_without_blanks = true;
// has every text that holds a blank walked as a line, not a short line.
// Returns false when the observer stopped it.
template <class observer>
constexpr bool short_lines_without_blanks() {
  if constexpr (requires { observer::short_lines_without_blanks; }) {
    return observer::short_lines_without_blanks;
  } else {
    return false;
  }
}

template <class observer>
bool for_each_checksum_line(std::span<const unsigned char> input, std::size_t from,
                            observer& seen) {
  line_ends ends(input);
  marks_ahead ahead(input, short_lines_without_blanks<observer>() ? ' ' : '\r');
  const std::size_t size = input.size();
  for (std::size_t start = next_line_start(input, from); start < size;) {
    checksum_line found{start, read_value_field(input, start + value_field_offset),
                        start + text_offset, 0};
    const block_marks marks = ahead.at(found.text);
    if (const std::size_t length = short_text_length(input, found.text, marks); length > 0) {
      found.text_end = found.text + length;
      if (!seen.short_line(found)) {
        return false;
      }
      start = line_start_after(input, found.text, marks);
      continue;
    }
    // A line whose text holds another stop before its end: the marks at
    // hand tell where it ends and where the next starts, when its end lies
    // in their block.
    const bool marked = ahead.has(found.text);
    found.text_end = marked ? marked_line_end(input, found.text, marks) : size;
    if (found.text_end == size) {
      found.text_end = ends.next(found.text);
    }
    // The rarer lines get a copy of the line, so that an observer that
    // hands it to a function of its own leaves the walk's `found` in
    // registers on the common path.
    if (found.text_end >= size || found.text_end == found.text) {
      return seen.last_line(checksum_line(found));
    }
    if (!seen.line(checksum_line(found))) {
      return false;
    }
    start = marked ? line_start_after(input, found.text, marks)
                   : next_line_start(input, found.text + 1);
  }
  return true;
}

// The walk over the checksum section: from just past the first header on.
template <class observer>
bool for_each_checksum_line(std::span<const unsigned char> input, observer& seen) {
  return for_each_checksum_line(input, section_start(input), seen);
}

// Two observers on one walk: each line is shown to the first, then to the
// second, and either stops the walk.
template <class first_observer, class second_observer>
class both_observers {
 public:
  both_observers(first_observer& first, second_observer& second) : first_(first), second_(second) {}

  static constexpr bool short_lines_without_blanks =
      dbg::short_lines_without_blanks<first_observer>() ||
      dbg::short_lines_without_blanks<second_observer>();

  bool short_line(const checksum_line& found) {
    return first_.short_line(found) && second_.short_line(found);
  }
  bool line(const checksum_line& found) { return first_.line(found) && second_.line(found); }
  bool last_line(const checksum_line& found) {
    return first_.last_line(found) && second_.last_line(found);
  }

 private:
  first_observer& first_;
  second_observer& second_;
};

}  // namespace dbgparse::dbg
