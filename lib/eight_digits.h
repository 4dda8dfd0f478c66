// The common value field, 8 hexadecimal digits, converted at once: with SSE2
// where the processor has it, otherwise with plain 64-bit arithmetic on the
// 8 bytes as one word. "%08x" reads such a field as it is.
#pragma once

#include <cstdint>

#include "byte_words.h"
#include "vector_support.h"

namespace dbgparse {

// Converts the 8 bytes from `p` and returns true when they are hexadecimal
// digits of either case; returns false, leaving `value` alone, otherwise.
inline bool read_eight_digits(const unsigned char* p, std::uint32_t& value) {
#ifdef DBGPARSE_SSE2
  const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
  // Unsigned byte x <= limit exactly when min(x, limit) == x.
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
  value = (high << 16) | low;
  return true;
#else
  using words::high_bits;
  using words::ones;
  const std::uint64_t word = words::load(p);
  // For bytes below 0x80, byte + (0x80 - c) has its high bit set exactly
  // when byte >= c, and no byte carries into the next.
  const auto at_least = [](std::uint64_t bytes, unsigned char c) {
    return bytes + ones * (0x80U - c);
  };
  const std::uint64_t lower = word | (ones * 0x20U);
  const std::uint64_t digits = at_least(word, '0') & ~at_least(word, '9' + 1);
  const std::uint64_t letters = at_least(lower, 'a') & ~at_least(lower, 'f' + 1);
  if ((word & high_bits) != 0 || ((digits | letters) & high_bits) != high_bits) {
    return false;
  }
  // Each byte's digit value, then pairs, quads and all eight merged; the
  // first byte is the most significant digit.
  std::uint64_t v = (word & (ones * 0x0FU)) + ((letters & high_bits) >> 7) * 9;
  v = ((v & 0x000F000F000F000FU) << 4) | ((v >> 8) & 0x000F000F000F000FU);
  v = ((v & 0x000000FF000000FFU) << 8) | ((v >> 16) & 0x000000FF000000FFU);
  v = ((v & 0x000000000000FFFFU) << 16) | ((v >> 32) & 0x000000000000FFFFU);
  value = static_cast<std::uint32_t>(v);
  return true;
#endif
}

}  // namespace dbgparse
