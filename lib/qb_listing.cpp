#include "qb_listing.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <string_view>
#include <utility>
#include <vector>

#include "conversion.h"
#include "dbg_line.h"
#include "qb_layout.h"
#include "value_field.h"

namespace dbgparse::qb {
namespace {

using bytes = std::vector<unsigned char>;

using dbg::section_header;
// How the listing ends and separates its lines' parts.
constexpr std::string_view line_end = "\r\n";
constexpr unsigned char separator = ' ';
constexpr std::size_t block_size = std::size_t{1} << 20;
constexpr std::size_t short_name = 32;
// A name cut to 255 bytes is given back at most this many bytes of the line
// it came from, and a group of lines grows at most this much past that by
// lines that inner entries read into, so that each entry costs a bounded
// number of conversions of bounded size.
constexpr std::size_t longest_restored_line = std::size_t{16} << 10;
constexpr std::size_t most_continued = 1024;
// A line after a group, to see whether the group's last inner entry reads on
// into whatever follows it.
constexpr std::string_view probe_line = "0x12345678 q\r\n";
constexpr std::uint32_t probe_value = 0x12345678;

void append(bytes& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }

// The name followed by its padding, as a line holds it.
bytes text_of(const entry& item) {
  bytes text(item.name.begin(), item.name.end());
  text.resize(text.size() + item.padding, 0);
  return text;
}

std::size_t text_size(const entry& item) { return item.name.size() + item.padding; }

// "0x", the value in 8 lower-case digits and the separator.
std::array<unsigned char, dbg::head_size> line_head(std::uint32_t value) {
  constexpr std::string_view digits = "0123456789abcdef";
  std::array<unsigned char, dbg::head_size> head{};
  std::copy(dbg::line_start.begin(), dbg::line_start.end(), head.begin());
  for (std::size_t k = 0; k < dbg::value_field_width; ++k) {
    const std::size_t shift = 4 * (dbg::value_field_width - 1 - k);
    head[dbg::value_field_offset + k] = static_cast<unsigned char>(digits[(value >> shift) & 0xFU]);
  }
  head[dbg::separator_offset] = separator;
  return head;
}

std::size_t line_size(const entry& item) {
  return dbg::head_size + item.name.size() + item.padding + line_end.size();
}

// Writes the entry's line at `out`, which has room for line_size(item) bytes.
unsigned char* put_line(unsigned char* out, const entry& item) {
  const std::array<unsigned char, dbg::head_size> head = line_head(item.value);
  out = std::copy(head.begin(), head.end(), out);
  out = std::copy(item.name.begin(), item.name.end(), out);
  out = std::fill_n(out, item.padding, 0);
  return std::copy(line_end.begin(), line_end.end(), out);
}

void append_line(bytes& out, const entry& item) {
  const std::size_t at = out.size();
  out.resize(at + line_size(item));
  put_line(out.data() + at, item);
}

bool holds_line_end(std::span<const unsigned char> text) {
  return dbg::line_end(text, 0) != text.size();
}

// Where the next "0x" at or after `from` starts; the size when there is none.
std::size_t find_inner_marker(std::span<const unsigned char> text, std::size_t from) {
  return dbg::next_line_start(text, from);
}

// A "0x" from the name's second byte on starts an inner entry; one at its
// very start does not, as the conversion goes on from the second byte.
bool holds_inner_marker(std::span<const unsigned char> name) {
  return find_inner_marker(name, 1) != name.size();
}

// A line that makes its entry alone, whatever surrounds it: a name that is
// not empty, fits, has no line end and no "0x" from its second byte on.
bool is_plain(const entry& item) {
  return !item.name.empty() && text_size(item) <= max_text_length && !holds_line_end(item.name) &&
         !holds_inner_marker(item.name);
}

bool same_entry(const entry& a, const entry& b) {
  return a.value == b.value && a.padding == b.padding && std::ranges::equal(a.name, b.name);
}

// What dbgparse makes of listing lines, read back.
struct conversion {
  bytes table;
  std::vector<entry> entries;
};

conversion convert_lines(std::span<const unsigned char> lines, std::string_view after = {}) {
  conversion made;
  made.table.resize(section_header.size() + lines.size() + after.size());
  auto end = std::copy(section_header.begin(), section_header.end(), made.table.begin());
  end = std::copy(lines.begin(), lines.end(), end);
  std::copy(after.begin(), after.end(), end);
  made.table.resize(dbgparse::parse_qb(made.table, made.table.size()));
  table_reader reader(made.table);
  while (const std::optional<entry> item = reader.next()) {
    made.entries.push_back(*item);
  }
  return made;
}

// True when what follows the lines cannot change the entries they make.
bool is_closed(std::span<const unsigned char> lines, const conversion& made) {
  const conversion probed = convert_lines(lines, probe_line);
  if (probed.entries.size() != made.entries.size() + 1) {
    return false;
  }
  const entry& last = probed.entries.back();
  return std::equal(made.entries.begin(), made.entries.end(), probed.entries.begin(), same_entry) &&
         last.value == probe_value && last.padding == 0 && last.name.size() == 1 &&
         last.name[0] == 'q';
}

// The most name bytes an inner entry's "0x" can have after it on its line
// and still read its name from the next line: its value field and separator
// then cover them, the line end and the next line's first bytes.
constexpr std::size_t longest_tail = dbg::head_size - dbg::line_start.size() - line_end.size();

// A line whose own entry is never made: the inner entry of the line before,
// whose "0x" has `tail` name bytes after it, reads its value field and its
// name from this line. The name's start overlaps the line's digits, so those
// digits are the name's; the rest carry the value when the tail lets it
// through. Nothing when the name does not fit a line's shape.
std::optional<bytes> line_for_inner_entry(const entry& target, std::size_t tail) {
  const bytes text = text_of(target);
  const std::size_t name_start = longest_tail - tail;  // in the line
  const std::size_t overlap = dbg::head_size - name_start;
  if (text.size() < overlap) {
    return std::nullopt;
  }
  bytes line;
  append_line(line, entry{0, target.value << 8U, {}, 0});
  line.resize(dbg::head_size);
  std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(overlap),
            line.begin() + static_cast<std::ptrdiff_t>(name_start));
  const auto is_digit = [](unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
  };
  const auto field = line.begin() + dbg::value_field_offset;
  if (!std::equal(dbg::line_start.begin(), dbg::line_start.end(), line.begin()) ||
      !std::all_of(field, field + dbg::value_field_width, is_digit) ||
      line[dbg::separator_offset] != separator) {
    return std::nullopt;
  }
  line.insert(line.end(), text.begin() + static_cast<std::ptrdiff_t>(overlap), text.end());
  append(line, line_end);
  return line;
}

class listing_writer {
 public:
  listing_writer(std::span<const unsigned char> table, const byte_sink& sink,
                 const warning_sink& warn)
      : reader_(table),
        table_end_(table.data() + table.size()),
        sink_(sink),
        warn_(warn),
        // A small table's listing needs no full block: every line is at most
        // 7 bytes longer than its entry (plus slack for a group or a copy).
        block_(std::min(block_size, 2 * table.size() + 1024)) {}

  listing_outcome run() {
    // A file that is no table at all gets no listing, not even the header.
    if (has(0) || !reader_.fault()) {
      put(std::span(reinterpret_cast<const unsigned char*>(section_header.data()),
                    section_header.size()),
          0);
    }
    while (outcome_.written) {
      if (ahead_.empty()) {
        std::optional<entry> item = reader_.next();
        if (!item) {
          break;
        }
        ++outcome_.entries;
        if (is_plain(*item)) {
          put_plain(*item);
          continue;
        }
        ahead_.push_back(*item);
      }
      list_next();
    }
    flush();
    outcome_.fault = reader_.fault();
    return outcome_;
  }

 private:
  struct group {
    bytes lines;
    std::size_t entries = 0;
  };

  // True when the table has an entry `k` places ahead; reads up to it.
  bool has(std::size_t k) {
    while (ahead_.size() <= k) {
      std::optional<entry> item = reader_.next();
      if (!item) {
        return false;
      }
      ahead_.push_back(*item);
      ++outcome_.entries;
    }
    return true;
  }

  void list_next() {
    const entry& item = ahead_.front();
    if (holds_line_end(item.name)) {
      return leave_out("its name holds a CR or LF byte, which would end its line");
    }
    if (text_size(item) > max_text_length) {
      return leave_out("its name with its zero padding is longer than 255 bytes");
    }
    if (text_size(item) == 0 && has(1)) {
      return leave_out("its name is empty, which ends a conversion, but entries follow it");
    }
    if (!holds_inner_marker(item.name)) {
      put_plain(item);
      ahead_.pop_front();
      return;
    }
    if (std::optional<group> lines = plan_group()) {
      return put(lines->lines, lines->entries);
    }
    leave_out("its name holds 0x, and no line makes it together with the entries that follow it");
  }

  void leave_out(const char* reason) {
    const entry& item = ahead_.front();
    warn_(listing_warning{outcome_.entries - ahead_.size() + 1, item.offset, reason});
    ++outcome_.left_out;
    ahead_.pop_front();
  }

  // The common line, written straight into the block. A short name is
  // copied as a fixed 32 bytes where the table and the block have them, and
  // the block's end moves by the name's length only.
  void put_plain(const entry& item) {
    if (block_.size() - used_ < line_size(item) + short_name) {
      flush();
    }
    unsigned char* out = block_.data() + used_;
    if (item.name.size() <= short_name && item.padding == 0 &&
        static_cast<std::size_t>(table_end_ - item.name.data()) >= short_name) {
      const std::array<unsigned char, dbg::head_size> head = line_head(item.value);
      std::memcpy(out, head.data(), head.size());
      std::memcpy(out + head.size(), item.name.data(), short_name);
      out += head.size() + item.name.size();
      out = std::copy(line_end.begin(), line_end.end(), out);
    } else {
      out = put_line(out, item);
    }
    used_ = static_cast<std::size_t>(out - block_.data());
  }

  void put(std::span<const unsigned char> lines, std::size_t entries) {
    if (block_.size() - used_ < lines.size()) {
      flush();
    }
    if (lines.size() > block_.size()) {
      outcome_.written = outcome_.written && sink_(lines);
    } else {
      used_ = static_cast<std::size_t>(
          std::copy(lines.begin(), lines.end(), block_.data() + used_) - block_.data());
    }
    ahead_.erase(ahead_.begin(), ahead_.begin() + static_cast<std::ptrdiff_t>(entries));
  }

  void flush() {
    if (outcome_.written && used_ > 0) {
      outcome_.written = sink_(std::span<const unsigned char>(block_.data(), used_));
    }
    used_ = 0;
  }

  // How many of the made entries, from the first, are the table's next ones.
  std::size_t matching(const conversion& made) {
    std::size_t k = 0;
    while (k < made.entries.size() && has(k) && same_entry(made.entries[k], ahead_[k])) {
      ++k;
    }
    return k;
  }

  // Lines for the first entry ahead, whose name holds "0x", and the entries
  // their conversion makes after it; each step is checked by converting.
  std::optional<group> plan_group() {
    group planned;
    append_line(planned.lines, ahead_.front());
    if (text_size(ahead_.front()) == max_text_length) {
      restore_cut_line(planned.lines, dbg::head_size + 1, 1);
    } else if (first_inner_entry_differs(planned.lines)) {
      return std::nullopt;
    }
    const std::size_t longest_group = planned.lines.size() + most_continued;
    while (planned.lines.size() <= longest_group) {
      const conversion made = convert_lines(planned.lines);
      const std::size_t matched = matching(made);
      // Nothing after these entries: the lines may end the listing.
      const bool table_ends = !has(matched);
      // Converting with a probe line after them costs as much again, so it
      // is done only where the answer counts, and once.
      std::optional<bool> closed;
      const auto is_closed_now = [&] {
        if (!closed) {
          closed = is_closed(planned.lines, made);
        }
        return *closed;
      };
      if (matched == made.entries.size() && (table_ends || is_closed_now())) {
        planned.entries = matched;
        return planned;
      }
      if (matched + 1 < made.entries.size() || is_closed_now() ||
          !continue_into_next_line(planned.lines, made.entries.size() - 1)) {
        return std::nullopt;
      }
    }
    return std::nullopt;
  }

  // True when the conversion of `line`, the first entry's own, surely makes
  // at least three entries of which the second is not the table's next: no
  // group can start with the line then. Decided from the line's bytes with
  // the conversion's own rules, without converting: the line makes its own
  // entry; its first inner "0x" makes the next, whose text ends at the line's
  // end when it starts before it; any later "0x" makes a third.
  bool first_inner_entry_differs(std::span<const unsigned char> line) {
    const std::size_t text_end = line.size() - line_end.size();
    const std::size_t at = find_inner_marker(line, dbg::head_size + 1);
    const std::size_t text = at + dbg::head_size;
    if (at == line.size() || text >= text_end || find_inner_marker(line, text + 1) == line.size()) {
      return false;
    }
    if (!has(1)) {
      return true;
    }
    // The table holds the text up to its first zero byte as the name and
    // zero bytes for the rest.
    const auto made_text = line.begin() + static_cast<std::ptrdiff_t>(text);
    const auto made_text_end = line.begin() + static_cast<std::ptrdiff_t>(text_end);
    const auto made_name_end = std::find(made_text, made_text_end, 0);
    const entry& next = ahead_[1];
    return read_value_field(line, at + dbg::value_field_offset).value != next.value ||
           text_end - text != text_size(next) ||
           !std::equal(made_text, made_name_end, next.name.begin(), next.name.end());
  }

  // A name cut to 255 bytes came from a longer line, whose inner entries
  // follow it in the table with their own names cut later: rebuilds the line
  // from them. The conversion looks for the first of them from `from` (the
  // name's second byte) and for each later one from that inner name's second
  // byte; the first is the table's entry
  // `first` places ahead.
  void restore_cut_line(bytes& line, std::size_t from, std::size_t first) {
    line.resize(line.size() - line_end.size());
    for (std::size_t k = first; line.size() <= longest_restored_line && has(k); ++k) {
      const std::size_t at = find_inner_marker(line, from);
      const std::size_t name_at = at + dbg::head_size;
      if (at == line.size() || (name_at > line.size() && !restore_value_field(line, at, k))) {
        break;
      }
      const bytes want = text_of(ahead_[k]);
      const std::size_t have = line.size() - name_at;
      if (have < want.size()) {
        if (!std::equal(line.begin() + static_cast<std::ptrdiff_t>(name_at), line.end(),
                        want.begin())) {
          break;
        }
        line.insert(line.end(), want.begin() + static_cast<std::ptrdiff_t>(have), want.end());
      }
      from = name_at + 1;
    }
    append(line, line_end);
  }

  // The cut fell inside the value field of the inner entry `k` at `at`:
  // completes it as "%08x" and a space would have written it, in either case.
  bool restore_value_field(bytes& line, std::size_t at, std::size_t k) {
    for (const bool upper : {false, true}) {
      bytes field;
      append_line(field, entry{0, ahead_[k].value, {}, 0});
      if (upper) {
        std::transform(field.begin(), field.end(), field.begin(),
                       [](unsigned char c) { return c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c; });
      }
      field.resize(dbg::head_size);
      const auto have = static_cast<std::ptrdiff_t>(line.size() - at);
      if (std::equal(line.begin() + static_cast<std::ptrdiff_t>(at), line.end(), field.begin())) {
        line.insert(line.end(), field.begin() + have, field.end());
        return true;
      }
    }
    return false;
  }

  // The inner entry `open` reads on past the lines' end: tries the lines that
  // could follow, the next entry's own or one shaped for the inner entry.
  bool continue_into_next_line(bytes& lines, std::size_t open) {
    if (!has(open)) {
      return false;
    }
    std::vector<bytes> candidates(1);
    // A line whose first digits carry the value, for an entry without name.
    append_line(candidates.back(), entry{0, ahead_[open].value << 8U, {}, 0});
    if (has(open + 1)) {
      candidates.emplace_back();
      append_line(candidates.back(), ahead_[open + 1]);
    }
    for (std::size_t tail = 0; tail <= longest_tail; ++tail) {
      if (std::optional<bytes> line = line_for_inner_entry(ahead_[open], tail)) {
        if (text_size(ahead_[open]) == max_text_length) {
          // The inner entry's name, from this line's byte longest_tail - tail
          // on, was cut: its inner entries are looked for from its second byte.
          restore_cut_line(*line, longest_tail - tail + 1, open + 1);
        }
        candidates.push_back(std::move(*line));
      }
    }
    for (const bytes& candidate : candidates) {
      bytes trial = lines;
      trial.insert(trial.end(), candidate.begin(), candidate.end());
      if (matching(convert_lines(trial)) > open) {
        lines = std::move(trial);
        return true;
      }
    }
    return false;
  }

  table_reader reader_;
  const unsigned char* table_end_;
  const byte_sink& sink_;
  const warning_sink& warn_;
  std::deque<entry> ahead_;
  bytes block_;
  std::size_t used_ = 0;
  listing_outcome outcome_;
};

}  // namespace

listing_outcome write_listing(std::span<const unsigned char> table, const byte_sink& sink,
                              const warning_sink& warn) {
  return listing_writer(table, sink, warn).run();
}

}  // namespace dbgparse::qb
