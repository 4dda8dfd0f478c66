// A plain name makes its line at once. A name holding "0x" starts a group of
// lines written by simple rules (its own line, given back what a cut took
// from it, then the lines that inner entries read into), kept only when
// dbgparse's own conversion of the group gives exactly the table's next
// entries.
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
#include "dbg_scan.h"
#include "qb_layout.h"
#include "value_field.h"

namespace dbgparse::qb {
namespace {

using bytes = std::vector<unsigned char>;
using head = std::array<unsigned char, dbg::text_offset>;

constexpr std::string_view line_end = "\r\n";
constexpr std::size_t piece_size = std::size_t{1} << 20;
constexpr std::size_t short_name = 32;
// Bounds that keep the time linear. A group's first line, cut to 255 bytes,
// is given back as much of itself as its inner entries show, and a group
// grows by as many lines as inner entries read into, however long it gets,
// with two exceptions: the entries that a failed group made, which would
// build much the same lines again, and every group once failed groups have
// built failed_bytes_per_table_byte times the table's size. Those groups'
// first lines are given back at most longest_restored_line, and they grow
// at most most_continued past them; a next line of a group is always given
// back at most longest_restored_line. A conversion whose table has run
// past_difference past its first byte unlike the table's has made a wrong
// entry before its last one, and is given up.
constexpr std::size_t longest_restored_line = std::size_t{4} << 10;
constexpr std::size_t most_continued = 1024;
constexpr std::size_t failed_bytes_per_table_byte = 4;
constexpr std::size_t past_difference = qb::head_size + max_text_length + marker_size;
// A line after a group, to see whether its last entry reads on past it.
constexpr std::string_view probe_line = "0x12345678 q\r\n";
constexpr std::array<unsigned char, 1> probe_name{'q'};
// The most name bytes an inner entry's "0x" can have after it on its line
// and still read its name from the next line.
constexpr std::size_t longest_tail = dbg::text_offset - dbg::line_start.size() - line_end.size();

void append(bytes& out, const auto& range) { out.insert(out.end(), range.begin(), range.end()); }

std::size_t text_size(const entry& item) { return item.name.size() + item.padding; }

// The name and its padding, as a line holds them.
bytes text_of(const entry& item) {
  bytes text(item.name.begin(), item.name.end());
  text.resize(text_size(item), 0);
  return text;
}

// "0x", the checksum as 8 hexadecimal digits and a space: a line's head.
head head_of(std::uint32_t checksum, bool upper = false) {
  const std::string_view digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  head out{'0', 'x'};
  for (std::size_t k = 0; k < dbg::value_field_width; ++k) {
    out[dbg::separator_offset - 1 - k] =
        static_cast<unsigned char>(digits[(checksum >> 4 * k) & 15]);
  }
  out[dbg::separator_offset] = ' ';
  return out;
}

bytes line_of(std::uint32_t checksum, const bytes& text) {
  const head start = head_of(checksum);
  bytes line(start.size() + text.size() + line_end.size());
  const auto out =
      std::copy(text.begin(), text.end(), std::copy(start.begin(), start.end(), line.begin()));
  std::copy(line_end.begin(), line_end.end(), out);
  return line;
}

// A line that makes its entry alone, whatever surrounds it: a name that is
// not empty, fits, has no line end and no "0x" from its second byte on.
bool is_plain(const entry& item) {
  return !item.name.empty() && text_size(item) <= max_text_length &&
         dbg::line_end(item.name, 0) == item.name.size() &&
         dbg::next_line_start(item.name, 1) == item.name.size();
}

bool same_entry(const entry& a, const entry& b) {
  return a.checksum == b.checksum && a.padding == b.padding && std::ranges::equal(a.name, b.name);
}

// The first `most` checksum lines of `lines`, from `from` on, as the
// conversion walks them (the lines hold no section header).
std::vector<dbg::checksum_line> checksum_lines(std::span<const unsigned char> lines,
                                               std::size_t from, std::size_t most) {
  struct seen_lines {
    std::vector<dbg::checksum_line> found;
    std::size_t most;
    bool short_line(const dbg::checksum_line& line) {
      found.push_back(line);
      return found.size() < most;
    }
    bool line(const dbg::checksum_line& line) { return short_line(line); }
    bool last_line(const dbg::checksum_line& line) { return short_line(line); }
  } seen{{}, most};
  dbg::for_each_checksum_line(lines, from, seen);
  return seen.found;
}

class listing_writer {
 public:
  listing_writer(std::span<const unsigned char> table, const byte_sink& sink,
                 const warning_sink& warn)
      : table_(table),
        reader_(table),
        sink_(sink),
        warn_(warn),
        // A small table's listing needs no full piece: every line is at most
        // 7 bytes longer than its entry (plus slack for a group or a copy).
        piece_(std::min(piece_size, 2 * table.size() + 1024)),
        failed_bytes_left_(failed_bytes_per_table_byte * table.size() + longest_restored_line) {}

  listing_outcome run() {
    // A file that is no table at all gets no listing, not even the header.
    if (has(0) || !reader_.fault()) {
      put(bytes(dbg::section_header.begin(), dbg::section_header.end()), 0);
    }
    while (outcome_.written) {
      // The common entry is listed as it is read, without being held ahead.
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
  // What dbgparse makes of lines, read back; not whole when given up.
  struct conversion {
    bytes table;
    std::vector<entry> entries;
    bool whole = true;
  };

  // The first entry ahead's position in the table, from 1.
  [[nodiscard]] std::size_t number() const { return outcome_.entries - ahead_.size() + 1; }

  // True when the table has an entry `k` places ahead; reads up to it.
  bool has(std::size_t k) {
    for (std::optional<entry> item; ahead_.size() <= k; ++outcome_.entries) {
      if (!(item = reader_.next())) {
        return false;
      }
      ahead_.push_back(*item);
    }
    return true;
  }

  void list_next() {
    const entry& item = ahead_.front();
    const char* reason =
        "its name holds 0x, and no line makes it together with the entries that follow it";
    std::optional<std::pair<bytes, std::size_t>> group;
    if (dbg::line_end(item.name, 0) != item.name.size()) {
      reason = "its name holds a CR or LF byte, which would end its line";
    } else if (text_size(item) > max_text_length) {
      reason = "its name with its zero padding is longer than 255 bytes";
    } else if (text_size(item) == 0 && has(1)) {
      reason = "its name is empty, which ends a conversion, but entries follow it";
    } else if (dbg::next_line_start(item.name, 1) == item.name.size()) {
      // No "0x" from the name's second byte on: the line makes its entry alone.
      put_plain(item);
      ahead_.pop_front();
      return;
    } else if ((group = plan_group())) {
      return put(group->first, group->second);
    }
    warn_(listing_warning{number(), item.offset, reason});
    ++outcome_.left_out;
    ahead_.pop_front();
  }

  // The common line, written straight into the piece. A short name is
  // copied as a fixed 32 bytes where the table and the piece have them, and
  // the piece's end moves by the name's length only.
  void put_plain(const entry& item) {
    if (piece_.size() - used_ < dbg::text_offset + text_size(item) + line_end.size() + short_name) {
      flush();
    }
    const head start = head_of(item.checksum);
    unsigned char* out = std::copy(start.begin(), start.end(), piece_.data() + used_);
    if (item.name.size() <= short_name && item.padding == 0 &&
        table_.data() + table_.size() - item.name.data() >= std::ptrdiff_t{short_name}) {
      out = std::copy_n(item.name.data(), short_name, out) - short_name + item.name.size();
    } else {
      out = std::fill_n(std::copy(item.name.begin(), item.name.end(), out), item.padding, 0);
    }
    used_ =
        static_cast<std::size_t>(std::copy(line_end.begin(), line_end.end(), out) - piece_.data());
  }

  void put(std::span<const unsigned char> lines, std::size_t entries) {
    if (piece_.size() - used_ < lines.size()) {
      flush();
    }
    if (lines.size() > piece_.size()) {
      outcome_.written = outcome_.written && sink_(lines);
    } else {
      used_ = static_cast<std::size_t>(
          std::copy(lines.begin(), lines.end(), piece_.data() + used_) - piece_.data());
    }
    ahead_.erase(ahead_.begin(), ahead_.begin() + static_cast<std::ptrdiff_t>(entries));
  }

  void flush() {
    if (outcome_.written && used_ > 0) {
      outcome_.written = sink_(std::span<const unsigned char>(piece_.data(), used_));
    }
    used_ = 0;
  }

  // The lines, after the section header and with `after` after them, as
  // dbgparse converts them, read back: they start with the entry `first`
  // places ahead. With `give_up`, the conversion stops once its table has
  // run past_difference bytes past its first byte unlike the table's from
  // that entry on (whose marker may differ).
  conversion convert(std::span<const unsigned char> lines, std::size_t first = 0,
                     std::string_view after = {}, bool give_up = true) {
    bytes input(dbg::section_header.begin(), dbg::section_header.end());
    append(input, lines);
    append(input, after);
    conversion made;
    const std::span<const unsigned char> want = table_.subspan(ahead_[first].offset);
    std::size_t same = 1;
    made.whole = write_table(
        input,
        [&](std::span<const unsigned char> piece) {
          append(made.table, piece);
          const std::size_t end = std::min(made.table.size(), want.size());
          if (same < end && std::memcmp(&made.table[same], &want[same], end - same) == 0) {
            same = end;
          }
          while (same < end && made.table[same] == want[same]) {
            ++same;
          }
          return !give_up || made.table.size() <= same + past_difference;
        },
        0);
    table_reader reader(made.table);
    while (const std::optional<entry> item = reader.next()) {
      made.entries.push_back(*item);
    }
    return made;
  }

  // How many of the made entries, from the first, are the table's entries
  // from `first` places ahead on.
  std::size_t matching(const conversion& made, std::size_t first = 0) {
    std::size_t k = 0;
    while (k < made.entries.size() && has(first + k) &&
           same_entry(made.entries[k], ahead_[first + k])) {
      ++k;
    }
    return k;
  }

  // The lines for the first entry ahead, whose name holds "0x", and how many
  // entries they make: its own line, given back what a cut took from it, and
  // then, while the last entry they make reads on past them, a next line.
  std::optional<std::pair<bytes, std::size_t>> plan_group() {
    bytes lines = line_of(ahead_.front().checksum, text_of(ahead_.front()));
    const bool cut = text_size(ahead_.front()) == max_text_length;
    const bool whole =
        cut && restore_cut_line(lines, dbg::text_offset + 1, 1, longest_restored_line + room());
    if (!cut && second_entry_differs(lines)) {
      return std::nullopt;
    }
    std::size_t made = 0;
    std::optional<std::pair<bytes, std::size_t>> group = continue_group(lines, made);
    if (!group) {
      if (room() > 0) {
        failed_bytes_left_ -= std::min(failed_bytes_left_, lines.size());
      }
      // The entries after the first that the lines made as the table has
      // them nearly always fail too, building much the same lines: they are
      // tried within the bounds alone. Not so when a bound stopped these
      // lines: theirs end later.
      if (made > 0 && (!cut || whole)) {
        bounded_until_ = std::max(bounded_until_, number() + made - 1);
      }
    }
    return group;
  }

  // How far past the bounds the first entry ahead's group may grow.
  [[nodiscard]] std::size_t room() const {
    return number() <= bounded_until_ ? 0 : failed_bytes_left_;
  }

  // The group from its first line on: while the last entry its lines make
  // reads on past them, a next line. Only the lines from that entry's "0x"
  // on are converted again, as the conversion of what follows an entry's
  // start depends on nothing before it. When the group fails, `made` gets
  // how many of the table's entries, from the first, its lines made, or 0
  // when they grew past the bound.
  std::optional<std::pair<bytes, std::size_t>> continue_group(bytes& lines, std::size_t& made) {
    std::size_t from = 0;   // where the entry converted first starts in the lines
    std::size_t first = 0;  // and how many places ahead it is
    const std::size_t longest = lines.size() + most_continued + room();
    while (lines.size() <= longest) {
      const std::span<const unsigned char> rest = std::span(lines).subspan(from);
      const conversion converted = convert(rest, first);
      const std::size_t matched = matching(converted, first);
      const std::size_t count = converted.entries.size();
      made = first + matched;
      if (!converted.whole || matched + 1 < count) {
        return std::nullopt;
      }
      // Closed: a probe line after the lines makes the same entries and its own.
      const conversion probed = convert(rest, first, probe_line, false);
      const bool closed = probed.entries.size() == count + 1 &&
                          std::equal(converted.entries.begin(), converted.entries.end(),
                                     probed.entries.begin(), same_entry) &&
                          same_entry(probed.entries.back(), entry{0, 0x12345678, probe_name, 0});
      // With nothing after these entries in the table, the lines may end it.
      if (matched == count && (!has(first + matched) || closed)) {
        return std::pair(lines, first + matched);
      }
      if (closed) {
        return std::nullopt;
      }
      // The entries before the last are settled: the conversion goes on from
      // the last one's "0x", found by the conversion's own walk.
      from = checksum_lines(lines, from, count).back().start;
      first += count - 1;
      if (!continue_into_next_line(lines, from, first)) {
        return std::nullopt;
      }
    }
    made = 0;
    return std::nullopt;
  }

  // A line whose first inner entry's name ends on it, with a further "0x"
  // after that name's first byte, makes three or more entries: no group
  // starts with it unless the second is the table's next. Read here by the
  // conversion's walk, without converting.
  bool second_entry_differs(const bytes& line) {
    const std::vector<dbg::checksum_line> found = checksum_lines(line, 0, 3);
    if (found.size() < 3) {
      return false;
    }
    const dbg::checksum_line& second = found[1];
    return !has(1) || second.field.checksum != ahead_[1].checksum ||
           !std::ranges::equal(std::span(line).subspan(second.text, second.text_end - second.text),
                               text_of(ahead_[1]));
  }

  // A name cut to 255 bytes came from a longer line, whose inner entries
  // follow it in the table with their own names cut later: gives the line
  // back what they show of it. The first is looked for from `from` (the
  // name's second byte) and is `first` places ahead; each later one from the
  // second byte of the name before. A cut inside an inner entry's head is
  // completed as a listing writes it, with digits of either case.
  // Returns false when the line was longer than `longest` and was not given
  // back whole.
  bool restore_cut_line(bytes& line, std::size_t from, std::size_t first, std::size_t longest) {
    line.resize(line.size() - line_end.size());
    for (std::size_t k = first; line.size() <= longest && has(k); ++k) {
      const std::size_t at = dbg::next_line_start(line, from);
      const std::size_t name_at = at + dbg::text_offset;
      for (const bool upper : {false, true}) {
        const head start = head_of(ahead_[k].checksum, upper);
        if (at < line.size() && line.size() < name_at &&
            std::equal(line.begin() + static_cast<std::ptrdiff_t>(at), line.end(), start.begin())) {
          line.insert(line.end(), start.begin() + static_cast<std::ptrdiff_t>(line.size() - at),
                      start.end());
        }
      }
      const bytes want = text_of(ahead_[k]);
      const auto have = static_cast<std::ptrdiff_t>(line.size() - name_at);
      if (line.size() < name_at || (have < std::ssize(want) &&
                                    !std::equal(line.begin() + static_cast<std::ptrdiff_t>(name_at),
                                                line.end(), want.begin()))) {
        break;
      }
      line.insert(line.end(), want.begin() + std::min(have, std::ssize(want)), want.end());
      from = name_at + 1;
    }
    const bool whole = line.size() <= longest;
    append(line, line_end);
    return whole;
  }

  // The inner entry `open` places ahead, whose "0x" is at `from` in the
  // lines, reads on past their end: tries the lines that could follow, in
  // turn: one whose first digits carry its checksum (for an entry without
  // name), the next entry's own, and lines whose own entry is never made,
  // as the inner entry reads its checksum and name from them.
  bool continue_into_next_line(bytes& lines, std::size_t from, std::size_t open) {
    if (!has(open)) {
      return false;
    }
    const entry target = ahead_[open];
    std::vector<bytes> candidates{line_of(target.checksum << 8U, {})};
    if (has(open + 1)) {
      candidates.push_back(line_of(ahead_[open + 1].checksum, text_of(ahead_[open + 1])));
    }
    // With `tail` name bytes after the inner entry's "0x" on its line, its
    // name starts at the next line's byte longest_tail - tail, over the end
    // of a head that carries its checksum shifted past the first digits: kept
    // when that head is one a listing writes.
    for (std::size_t tail = 0; tail <= longest_tail; ++tail) {
      const std::size_t name_start = longest_tail - tail;
      bytes line = line_of(target.checksum << 8U, text_of(target));
      line.erase(line.begin() + static_cast<std::ptrdiff_t>(name_start),
                 line.begin() + dbg::text_offset);
      const head shape = head_of(read_value_field(line, dbg::value_field_offset).checksum);
      if (name_start + text_size(target) >= dbg::text_offset &&
          std::equal(shape.begin(), shape.end(), line.begin())) {
        if (text_size(target) == max_text_length) {
          restore_cut_line(line, name_start + 1, open + 1, longest_restored_line);
        }
        candidates.push_back(std::move(line));
      }
    }
    for (const bytes& candidate : candidates) {
      bytes tried(lines.begin() + static_cast<std::ptrdiff_t>(from), lines.end());
      append(tried, candidate);
      if (matching(convert(tried, open), open) > 0) {
        append(lines, candidate);
        return true;
      }
    }
    return false;
  }

  std::span<const unsigned char> table_;
  table_reader reader_;
  const byte_sink& sink_;
  const warning_sink& warn_;
  std::deque<entry> ahead_;
  bytes piece_;
  std::size_t used_ = 0;
  std::size_t failed_bytes_left_;  // bytes that failed groups may still build past the bounds
  std::size_t bounded_until_ = 0;  // entries up to this one have groups within the bounds
  listing_outcome outcome_;
};

}  // namespace

listing_outcome write_listing(std::span<const unsigned char> table, const byte_sink& sink,
                              const warning_sink& warn) {
  return listing_writer(table, sink, warn).run();
}

}  // namespace dbgparse::qb
