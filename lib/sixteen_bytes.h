// Sixteen bytes looked at together: SSE2 where the processor has it (every
// x86-64 does), the same in a plain loop elsewhere. The marking of blocks
// (dbg_line.h) is written once, over this.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace dbgparse::dbg {

class sixteen_bytes {
 public:
  static constexpr std::size_t size = 16;

  explicit sixteen_bytes(const unsigned char* from) {
#ifdef __SSE2__
    bytes_ = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
#else
    std::memcpy(bytes_.data(), from, size);
#endif
  }

  // Bit k set where byte k is `c`.
  [[nodiscard]] std::uint64_t equal(unsigned char c) const {
#ifdef __SSE2__
    return static_cast<std::uint32_t>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(bytes_, _mm_set1_epi8(static_cast<char>(c)))));
#else
    return matching([c](unsigned char b) { return b == c; });
#endif
  }

  // Bit k set where byte k is at most `c`.
  [[nodiscard]] std::uint64_t at_most(unsigned char c) const {
#ifdef __SSE2__
    const __m128i limit = _mm_set1_epi8(static_cast<char>(c));
    return static_cast<std::uint32_t>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(bytes_, limit), bytes_)));
#else
    return matching([c](unsigned char b) { return b <= c; });
#endif
  }

 private:
#ifdef __SSE2__
  __m128i bytes_;
#else
  template <class test>
  [[nodiscard]] std::uint64_t matching(test matches) const {
    std::uint64_t bits = 0;
    for (std::size_t k = 0; k < size; ++k) {
      bits |= std::uint64_t{matches(bytes_[k])} << k;
    }
    return bits;
  }

  std::array<unsigned char, size> bytes_{};
#endif
};

}  // namespace dbgparse::dbg
