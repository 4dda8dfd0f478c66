// Where in the input texts may stop and checksum lines start, found many
// bytes at a time: with AVX2 or SSE2 where the processor has them, otherwise
// with plain loops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace dbgparse {

// The scan looks at a text through the window of this many bytes from its
// first byte; the marks of a window are cut from those of two 64-byte blocks.
inline constexpr std::size_t window_size = 64;

// Bit i stands for the window's byte i.
struct window_marks {
  // The byte is at most CR (0x0D). CR, LF and the zero byte are among these,
  // and in texts the others (tab and rarer control bytes) are seldom.
  std::uint64_t stops = 0;
  std::uint64_t starts = 0;  // "0x" starts at the byte
};

// The input's marks, made ahead for a run of blocks at a time as the scan
// moves forward through it.
class input_marks {
 public:
  explicit input_marks(std::span<const unsigned char> input)
      : input_(input),
        markable_end_(input.size() > window_size ? (input.size() - 1) / window_size : 0) {}

  // The marks of the window from byte `at`; none at all where that window
  // and the byte after it do not lie within the input. `at` never goes back
  // from one call to the next.
  window_marks window(std::size_t at) {
    const std::size_t block = at / window_size;
    if (block + 1 >= marked_end_) {
      if (block + 1 >= markable_end_) {
        return {};
      }
      mark_from(block);
    }
    const std::size_t k = block - marked_from_;
    const std::size_t shift = at % window_size;
    return {joined(stops_[k], stops_[k + 1], shift), joined(starts_[k], starts_[k + 1], shift)};
  }

 private:
  static constexpr std::size_t blocks_ahead = 64;

  // The 64 marks from bit `shift` of `low` on, followed by those of `high`.
  static std::uint64_t joined(std::uint64_t low, std::uint64_t high, std::size_t shift) {
    return (low >> shift) | (high << 1 << (63 - shift));
  }

  // Marks the run of blocks that starts with block `first`.
  void mark_from(std::size_t first);

  std::span<const unsigned char> input_;
  // Blocks [marked_from_, marked_end_) are marked; those before
  // markable_end_ can be (they and the byte after them lie in the input).
  std::size_t marked_from_ = 0;
  std::size_t marked_end_ = 0;
  std::size_t markable_end_;
  std::uint64_t stops_[blocks_ahead]{};
  std::uint64_t starts_[blocks_ahead]{};
};

}  // namespace dbgparse
