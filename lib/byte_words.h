// Eight bytes looked at as one 64-bit word, for searches that test a word at
// a time where no vector instructions are used.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace dbgparse::words {

inline constexpr std::uint64_t ones = 0x0101010101010101U;
inline constexpr std::uint64_t high_bits = ones * 0x80U;

// The 8 bytes from `p`, the first byte lowest.
inline std::uint64_t load(const unsigned char* p) {
  std::uint64_t word = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&word, p, sizeof word);
  } else {
    for (std::size_t i = sizeof word; i > 0; --i) {
      word = (word << 8U) | p[i - 1];
    }
  }
  return word;
}

// The high bit of each zero byte of `word`. The lowest one set is the first
// zero byte; bits above it may be borrows from it.
inline std::uint64_t zero_bytes(std::uint64_t word) { return (word - ones) & ~word & high_bits; }

// The same for the bytes equal to `c`.
inline std::uint64_t bytes_equal(std::uint64_t word, unsigned char c) {
  return zero_bytes(word ^ (ones * c));
}

}  // namespace dbgparse::words
