// The marking of 64-byte blocks in three forms, AVX2, SSE2 and plain.
#include "input_marks.h"

#include <algorithm>

#include "vector_support.h"

namespace dbgparse {
namespace {

// Each form marks one 64-byte block from `p`, reading one byte more to see
// whether an "x" follows the last one.

#ifdef DBGPARSE_SSE2
__m128i load16(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

std::uint64_t byte_mask(__m128i matches) {
  return static_cast<std::uint32_t>(_mm_movemask_epi8(matches));
}

window_marks mark_block(const unsigned char* p) {
  window_marks marks;
  for (std::size_t i = 0; i < window_size; i += 16) {
    const __m128i bytes = load16(p + i);
    const __m128i next_bytes = load16(p + i + 1);
    const __m128i low = _mm_cmpeq_epi8(_mm_min_epu8(bytes, _mm_set1_epi8('\r')), bytes);
    const __m128i zero_then_x = _mm_and_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('0')),
                                              _mm_cmpeq_epi8(next_bytes, _mm_set1_epi8('x')));
    marks.stops |= byte_mask(low) << i;
    marks.starts |= byte_mask(zero_then_x) << i;
  }
  return marks;
}
#else
window_marks mark_block(const unsigned char* p) {
  window_marks marks;
  for (std::size_t i = 0; i < window_size; ++i) {
    marks.stops |= static_cast<std::uint64_t>(p[i] <= '\r') << i;
    marks.starts |= static_cast<std::uint64_t>(p[i] == '0' && p[i + 1] == 'x') << i;
  }
  return marks;
}
#endif

#ifdef DBGPARSE_AVX2
[[gnu::target("avx2")]] window_marks mark_block_avx2(const unsigned char* p) {
  window_marks marks;
  for (std::size_t i = 0; i < window_size; i += 32) {
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
    const __m256i next_bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 1));
    const __m256i low = _mm256_cmpeq_epi8(_mm256_min_epu8(bytes, _mm256_set1_epi8('\r')), bytes);
    const __m256i zero_then_x =
        _mm256_and_si256(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('0')),
                         _mm256_cmpeq_epi8(next_bytes, _mm256_set1_epi8('x')));
    marks.stops |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(low))} << i;
    marks.starts |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(zero_then_x))}
                    << i;
  }
  return marks;
}

[[gnu::target("avx2")]] void mark_blocks_avx2(const unsigned char* p, std::size_t count,
                                              std::uint64_t* stops, std::uint64_t* starts) {
  for (std::size_t k = 0; k < count; ++k, p += window_size) {
    const window_marks marks = mark_block_avx2(p);
    stops[k] = marks.stops;
    starts[k] = marks.starts;
  }
}

bool has_avx2() {
  static const bool has = [] {
    __builtin_cpu_init();
    return static_cast<bool>(__builtin_cpu_supports("avx2"));
  }();
  return has;
}
#endif

void mark_blocks(const unsigned char* p, std::size_t count, std::uint64_t* stops,
                 std::uint64_t* starts) {
#ifdef DBGPARSE_AVX2
  if (has_avx2()) {
    mark_blocks_avx2(p, count, stops, starts);
    return;
  }
#endif
  for (std::size_t k = 0; k < count; ++k, p += window_size) {
    const window_marks marks = mark_block(p);
    stops[k] = marks.stops;
    starts[k] = marks.starts;
  }
}

}  // namespace

void input_marks::mark_from(std::size_t first) {
  marked_from_ = first;
  marked_end_ = std::min(first + blocks_ahead, markable_end_);
  mark_blocks(input_.data() + first * window_size, marked_end_ - marked_from_, stops_, starts_);
}

}  // namespace dbgparse
