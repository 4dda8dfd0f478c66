// The two searches that both the conversion and the listing make.
#include "dbg_line.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "vector_support.h"

namespace dbgparse::dbg {

const unsigned char* first_line_end(const unsigned char* from, const unsigned char* end) {
#ifdef DBGPARSE_SSE2
  for (; end - from >= 16; from += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    const auto found = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_or_si128(
        _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')))));
    if (found != 0) {
      return from + std::countr_zero(found);
    }
  }
#endif
  return std::find_if(from, end, is_line_end);
}

const unsigned char* first_line_start(const unsigned char* from, const unsigned char* end) {
  while (end - from >= 2) {
    const void* zero = std::memchr(from, line_start[0], static_cast<std::size_t>(end - 1 - from));
    if (zero == nullptr) {
      break;
    }
    const auto* at = static_cast<const unsigned char*>(zero);
    if (at[1] == line_start[1]) {
      return at;
    }
    from = at + 1;
  }
  return end;
}

}  // namespace dbgparse::dbg
