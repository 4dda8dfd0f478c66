// The searches that the conversion, its warnings and the listing share, all
// made of one marking of 64-byte blocks.
#include "dbg_line.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define DBGPARSE_AVX2 1
#include <immintrin.h>
#endif

namespace dbgparse::dbg {
namespace {

// Prefetches one byte in each 64 from `ahead`, those of the blocks marked.
inline void prefetch(const unsigned char* ahead, std::size_t ahead_size, std::size_t block) {
  __builtin_prefetch(ahead + std::min(block * block_size, ahead_size - 1));
}

#ifdef DBGPARSE_AVX2
[[gnu::target("avx2")]] std::uint64_t bits(__m256i matches) {
  return std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(matches))};
}

// The same marks as mark(), 32 bytes at a time.
[[gnu::target("avx2")]] block_marks mark_avx2(const unsigned char* p, unsigned char last_stop) {
  block_marks marks;
  for (std::size_t k = 0; k < block_size; k += 32) {
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + k));
    const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + k + 1));
    const __m256i stops = _mm256_cmpeq_epi8(
        _mm256_min_epu8(bytes, _mm256_set1_epi8(static_cast<char>(last_stop))), bytes);
    const __m256i starts =
        _mm256_and_si256(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(line_start[0])),
                         _mm256_cmpeq_epi8(next, _mm256_set1_epi8(line_start[1])));
    marks.stops |= bits(stops) << k;
    marks.starts |= bits(starts) << k;
  }
  return marks;
}

[[gnu::target("avx2")]] void mark_blocks_avx2(const unsigned char* first,
                                              std::span<block_marks> marks,
                                              const unsigned char* ahead, std::size_t ahead_size,
                                              unsigned char last_stop) {
  for (std::size_t k = 0; k < marks.size(); ++k) {
    prefetch(ahead, ahead_size, k);
    marks[k] = mark_avx2(first + k * block_size, last_stop);
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

}  // namespace

void mark_blocks(const unsigned char* first, std::span<block_marks> marks,
                 const unsigned char* ahead, std::size_t ahead_size, unsigned char last_stop) {
#ifdef DBGPARSE_AVX2
  if (has_avx2()) {
    mark_blocks_avx2(first, marks, ahead, ahead_size, last_stop);
    return;
  }
#endif
  for (std::size_t k = 0; k < marks.size(); ++k) {
    prefetch(ahead, ahead_size, k);
    marks[k] = mark(first + k * block_size, last_stop);
  }
}

std::size_t section_start(std::span<const unsigned char> input) {
  const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
  const std::size_t at = text.find(section_header);
  return at == std::string_view::npos ? input.size() : at + section_header.size();
}

block_marks mark_last_block(std::span<const unsigned char> input, std::size_t at) {
  // The input's last bytes, marked in a copy padded with a byte that is no
  // stop, no "0" and no "x".
  std::array<unsigned char, block_size + 1> last{};
  last.fill(0xFF);
  std::copy(input.begin() + static_cast<std::ptrdiff_t>(at), input.end(), last.begin());
  return mark(last.data());
}

std::size_t line_end(std::span<const unsigned char> input, std::size_t from) {
  for (std::size_t at = from; at < input.size(); at += block_size) {
    for (std::uint64_t stops = mark_block(input, at).stops; stops != 0; stops &= stops - 1) {
      const std::size_t k = at + static_cast<std::size_t>(std::countr_zero(stops));
      if (is_line_end(input[k])) {
        return k;
      }
    }
  }
  return input.size();
}

std::size_t next_line_start(std::span<const unsigned char> input, std::size_t from) {
  for (std::size_t at = from; at < input.size(); at += block_size) {
    if (const std::uint64_t starts = mark_block(input, at).starts; starts != 0) {
      return at + static_cast<std::size_t>(std::countr_zero(starts));
    }
  }
  return input.size();
}

}  // namespace dbgparse::dbg
