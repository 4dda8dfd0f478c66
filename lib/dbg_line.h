// The shape of a DBG checksum list, the one description that the conversion,
// its warnings and the listing all read.
//
// A list is text: anything, then the section header, then checksum lines:
// "0x", a value field of 8 positions, one separator byte, a text, a line end
// (CR or LF). The 11 bytes before the text are the line's head. A "0x"
// anywhere in the section starts a checksum line, inside another line too.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "sixteen_bytes.h"

namespace dbgparse::dbg {

// The checksum section starts right after the first occurrence of this line.
// No table can hold it: a table's texts hold no CR or LF, and the marker
// before each checksum breaks any line that would run through the checksum's bytes.
inline constexpr std::string_view section_header = "[Checksums]\r\n";
// The header without its line end, as a file with other line ends holds it.
inline constexpr std::string_view section_title =
    section_header.substr(0, section_header.find('\r'));

inline constexpr std::string_view line_start = "0x";
inline constexpr std::size_t value_field_offset = line_start.size();
inline constexpr std::size_t value_field_width = 8;
inline constexpr std::size_t separator_offset = value_field_offset + value_field_width;
// The text starts here however many of the value field's positions the checksum
// used.
inline constexpr std::size_t text_offset = separator_offset + 1;

// A CR or an LF, told by one bit test rather than two comparisons.
inline bool is_line_end(unsigned char c) {
  constexpr std::uint64_t line_ends = (std::uint64_t{1} << '\r') | (std::uint64_t{1} << '\n');
  return c < 64 && ((line_ends >> c) & 1) != 0;
}
// A blank or a tab (a character of 8-bit or of UTF-16 text).
inline bool is_blank(unsigned c) { return c == ' ' || c == '\t'; }

// Index of the first zero byte of a text, or its size. Texts are short and
// nearly never hold one: a loop without an early exit, which the compiler
// vectorises, tells that faster than a search.
inline std::size_t first_zero_byte(std::span<const unsigned char> text) {
  unsigned char all_set = 0xFF;
  for (const unsigned char c : text) {
    all_set &= c == 0 ? 0 : 0xFF;
  }
  return all_set != 0
             ? text.size()
             : static_cast<std::size_t>(std::find(text.begin(), text.end(), 0) - text.begin());
}

// The marks of a block of bytes, bit k for byte k: every search below is
// made of them.
inline constexpr std::size_t block_size = 64;
struct block_marks {
  // The byte is at most CR (0x0D): CR and LF, but also the zero byte, tab and
  // rarer control bytes, so that one mark tells a text's end and whether it
  // holds a zero byte. Marked up to the blank instead (a marking's
  // `last_stop`), they tell whether it holds a blank as well.
  std::uint64_t stops = 0;
  std::uint64_t starts = 0;  // "0x" starts at the byte
};

// Marks the block from `p`, reading one byte more to see whether an "x"
// follows its last byte; bytes up to `last_stop` are stops.
inline block_marks mark(const unsigned char* p, unsigned char last_stop = '\r') {
  block_marks marks;
  for (std::size_t k = 0; k < block_size; k += sixteen_bytes::size) {
    const sixteen_bytes bytes(p + k);
    marks.stops |= bytes.at_most(last_stop) << k;
    marks.starts |= (bytes.equal(static_cast<unsigned char>(line_start[0])) &
                     sixteen_bytes(p + k + 1).equal(static_cast<unsigned char>(line_start[1])))
                    << k;
  }
  return marks;
}

// The marks of the input's last block, from `at` on, with fewer than
// block_size + 1 bytes: bytes past the input's end are marked neither way,
// and a "0" that is the input's last byte starts nothing.
block_marks mark_last_block(std::span<const unsigned char> input, std::size_t at);

// Marks marks.size() blocks one after another from `first` (each block and
// the byte after it lie in the input), with AVX2 where the processor has it.
// Asks for the `ahead_size` bytes from `ahead`, which the caller reads next,
// to be fetched meanwhile.
void mark_blocks(const unsigned char* first, std::span<block_marks> marks,
                 const unsigned char* ahead, std::size_t ahead_size,
                 unsigned char last_stop = '\r');

// The marks of the block at `at`, which lies within the input.
inline block_marks mark_block(std::span<const unsigned char> input, std::size_t at) {
  return input.size() - at > block_size ? mark(input.data() + at) : mark_last_block(input, at);
}

// The marks of the block at any index, for a scan that never goes back: the
// input's fixed blocks are marked a run at a time, each once, and the block
// at an index is cut from the two fixed ones it overlaps. A line's marks are
// then at hand without waiting for its bytes, which a scan that marks each
// line's block from its text would.
class marks_ahead {
 public:
  // Bytes up to `last_stop` are stops.
  explicit marks_ahead(std::span<const unsigned char> input, unsigned char last_stop = '\r')
      : input_(input),
        markable_(input.empty() ? 0 : (input.size() - 1) / block_size),
        last_stop_(last_stop) {}

  // Whether at() has the marks of the block at `at`: false near the end.
  [[nodiscard]] bool has(std::size_t at) const { return at / block_size + 1 < markable_; }

  // The marks of the block at `at`, or none at all near the input's end.
  block_marks at(std::size_t at) {
    const std::size_t block = at / block_size;
    if (block + 1 >= marked_end_) {
      if (block + 1 >= markable_) {
        return {};
      }
      mark_run(block);
    }
    const block_marks& low = run_[block - marked_from_];
    const block_marks& high = run_[block - marked_from_ + 1];
    const std::size_t shift = at % block_size;
    return {joined(low.stops, high.stops, shift), joined(low.starts, high.starts, shift)};
  }

 private:
  // Blocks marked at a time: 2 KiB, the next run's bytes fetched while this
  // one is walked. Measured in-process on a 64 MiB input, 64 was 6 to 8
  // percent slower, 128 slower still.
  static constexpr std::size_t run_size = 32;

  // The 64 marks from bit `shift` of `low` on, followed by those of `high`.
  static std::uint64_t joined(std::uint64_t low, std::uint64_t high, std::size_t shift) {
    return (low >> shift) | (high << 1 << (block_size - 1 - shift));
  }

  void mark_run(std::size_t first) {
    marked_from_ = first;
    marked_end_ = std::min(first + run_size, markable_);
    // The next run's bytes asked for now, as the scan between runs reads
    // nothing new.
    const std::size_t next = std::min(marked_end_ * block_size, input_.size() - 1);
    mark_blocks(input_.data() + first * block_size,
                std::span<block_marks>(run_.data(), marked_end_ - first), input_.data() + next,
                input_.size() - next, last_stop_);
  }

  std::span<const unsigned char> input_;
  std::size_t markable_;  // fixed blocks that, with the byte after them, lie in the input
  unsigned char last_stop_;
  std::size_t marked_from_ = 0;
  std::size_t marked_end_ = 0;
  std::array<block_marks, run_size> run_{};
};

// Index just past the first section header, or the input's size.
std::size_t section_start(std::span<const unsigned char> input);

// Index of the first CR or LF at or after `from`, or the input's size.
std::size_t line_end(std::span<const unsigned char> input, std::size_t from);

// Index of the first "0x" that starts at or after `from` and ends within
// the input, or the input's size.
std::size_t next_line_start(std::span<const unsigned char> input, std::size_t from);

// The length of the text from `text` when it ends within the block there,
// marked `marks`, at a CR or LF with no other stop (no zero byte) before it;
// 0 for any other text. Nearly every text is such a short one.
inline std::size_t short_text_length(std::span<const unsigned char> input, std::size_t text,
                                     const block_marks& marks) {
  const auto length = static_cast<std::size_t>(std::countr_zero(marks.stops));
  return length < block_size && is_line_end(input[text + length]) ? length : 0;
}

// The first CR or LF in the block at `text`, marked `marks`, or the
// input's size when the block holds none.
inline std::size_t marked_line_end(std::span<const unsigned char> input, std::size_t text,
                                   const block_marks& marks) {
  for (std::uint64_t stops = marks.stops; stops != 0; stops &= stops - 1) {
    const std::size_t at = text + static_cast<std::size_t>(std::countr_zero(stops));
    if (is_line_end(input[at])) {
      return at;
    }
  }
  return input.size();
}

// Where the scan goes on after the line whose text starts at `text`, the
// block there marked `marks`: the first "0x" from the text's second byte on.
inline std::size_t line_start_after(std::span<const unsigned char> input, std::size_t text,
                                    const block_marks& marks) {
  const std::uint64_t later = marks.starts & ~std::uint64_t{1};
  return later != 0 ? text + static_cast<std::size_t>(std::countr_zero(later))
                    : next_line_start(input, text + block_size);
}

// The first CR or LF at or after a given index, remembering the last one
// found, so that the many checksum lines that can start inside one long
// text do not search the same bytes again and again.
class line_ends {
 public:
  explicit line_ends(std::span<const unsigned char> input) : input_(input) {}

  std::size_t next(std::size_t from) {
    if (from < searched_from_ || from > line_end_) {
      line_end_ = line_end(input_, from);
      searched_from_ = from;
    }
    return line_end_;
  }

 private:
  std::span<const unsigned char> input_;
  std::size_t searched_from_ = 1;  // more than line_end_: nothing is known yet
  std::size_t line_end_ = 0;
};

}  // namespace dbgparse::dbg
