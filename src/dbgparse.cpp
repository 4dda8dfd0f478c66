#include "dbgparse.h"
#include "qb_layout.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <string_view>

// SSE2 is part of every x86-64 processor; elsewhere (or when
// DBGPARSE_PORTABLE_SCAN is defined, to test that path) plain loops do the
// same work.
#if !defined(DBGPARSE_PORTABLE_SCAN) && \
    (defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2))
#define DBGPARSE_SSE2 1
#include <emmintrin.h>
// Where the compiler can build a function for AVX2 alone, the marking uses
// it on processors that have it (unless DBGPARSE_NO_AVX2 is defined, to test
// the SSE2 path).
#if !defined(DBGPARSE_NO_AVX2) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define DBGPARSE_AVX2 1
#include <immintrin.h>
#endif
#endif

// The few small helpers of the scan's inner loop are worth inlining even
// where the compiler would not.
#if defined(__GNUC__)
#define DBGPARSE_INLINE [[gnu::always_inline]] inline
#else
#define DBGPARSE_INLINE inline
#endif

namespace dbgparse {
namespace {

// The checksum section starts right after the first occurrence of this line.
constexpr std::string_view section_header{"[Checksums]\r\n"};

// A checksum line: "0x", the value field, one separator byte, the text.
constexpr std::size_t value_field_offset = 2;
constexpr std::size_t value_field_width = 8;
constexpr std::size_t value_field_end = value_field_offset + value_field_width;
constexpr std::size_t text_offset = value_field_end + 1;

using qb::entry_tag;
using qb::head_size;
using qb::marker_size;
using qb::max_text_length;
using qb::value_size;
constexpr std::size_t max_entry_size = head_size + max_text_length;

// Short lines are handled a window of 64 bytes at a time: the window from a
// text's first byte shows where the text ends and where the next checksum
// line starts, and the entry takes a copy of the whole window of which only
// the text's bytes count. The marks that show this are made ahead for a run
// of 64-byte blocks of the input at once, and each window is cut from two of
// them.
constexpr std::size_t window_size = 64;
constexpr std::size_t window_entry_size = head_size + window_size;
constexpr std::size_t blocks_marked_ahead = 64;

constexpr std::size_t min_block_size = 1024;
static_assert(min_block_size >= std::max(max_entry_size, window_entry_size) + marker_size);

using qb::entry_marker;
using qb::first_entry_marker;

// White space as the C library's formatted input skips it.
bool is_scanf_space(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int hex_digit_value(unsigned char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  const unsigned lower = c | 0x20U;
  if (lower >= 'a' && lower <= 'f') {
    return static_cast<int>(lower - 'a') + 10;
  }
  return -1;
}

// Reads the value field the way "%08x" does: white space skipped and not
// counted, then at most 8 positions of optional sign, optional 0x/0X prefix
// and hexadecimal digits. Gives 0 when nothing converts. Never reads at or
// past `end`.
std::uint32_t read_value_field(const unsigned char* p, const unsigned char* end) {
  while (p != end && is_scanf_space(*p)) {
    ++p;
  }
  std::size_t width = value_field_width;
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
    --width;
  }
  // A leading 0 is a digit of its own; an x or X right after it is skipped.
  if (width > 0 && p != end && *p == '0') {
    ++p;
    --width;
    if (width > 0 && p != end && (*p | 0x20U) == 'x') {
      ++p;
      --width;
    }
  }
  std::uint32_t value = 0;
  for (; width > 0 && p != end; ++p, --width) {
    const int digit = hex_digit_value(*p);
    if (digit < 0) {
      break;
    }
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  // A minus negates modulo 2^32, as the unsigned conversion does.
  return negative ? 0U - value : value;
}

#ifndef DBGPARSE_SSE2
// The 8 bytes from `p`, the first one lowest.
DBGPARSE_INLINE std::uint64_t load_little_endian(const unsigned char* p) {
  std::uint64_t word = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&word, p, sizeof word);
  } else {
    for (std::size_t i = sizeof word; i > 0; --i) {
      word = (word << 8) | p[i - 1];
    }
  }
  return word;
}
#endif

#ifdef DBGPARSE_SSE2
__m128i load16(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

std::uint64_t byte_mask(__m128i matches) {
  return static_cast<std::uint32_t>(_mm_movemask_epi8(matches));
}

__m128i line_end_bytes(__m128i bytes) {
  return _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')),
                      _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')));
}
#endif

// The common value field: 8 hexadecimal digits, which "%08x" reads as they
// are. Converts the 8 bytes from `p` at once and returns true when they are
// such digits; returns false, leaving `value` alone, otherwise.
DBGPARSE_INLINE bool read_eight_digits(const unsigned char* p, std::uint32_t& value) {
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
  constexpr std::uint64_t ones = 0x0101010101010101U;
  constexpr std::uint64_t high_bits = ones * 0x80U;
  const std::uint64_t word = load_little_endian(p);
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

// Where, within one window, texts may stop and checksum lines start.
struct window_marks {
  // Bit i: byte i is at most CR (0x0D). CR, LF and the zero byte are among
  // these, and in texts the others (tab and rarer control bytes) are seldom.
  std::uint64_t stops = 0;
  std::uint64_t starts = 0;  // bit i: "0x" starts at byte i
};

// Marks the window_size bytes from `p`, reading one byte more to see whether
// an "x" follows the last one.
DBGPARSE_INLINE window_marks mark_window(const unsigned char* p) {
  std::uint64_t stops = 0;
  std::uint64_t starts = 0;
#ifdef DBGPARSE_SSE2
  for (std::size_t i = 0; i < window_size; i += 16) {
    const __m128i bytes = load16(p + i);
    const __m128i next_bytes = load16(p + i + 1);
    const __m128i low = _mm_cmpeq_epi8(_mm_min_epu8(bytes, _mm_set1_epi8('\r')), bytes);
    const __m128i zero_then_x = _mm_and_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('0')),
                                              _mm_cmpeq_epi8(next_bytes, _mm_set1_epi8('x')));
    stops |= byte_mask(low) << i;
    starts |= byte_mask(zero_then_x) << i;
  }
#else
  for (std::size_t i = 0; i < window_size; ++i) {
    stops |= static_cast<std::uint64_t>(p[i] <= '\r') << i;
    starts |= static_cast<std::uint64_t>(p[i] == '0' && p[i + 1] == 'x') << i;
  }
#endif
  return {stops, starts};
}

// Marks of consecutive 64-byte blocks of the input.
struct block_marks {
  std::uint64_t stops[blocks_marked_ahead];
  std::uint64_t starts[blocks_marked_ahead];
};

// Marks `count` blocks (at most blocks_marked_ahead) from the one at index
// `first` of the input. Meanwhile, asks for the input bytes that the next
// call will mark to be brought into the cache.
void mark_blocks(std::span<const unsigned char> input, std::size_t first, std::size_t count,
                 block_marks& marks) {
  for (std::size_t k = 0; k < count; ++k) {
    const std::size_t at = first + k * window_size;
#ifdef DBGPARSE_SSE2
    const std::size_t ahead = at + blocks_marked_ahead * window_size;
    if (ahead < input.size()) {
      _mm_prefetch(reinterpret_cast<const char*>(input.data() + ahead), _MM_HINT_T0);
    }
#endif
    const window_marks window = mark_window(input.data() + at);
    marks.stops[k] = window.stops;
    marks.starts[k] = window.starts;
  }
}

#ifdef DBGPARSE_AVX2
// The same with 32 bytes at a time.
[[gnu::target("avx2")]] void mark_blocks_avx2(std::span<const unsigned char> input,
                                              std::size_t first, std::size_t count,
                                              block_marks& marks) {
  const __m256i last_stop = _mm256_set1_epi8('\r');
  const __m256i zero = _mm256_set1_epi8('0');
  const __m256i x = _mm256_set1_epi8('x');
  for (std::size_t k = 0; k < count; ++k) {
    const std::size_t at = first + k * window_size;
    const std::size_t ahead = at + blocks_marked_ahead * window_size;
    if (ahead < input.size()) {
      _mm_prefetch(reinterpret_cast<const char*>(input.data() + ahead), _MM_HINT_T0);
    }
    std::uint64_t stops = 0;
    std::uint64_t starts = 0;
    for (std::size_t i = 0; i < window_size; i += 32) {
      const unsigned char* p = input.data() + at + i;
      const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
      const __m256i next_bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
      const __m256i low = _mm256_cmpeq_epi8(_mm256_min_epu8(bytes, last_stop), bytes);
      const __m256i zero_then_x =
          _mm256_and_si256(_mm256_cmpeq_epi8(bytes, zero), _mm256_cmpeq_epi8(next_bytes, x));
      stops |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(low))} << i;
      starts |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(zero_then_x))} << i;
    }
    marks.stops[k] = stops;
    marks.starts[k] = starts;
  }
}
#endif

// The 64 marks from bit `shift` of `low` on, followed by those of `high`.
DBGPARSE_INLINE std::uint64_t marks_from(std::uint64_t low, std::uint64_t high, std::size_t shift) {
  return (low >> shift) | (high << 1 << (63 - shift));
}

// The first CR or LF in [from, end), or `end`.
const unsigned char* first_line_end(const unsigned char* from, const unsigned char* end) {
#ifdef DBGPARSE_SSE2
  for (; end - from >= 16; from += 16) {
    const std::uint64_t found = byte_mask(line_end_bytes(load16(from)));
    if (found != 0) {
      return from + std::countr_zero(found);
    }
  }
#endif
  return std::find_if(from, end, [](unsigned char c) { return c == '\r' || c == '\n'; });
}

// Index of the first "0x" that starts at or after `from`, or the input's size.
std::size_t find_checksum_line(std::span<const unsigned char> input, std::size_t from) {
  const std::size_t size = input.size();
  while (size >= 2 && from < size - 1) {
    const void* zero = std::memchr(input.data() + from, '0', size - 1 - from);
    if (zero == nullptr) {
      break;
    }
    const auto at =
        static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - input.data());
    if (input[at + 1] == 'x') {
      return at;
    }
    from = at + 1;
  }
  return size;
}

// Index just past the first section header, or the input's size.
std::size_t find_section_start(std::span<const unsigned char> input) {
  const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
  const std::size_t at = text.find(section_header);
  return at == std::string_view::npos ? input.size() : at + section_header.size();
}

// Remembers the last line end found, so that the many checksum lines that can
// start inside one long text do not search the same bytes again and again.
struct line_end_memo {
  std::size_t searched_from = 0;
  std::size_t line_end = 0;
  bool known = false;
};

// Index of the first CR or LF at or after `from`, or the input's size.
std::size_t next_line_end(std::span<const unsigned char> input, std::size_t from,
                          line_end_memo& memo) {
  if (!memo.known || from < memo.searched_from || from > memo.line_end) {
    const unsigned char* begin = input.data();
    memo.line_end =
        static_cast<std::size_t>(first_line_end(begin + from, begin + input.size()) - begin);
    memo.searched_from = from;
    memo.known = true;
  }
  return memo.line_end;
}

// Copies `length` bytes of a text (at most max_text_length); from its first
// zero byte on, the copy holds zero bytes only. `out` may overlap the text
// provided it does not start after it. Returns the end of the copy.
unsigned char* copy_text(const unsigned char* text, std::size_t length, unsigned char* out) {
  const void* zero = std::memchr(text, 0, length);
  const std::size_t before_zero =
      zero == nullptr ? length
                      : static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - text);
  std::memmove(out, text, before_zero);
  std::memset(out + before_zero, 0, length - before_zero);
  return out + length;
}

// Writes an entry's marker and value; returns where its text goes.
DBGPARSE_INLINE unsigned char* put_head(unsigned char* out, unsigned char marker,
                                        std::uint32_t value) {
  out[0] = marker;
  out[1] = entry_tag;
  for (std::size_t i = 0; i < value_size; ++i) {
    out[marker_size + i] = static_cast<unsigned char>(value >> (8 * i));
  }
  return out + head_size;
}

// Where the next bytes of the table go. The scan keeps it in variables of its
// own, so that the compiler can hold it in registers (bytes written through
// an unsigned char pointer could otherwise alias a writer's members), and
// asks the writer for more room only when it runs out.
struct out_cursor {
  unsigned char* at = nullptr;  // the next byte's place; null to stop
  // The room ends here. Null when `at` lies in the input's own buffer: the
  // room then ends at the first input byte still to be read.
  unsigned char* end = nullptr;
};

// True when `count` bytes fit at the cursor. Input bytes from `keep_from` on
// are still to be read and must stay as they are.
DBGPARSE_INLINE bool fits(const out_cursor& cursor, std::size_t count,
                          const unsigned char* keep_from) {
  const unsigned char* room_end = cursor.end == nullptr ? keep_from : cursor.end;
  return static_cast<std::size_t>(room_end - cursor.at) >= count;
}

// Gathers the table in a fixed block and hands full blocks to the sink.
class block_writer {
 public:
  block_writer(const table_sink& sink, std::size_t block_size)
      : sink_(sink), block_(std::max(block_size, min_block_size)) {}

  [[nodiscard]] out_cursor start() { return {block_.data(), block_.data() + block_.size()}; }

  // Room for at least min_block_size bytes, after handing the full block to
  // the sink; a null cursor when the sink refused it.
  [[nodiscard]] out_cursor refill(out_cursor cursor, std::size_t /*count*/,
                                  std::size_t /*keep_from*/) {
    return flush(cursor) ? start() : out_cursor{};
  }

  // Hands what is left to the sink.
  [[nodiscard]] bool flush(out_cursor cursor) {
    const auto used = static_cast<std::size_t>(cursor.at - block_.data());
    return used == 0 || sink_(std::span<const unsigned char>(block_.data(), used));
  }

 private:
  const table_sink& sink_;
  std::vector<unsigned char> block_;
};

// Builds the table over the start of its own input: an entry is never longer
// than the line it comes from plus the 11 bytes of "0x", value field and
// separator, so the table mostly stays behind the bytes still to be read.
// Where it would catch up with them (the first short lines, lines inside
// texts), entries wait on the side until there is room again. The side is a
// list of pieces rather than one growing buffer: a table many times longer
// than its input (lines inside texts repeat the texts' tails) is then
// written once on the side and copied once into place, with no regrowing.
class in_place_writer {
 public:
  explicit in_place_writer(unsigned char* base) : base_(base) {}

  [[nodiscard]] out_cursor start() const { return {base_, nullptr}; }

  [[nodiscard]] out_cursor refill(out_cursor cursor, std::size_t count, std::size_t keep_from) {
    take(cursor);
    if (waiting_ != 0 && out_ + waiting_ + count <= keep_from) {
      move_side_into_place();
    }
    if (waiting_ == 0 && out_ + count <= keep_from) {
      return {base_ + out_, nullptr};
    }
    if (side_.empty() || side_.back().size - side_.back().used < count) {
      const std::size_t size = std::max(side_.empty() ? first_piece_size : piece_size, count);
      side_.push_back({std::make_unique_for_overwrite<unsigned char[]>(size), size, 0});
    }
    piece& last = side_.back();
    return {last.bytes.get() + last.used, last.bytes.get() + last.size};
  }

  // Puts the whole table at the start of `buffer` (whose data is the base),
  // growing it when the table is longer. Returns the table's length.
  std::size_t finish(out_cursor cursor, std::vector<unsigned char>& buffer) {
    take(cursor);
    const std::size_t length = out_ + waiting_;
    if (length <= buffer.size()) {
      move_side_into_place();
    } else {
      std::vector<unsigned char> table;
      table.reserve(length);
      table.insert(table.end(), base_, base_ + out_);
      for (piece& waiting : side_) {
        table.insert(table.end(), waiting.bytes.get(), waiting.bytes.get() + waiting.used);
        waiting.bytes.reset();  // returns the memory as early as possible
      }
      buffer.swap(table);
    }
    return length;
  }

 private:
  static constexpr std::size_t first_piece_size = std::size_t{64} << 10;
  static constexpr std::size_t piece_size = std::size_t{64} << 20;

  struct piece {
    std::unique_ptr<unsigned char[]> bytes;
    std::size_t size;
    std::size_t used;
  };

  // Takes note of how far the cursor got.
  void take(out_cursor cursor) {
    if (cursor.end == nullptr) {
      out_ = static_cast<std::size_t>(cursor.at - base_);
    } else {
      piece& last = side_.back();
      const auto used = static_cast<std::size_t>(cursor.at - last.bytes.get());
      waiting_ += used - last.used;
      last.used = used;
    }
  }

  // Appends the waiting bytes to those in place; the caller has made sure
  // that they do not reach input bytes still to be read.
  void move_side_into_place() {
    for (const piece& waiting : side_) {
      std::memcpy(base_ + out_, waiting.bytes.get(), waiting.used);
      out_ += waiting.used;
    }
    side_.clear();
    waiting_ = 0;
  }

  unsigned char* base_;
  std::size_t out_ = 0;      // table bytes in place
  std::vector<piece> side_;  // table bytes to follow them, in order
  std::size_t waiting_ = 0;  // their count
};

// The scan itself, writing through `out` (one of the writers above). Returns
// the cursor past the table, null when the writer asked to stop.
template <class writer>
out_cursor convert(std::span<const unsigned char> input, writer& out) {
  const unsigned char* const data = input.data();
  const std::size_t size = input.size();
  out_cursor cursor = out.start();
  line_end_memo memo;
  // Blocks [marked_from, marked_end) are marked; those before markable_end
  // can be (they and the byte after them lie within the input).
  block_marks marks;
  std::size_t marked_from = 0;
  std::size_t marked_end = 0;
  const std::size_t markable_end = size > window_size ? (size - 1) / window_size : 0;
#ifdef DBGPARSE_AVX2
  const bool has_avx2 = __builtin_cpu_supports("avx2") != 0;
#endif
  unsigned char marker = first_entry_marker;

  std::size_t line = find_checksum_line(input, find_section_start(input));
  while (line < size) {
    // The text starts 9 bytes after "0x", however many of them the value used.
    const std::size_t text = line + text_offset;

    // Fast way: the text ends within the window from its first byte, at a CR
    // or LF, with no zero byte (nor any other byte below CR) before it.
    const std::size_t block = text / window_size;
    if (block + 1 >= marked_end && block + 1 < markable_end) {
      marked_from = block;
      marked_end = std::min(block + blocks_marked_ahead, markable_end);
#ifdef DBGPARSE_AVX2
      if (has_avx2) {
        mark_blocks_avx2(input, block * window_size, marked_end - marked_from, marks);
      } else {
        mark_blocks(input, block * window_size, marked_end - marked_from, marks);
      }
#else
      mark_blocks(input, block * window_size, marked_end - marked_from, marks);
#endif
    }
    if (block + 1 < marked_end) {
      const std::size_t k = block - marked_from;
      const std::size_t shift = text % window_size;
      const std::uint64_t stops = marks_from(marks.stops[k], marks.stops[k + 1], shift);
      const auto length = static_cast<std::size_t>(std::countr_zero(stops));
      if (length > 0 && length < window_size &&
          (data[text + length] == '\r' || data[text + length] == '\n')) {
        // The value field lies within the input here, and is read before
        // the entry is written (over it, when in place).
        std::uint32_t value = 0;
        if (!read_eight_digits(data + line + value_field_offset, value)) {
          value = read_value_field(data + line + value_field_offset, data + size);
        }
        if (!fits(cursor, window_entry_size, data + text)) {
          cursor = out.refill(cursor, window_entry_size, text);
          if (cursor.at == nullptr) {
            return cursor;
          }
        }
        unsigned char* const text_copy = put_head(cursor.at, marker, value);
        std::memcpy(text_copy, data + text, window_size);
        cursor.at = text_copy + length;
        marker = entry_marker;
        // Scanning goes on from the text's second byte.
        const std::uint64_t later_starts =
            marks_from(marks.starts[k], marks.starts[k + 1], shift) & ~std::uint64_t{1};
        line = later_starts != 0 ? text + static_cast<std::size_t>(std::countr_zero(later_starts))
                                 : find_checksum_line(input, text + window_size);
        continue;
      }
    }

    std::uint32_t value = 0;
    if (size - line < value_field_end ||
        !read_eight_digits(data + line + value_field_offset, value)) {
      value = read_value_field(data + line + value_field_offset, data + size);
    }
    const std::size_t text_end = text < size ? next_line_end(input, text, memo) : size;
    if (text_end == size || text_end == text) {
      // No text, or no line end after it: the entry stays without text and
      // nothing after it is converted.
      if (!fits(cursor, head_size, data + size)) {
        cursor = out.refill(cursor, head_size, size);
        if (cursor.at == nullptr) {
          return cursor;
        }
      }
      cursor.at = put_head(cursor.at, marker, value);
      break;
    }
    const std::size_t kept = std::min(text_end - text, max_text_length);
    if (!fits(cursor, head_size + kept, data + text + 1)) {
      cursor = out.refill(cursor, head_size + kept, text + 1);
      if (cursor.at == nullptr) {
        return cursor;
      }
    }
    cursor.at = copy_text(data + text, kept, put_head(cursor.at, marker, value));
    marker = entry_marker;
    // Scanning goes on from the text's second byte, so a checksum line
    // inside a text becomes an entry of its own.
    line = find_checksum_line(input, text + 1);
  }

  if (!fits(cursor, marker_size, data + size)) {
    cursor = out.refill(cursor, marker_size, size);
    if (cursor.at == nullptr) {
      return cursor;
    }
  }
  cursor.at = std::copy(qb::end_marker.begin(), qb::end_marker.end(), cursor.at);
  return cursor;
}

}  // namespace

std::size_t find_end(const unsigned char* start, std::int64_t n) {
  if (n <= 0) {
    return 0;
  }
  const unsigned char* end = start + n;
  const unsigned char* found = first_line_end(start, end);
  return found == end ? 0 : static_cast<std::size_t>(found - start);
}

bool write_table(std::span<const unsigned char> input, const table_sink& sink,
                 std::size_t block_size) {
  block_writer out(sink, block_size);
  const out_cursor end = convert(input, out);
  return end.at != nullptr && out.flush(end);
}

std::size_t parse_qb(std::vector<unsigned char>& buffer, std::size_t length) {
  const std::span<const unsigned char> input(buffer.data(), std::min(length, buffer.size()));
  in_place_writer out(buffer.data());
  return out.finish(convert(input, out), buffer);
}

}  // namespace dbgparse
