// The value field of a checksum line: the 8 positions after "0x", read the
// way C's "%08x" reads them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "dbg_line.h"

namespace dbgparse {

struct value_field {
  std::uint32_t checksum = 0;
  std::size_t digits = 0;  // hexadecimal digits taken, a leading 0 of "0x" included
  std::size_t end = 0;     // index just past the last byte the conversion took
};

// Each byte's value as a hexadecimal digit, not_a_digit for the rest. A
// table, not comparisons: digits and letters come in no order a branch could
// learn.
inline constexpr unsigned not_a_digit = 0x10;
inline constexpr std::array<std::uint8_t, 256> hex_digit_values = [] {
  std::array<std::uint8_t, 256> values{};
  values.fill(not_a_digit);
  for (std::uint8_t k = 0; k < 10; ++k) {
    values['0' + k] = k;
  }
  for (std::uint8_t k = 0; k < 6; ++k) {
    values['a' + k] = values['A' + k] = 10 + k;
  }
  return values;
}();

inline bool is_hex_digit(unsigned char c) { return hex_digit_values[c] != not_a_digit; }

// Reads a field that is not 8 hexadecimal digits (see read_value_field).
value_field read_unusual_value_field(std::span<const unsigned char> input, std::size_t from);

// Reads the 8 bytes from `p` as hexadecimal digits of either case into
// `checksum`; false, leaving `checksum` alone, when any of them is not a digit.
// Nearly every field is such, and "%08x" reads it as it stands. SSE2 takes
// all 8 at once where the processor has it (a benchmark of the whole
// conversion shows it pays); elsewhere they are looked up side by side and
// checked once.
inline bool read_eight_digits(const unsigned char* p, std::uint32_t& checksum) {
#ifdef __SSE2__
  const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
  // An unsigned byte x is at most `limit` exactly when min(x, limit) == x.
  const auto at_most = [](__m128i x, char limit) {
    return _mm_cmpeq_epi8(_mm_min_epu8(x, _mm_set1_epi8(limit)), x);
  };
  const __m128i digit = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
  const __m128i letter = _mm_sub_epi8(_mm_or_si128(bytes, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
  const __m128i is_digit = at_most(digit, 9);
  const __m128i is_letter = at_most(letter, 'f' - 'a');
  if ((_mm_movemask_epi8(_mm_or_si128(is_digit, is_letter)) & 0xFF) != 0xFF) {
    return false;
  }
  const __m128i nibbles =
      _mm_or_si128(_mm_and_si128(is_digit, digit),
                   _mm_and_si128(is_letter, _mm_add_epi8(letter, _mm_set1_epi8(10))));
  // Pairs of digits, then pairs of pairs; the first byte is the most
  // significant digit.
  const __m128i pairs = _mm_madd_epi16(_mm_unpacklo_epi8(nibbles, _mm_setzero_si128()),
                                       _mm_setr_epi16(16, 1, 16, 1, 16, 1, 16, 1));
  const __m128i quads =
      _mm_madd_epi16(_mm_packs_epi32(pairs, pairs), _mm_setr_epi16(256, 1, 256, 1, 256, 1, 256, 1));
  const auto high = static_cast<std::uint32_t>(_mm_cvtsi128_si32(quads));
  const auto low = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_epi64(quads, 32)));
  checksum = (high << 16) | low;
  return true;
#else
  std::uint32_t read = 0;
  unsigned seen = 0;
  for (std::size_t k = 0; k < dbg::value_field_width; ++k) {
    const unsigned digit = hex_digit_values[p[k]];
    read |= digit << (4 * (dbg::value_field_width - 1 - k));
    seen |= digit;
  }
  if ((seen & not_a_digit) != 0) {
    return false;
  }
  checksum = read;
  return true;
#endif
}

// Reads the field at `from` as "%08x" does: white space (blank, tab, LF, VT,
// FF, CR) skipped and not counted, then at most 8 positions of an optional
// sign, an optional 0x or 0X prefix and hexadecimal digits of either case. A
// minus negates modulo 2^32; a field with no digits gives 0. Reads nothing
// at or past the input's end.
inline value_field read_value_field(std::span<const unsigned char> input, std::size_t from) {
  std::uint32_t checksum = 0;
  if (from <= input.size() && input.size() - from >= dbg::value_field_width &&
      read_eight_digits(input.data() + from, checksum)) {
    return {checksum, dbg::value_field_width, from + dbg::value_field_width};
  }
  return read_unusual_value_field(input, from);
}

}  // namespace dbgparse
