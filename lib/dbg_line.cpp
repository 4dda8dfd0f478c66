// The searches that the conversion, its warnings and the listing share.
#include "dbg_line.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace dbgparse::dbg {

std::size_t section_start(std::span<const unsigned char> input) {
  const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
  const std::size_t at = text.find(section_header);
  return at == std::string_view::npos ? input.size() : at + section_header.size();
}

namespace {

// Sixteen bytes looked at together: SSE2 where the processor has it (every
// x86-64 does), the same in a plain loop elsewhere. The searches below are
// written once, over this.
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
  [[nodiscard]] unsigned equal(unsigned char c) const {
#ifdef __SSE2__
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(bytes_, _mm_set1_epi8(static_cast<char>(c)))));
#else
    unsigned bits = 0;
    for (std::size_t k = 0; k < size; ++k) {
      bits |= static_cast<unsigned>(bytes_[k] == c) << k;
    }
    return bits;
#endif
  }

 private:
#ifdef __SSE2__
  __m128i bytes_;
#else
  std::array<unsigned char, size> bytes_{};
#endif
};

}  // namespace

std::size_t line_end(std::span<const unsigned char> input, std::size_t from) {
  const std::size_t size = input.size();
  std::size_t at = std::min(from, size);
  for (; size - at >= sixteen_bytes::size; at += sixteen_bytes::size) {
    const sixteen_bytes bytes(input.data() + at);
    if (const unsigned ends = bytes.equal('\r') | bytes.equal('\n'); ends != 0) {
      return at + static_cast<std::size_t>(std::countr_zero(ends));
    }
  }
  while (at < size && !is_line_end(input[at])) {
    ++at;
  }
  return at;
}

std::size_t next_line_start(std::span<const unsigned char> input, std::size_t from) {
  const std::size_t size = input.size();
  std::size_t at = std::min(from, size);
  // Each "0" bit against the "x" bit of the byte after it.
  for (; size - at > sixteen_bytes::size; at += sixteen_bytes::size) {
    const unsigned starts =
        sixteen_bytes(input.data() + at).equal(static_cast<unsigned char>(line_start[0])) &
        sixteen_bytes(input.data() + at + 1).equal(static_cast<unsigned char>(line_start[1]));
    if (starts != 0) {
      return at + static_cast<std::size_t>(std::countr_zero(starts));
    }
  }
  for (; at + 1 < size; ++at) {
    if (input[at] == static_cast<unsigned char>(line_start[0]) &&
        input[at + 1] == static_cast<unsigned char>(line_start[1])) {
      return at;
    }
  }
  return size;
}

}  // namespace dbgparse::dbg
