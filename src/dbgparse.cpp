#include "dbgparse.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace dbgparse {
namespace {

// The checksum section starts right after the first occurrence of this line.
constexpr std::string_view section_header{"[Checksums]\r\n"};

// A checksum line: "0x", the value field, one separator byte, the text.
constexpr std::size_t value_field_offset = 2;
constexpr std::size_t value_field_width = 8;
constexpr std::size_t text_offset = value_field_offset + value_field_width + 1;

constexpr std::size_t marker_size = 2;
constexpr std::size_t value_size = 4;
constexpr std::size_t max_entry_size = marker_size + value_size + max_text_length;
constexpr std::size_t min_block_size = 1024;
static_assert(min_block_size >= max_entry_size + marker_size);

constexpr unsigned char entry_tag = 0x2B;

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

const unsigned char* first_line_end(const unsigned char* from, const unsigned char* end) {
  return std::find_if(from, end, [](unsigned char c) { return c == '\r' || c == '\n'; });
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

// Copies at most max_text_length bytes of a text; from its first zero byte on,
// the copy holds zero bytes only. Returns the number of bytes written.
std::size_t copy_text(const unsigned char* text, std::size_t length, unsigned char* out) {
  const std::size_t kept = std::min(length, max_text_length);
  const void* zero = std::memchr(text, 0, kept);
  const std::size_t before_zero =
      zero == nullptr ? kept
                      : static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - text);
  std::memcpy(out, text, before_zero);
  std::memset(out + before_zero, 0, kept - before_zero);
  return kept;
}

unsigned char* put_value(unsigned char* out, std::uint32_t value) {
  for (std::size_t i = 0; i < value_size; ++i) {
    *out++ = static_cast<unsigned char>(value >> (8 * i));
  }
  return out;
}

// Gathers the table in a fixed block and hands full blocks to the sink.
class block_writer {
 public:
  block_writer(const table_sink& sink, std::size_t block_size)
      : sink_(sink), block_(std::max(block_size, min_block_size)) {}

  // Room for `count` more bytes (at most min_block_size); false when the
  // sink refused the block that had to be handed over first.
  [[nodiscard]] bool make_room(std::size_t count) {
    return block_.size() - used_ >= count || flush();
  }
  [[nodiscard]] unsigned char* cursor() { return block_.data() + used_; }
  void advance_to(const unsigned char* end) {
    used_ = static_cast<std::size_t>(end - block_.data());
  }

  [[nodiscard]] bool flush() {
    const bool accepted = used_ == 0 || sink_(std::span<const unsigned char>(block_.data(), used_));
    used_ = 0;
    return accepted;
  }

 private:
  const table_sink& sink_;
  std::vector<unsigned char> block_;
  std::size_t used_ = 0;
};

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
  const std::size_t size = input.size();
  line_end_memo memo;
  bool first_entry = true;

  std::size_t line = find_checksum_line(input, find_section_start(input));
  while (line < size) {
    if (!out.make_room(max_entry_size)) {
      return false;
    }
    unsigned char* entry = out.cursor();
    *entry++ = first_entry ? 0x01 : 0x00;
    *entry++ = entry_tag;
    first_entry = false;
    entry = put_value(
        entry, read_value_field(input.data() + line + value_field_offset, input.data() + size));

    // The text starts 9 bytes after "0x", however many of them the value used.
    const std::size_t text = line + text_offset;
    const std::size_t text_end = text < size ? next_line_end(input, text, memo) : size;
    if (text_end == size || text_end == text) {
      // No text, or no line end after it: the entry stays without text and
      // nothing after it is converted.
      out.advance_to(entry);
      break;
    }
    entry += copy_text(input.data() + text, text_end - text, entry);
    out.advance_to(entry);
    // Scanning goes on from the text's second byte, so a checksum line
    // inside a text becomes an entry of its own.
    line = find_checksum_line(input, text + 1);
  }

  if (!out.make_room(marker_size)) {
    return false;
  }
  unsigned char* end_marker = out.cursor();
  end_marker[0] = 0x00;
  end_marker[1] = 0x00;
  out.advance_to(end_marker + marker_size);
  return out.flush();
}

std::size_t parse_qb(std::vector<unsigned char>& buffer, std::size_t length) {
  const std::span<const unsigned char> input(buffer.data(), std::min(length, buffer.size()));
  std::vector<unsigned char> table;
  // Tables are rarely longer than their input; reserving that much (pages
  // are only touched when written) avoids regrowing in the common case.
  table.reserve(input.size() + marker_size);
  write_table(
      input,
      [&table](std::span<const unsigned char> piece) {
        table.insert(table.end(), piece.begin(), piece.end());
        return true;
      },
      std::clamp(input.size() + marker_size, min_block_size, std::size_t{256} << 10));

  const std::size_t table_length = table.size();
  if (table_length > buffer.size()) {
    buffer.swap(table);
  } else {
    std::copy(table.begin(), table.end(), buffer.begin());
  }
  return table_length;
}

}  // namespace dbgparse
