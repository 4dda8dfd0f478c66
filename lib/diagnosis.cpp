// The warnings: one walk over the checksum lines, found exactly as the
// conversion finds them (dbg_line.h, value_field.h), that looks at each line
// for what a reader would not expect, and at the lines between them for
// checksum lines that make no entry.
#include "diagnosis.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include "conversion.h"
#include "dbg_scan.h"
#include "header_forms.h"
#include "qb_layout.h"
#include "text.h"
#include "value_field.h"

namespace dbgparse {
namespace {

using bytes = std::span<const unsigned char>;

using dbg::is_blank;

// A name or field quoted in a message: at most 64 of its bytes.
std::string quoted(bytes text) { return text::quoted(text, 64); }

using text::hex;

// Whether a name that starts with `c` may read as something else: the
// rest of the name tells.
bool may_start_odd_name(unsigned char c) { return c == '=' || c == ':' || c == '/'; }

// The length of what a name starts with that makes it read as something
// else ("=", ":" or "//"), or 0.
std::size_t odd_start(bytes name) {
  if (!name.empty() && (name[0] == '=' || name[0] == ':')) {
    return 1;
  }
  return name.size() >= 2 && name[0] == '/' && name[1] == '/' ? 2 : 0;
}

// Where a comment starts in a name: at ";", "#" or "//" after a blank or a
// tab; the name's size when none does.
std::size_t comment_start(bytes name) {
  for (std::size_t at = 1; at < name.size(); ++at) {
    if (!is_blank(name[at - 1]) || is_blank(name[at])) {
      continue;
    }
    const bool slashes = name[at] == '/' && at + 1 < name.size() && name[at + 1] == '/';
    if (name[at] == ';' || name[at] == '#' || slashes) {
      return at;
    }
  }
  return name.size();
}

// Line numbers, counted as the conversion ends texts: CR LF, a lone CR and a
// lone LF each end one line. The count up to an offset is a sum over the
// bytes before it, so it moves forward and back from the last one asked.
class line_counter {
 public:
  explicit line_counter(bytes input) : input_(input) {}

  std::size_t line_of(std::size_t offset) {
    if (offset > at_) {
      ends_ += ends_in(at_, offset);
    } else {
      ends_ -= ends_in(offset, at_);
    }
    at_ = offset;
    return ends_ + 1;
  }

 private:
  // The line ends that finish with a byte in [from, to): an LF, or a CR
  // without an LF after it. Counted 64 bytes at a time from their marks, so
  // that a warning near the end of a large file (one without a last line
  // end) costs a fraction of the conversion. The input's last byte, with
  // none after it, ends a line when it is a CR or an LF.
  [[nodiscard]] std::size_t ends_in(std::size_t from, std::size_t to) const {
    const unsigned char* const data = input_.data();
    const std::size_t followed = std::min(to, input_.size() - 1);
    std::size_t ends = 0;
    std::size_t k = from;
    for (; k + dbg::block_size <= followed; k += dbg::block_size) {
      std::uint64_t finishing = 0;
      for (std::size_t j = 0; j < dbg::block_size; j += dbg::sixteen_bytes::size) {
        const dbg::sixteen_bytes here(data + k + j);
        const dbg::sixteen_bytes next(data + k + j + 1);
        finishing |= (here.equal('\n') | (here.equal('\r') & ~next.equal('\n'))) << j;
      }
      ends += static_cast<std::size_t>(std::popcount(finishing));
    }
    for (; k < followed; ++k) {
      ends += static_cast<std::size_t>(data[k] == '\n') +
              (static_cast<std::size_t>(data[k] == '\r') &
               static_cast<std::size_t>(data[k + 1] != '\n'));
    }
    if (from < to && followed < to) {
      ends += static_cast<std::size_t>(dbg::is_line_end(data[followed]));
    }
    return ends;
  }

  bytes input_;
  std::size_t at_ = 0;
  std::size_t ends_ = 0;
};

class diagnosis {
 public:
  diagnosis(bytes input, const warning_sink& sink, std::size_t most_messages)
      : input_(input), sink_(sink), lines_(input), most_messages_(most_messages) {}

  // Walks the checksum section with `walker`, this observer or one that
  // holds it, then looks at the lines after the last checksum line, unless
  // it ended the table. Without the section's header, there is nothing to
  // walk: tells the near miss, if any.
  template <class observer>
  bool walk_with(observer& walker) {
    const auto near = dbg::find_header(input_);
    if (!near || near->form != dbg::header_form::exact) {
      // The warning has a line when its header is 8-bit text.
      const bool whole = !near || near->form == dbg::header_form::utf16;
      return say(
          warning_kind::no_section, near ? near->offset : 0, [&] { return no_section(near); },
          whole);
    }
    // The header's line end is the first looked at.
    section_ = near->offset + dbg::section_header.size();
    covered_ = section_ - 1;
    return dbg::for_each_checksum_line(input_, section_, walker) &&
           (ended_ || look_between(covered_, input_.size()));
  }

  // The walk's observer. Nearly every line is clean, which its marks tell at
  // once: at the start of its line, 8 digits and a blank, and a name that
  // ends within 64 bytes at a CR or LF and holds no zero byte and no blank
  // (a short line's, as this observer has them walked).
  static constexpr bool short_lines_without_blanks = true;
  bool short_line(const dbg::checksum_line& found) {
    // The common case, told from a few bytes: this line starts one or two
    // bytes past the line end where the previous one's text ended, behind
    // an LF (CR LF or LF alone), so there is nothing between them to look
    // at and the line starts its line.
    if (found.start - covered_ - 1 <= 1 && input_[found.start - 1] == '\n' &&
        has_plain_head(found) && !may_start_odd_name(input_[found.text])) {
      covered_ = found.text_end;
      previous_text_ = found.text;
      return true;
    }
    // A copy, as the walk hands the rarer lines: `found` stays in registers.
    return line(dbg::checksum_line(found));
  }
  bool line(const dbg::checksum_line& found) { return look_at(found, false); }
  bool last_line(const dbg::checksum_line& found) {
    ended_ = true;
    return look_at(found, true);
  }

 private:
  // Hands over a warning; its message is made only while messages are
  // wanted, so that an input of millions of warnings costs no more than
  // counting them past that.
  template <class message_maker>
  bool say(warning_kind kind, std::size_t offset, const message_maker& message,
           bool whole = false) {
    const std::size_t line = whole ? 0 : lines_.line_of(offset);
    std::string text = told_ < most_messages_ ? message() : std::string();
    ++told_;
    return sink_(warning{kind, line, offset, std::move(text)});
  }
  // 8 digits taken from the value field's first byte on, and no more (no
  // white space, sign or 0x before them), then a blank or a tab.
  [[nodiscard]] static bool has_plain_field(const dbg::checksum_line& found) {
    return found.field.digits == dbg::value_field_width &&
           found.field.end == found.start + dbg::separator_offset;
  }
  [[nodiscard]] bool has_plain_head(const dbg::checksum_line& found) const {
    return has_plain_field(found) && is_blank(input_[found.start + dbg::separator_offset]);
  }
  // A finding about an entry: its message when it is the entry's only
  // one, and its clause among several.
  struct finding_text {
    std::string alone;
    std::string clause;
  };
  struct finding : finding_text {
    warning_kind kind;
    std::size_t offset;
  };
  // Its texts are made only while say would make a message: no warning is
  // told while an entry's findings are found.
  template <class text_maker>
  void find(warning_kind kind, std::size_t offset, const text_maker& text) {
    findings_.push_back({told_ < most_messages_ ? text() : finding_text{}, kind, offset});
  }
  [[nodiscard]] std::string no_section(const std::optional<dbg::header_match>& near) const;
  bool look_at(const dbg::checksum_line& found, bool last);
  void look_at_field(const dbg::checksum_line& found);
  void look_at_end(const dbg::checksum_line& found);
  void look_at_text(const dbg::checksum_line& found);
  [[nodiscard]] std::size_t swallowed_line(const dbg::checksum_line& found) const;
  bool tell(const dbg::checksum_line& found);
  bool look_between(std::size_t from, std::size_t to);
  [[nodiscard]] bool starts_its_line(std::size_t at) const;
  [[nodiscard]] std::size_t lines_after(std::size_t from) const;
  [[nodiscard]] std::string entry(const dbg::checksum_line& found) const;

  bytes input_;
  const warning_sink& sink_;
  line_counter lines_;
  std::size_t most_messages_;
  std::size_t told_ = 0;
  std::size_t section_ = 0;  // where the checksum section starts, once found
  // The lines up to this line end were looked at: the header's own at
  // first, then each text's.
  std::size_t covered_ = 0;
  std::size_t previous_text_ = 0;  // the previous entry's text
  bool ended_ = false;             // a line ended the table
  std::vector<finding> findings_;  // about the entry looked at
};

// Why there is no section, given the near miss of its header, if any.
std::string diagnosis::no_section(const std::optional<dbg::header_match>& near) const {
  if (input_.empty()) {
    return "the input is empty, so the table has no entries";
  }
  std::string said = "there is no \"[Checksums]\" line ending in CR LF, so the table is empty";
  if (!near) {
    return said;
  }
  if (near->form == dbg::header_form::utf16) {
    return said + ": the file is UTF-16 text; save it as ASCII or UTF-8";
  }
  const bytes title = input_.subspan(
      near->offset, std::min(dbg::section_title.size(), input_.size() - near->offset));
  const std::vector<dbg::header_form>& forms = near->departures;
  if (forms.size() == 1 && near->form == dbg::header_form::other_case) {
    return said + ": the header " + quoted(title) + " differs in case";
  }
  // Each difference from the header, so that mending the one named first
  // is not mistaken for mending them all.
  said += ": the header line";
  for (std::size_t k = 0; k < forms.size(); ++k) {
    said += k == 0 ? " " : k + 1 == forms.size() ? " and " : ", ";
    switch (forms[k]) {
      case dbg::header_form::utf8_bom:
        said += "starts with a UTF-8 byte order mark";
        break;
      case dbg::header_form::other_case:
        said += "reads " + quoted(title) + ", which differs in case";
        break;
      case dbg::header_form::blanks:
        said += "has blanks or tabs around it";
        break;
      case dbg::header_form::lf_only:
        said += "ends in LF alone";
        break;
      case dbg::header_form::cr_only:
        said += "ends in CR alone";
        break;
      case dbg::header_form::exact:
      case dbg::header_form::utf16:
        break;
    }
  }
  return said;
}

// The entry as a message gives it, its checksum with its name; a text that
// ends the table (empty, or without a line end, as one past the input's
// end) is no name.
std::string diagnosis::entry(const dbg::checksum_line& found) const {
  const std::string checksum = hex(found.field.checksum);
  if (found.text_end >= input_.size() || found.text_end == found.text) {
    return checksum + " with no name";
  }
  const std::size_t kept = std::min(found.text_end - found.text, qb::max_text_length);
  return checksum + " with the name " + quoted(input_.subspan(found.text, kept));
}

// The lines before the checksum line, then the line itself and what the
// rule did to its entry, told in one warning: where its "0x" stands, its
// value field, its name, and, for the line that ends the table, why it does.
bool diagnosis::look_at(const dbg::checksum_line& found, bool last) {
  if (found.start > covered_ && !look_between(covered_, found.start)) {
    return false;
  }
  findings_.clear();
  if (!starts_its_line(found.start)) {
    const bool in_name = found.start > previous_text_ && found.start < covered_;
    const std::string where = in_name ? "a \"0x\" inside the name of the entry before"
                                      : "a \"0x\" after the start of the line";
    find(warning_kind::inner_line, found.start, [&] {
      return finding_text{where + " starts an entry of its own: the entry is " + entry(found),
                          where + " starts it"};
    });
  }
  if (found.text > input_.size()) {
    find(warning_kind::no_line_end, found.start, [&] {
      return finding_text{"the input ends inside this checksum line: the entry " +
                              hex(found.field.checksum) + " gets no name and ends the table",
                          "the input ends inside its line, so it gets no name and ends the table"};
    });
    return tell(found);
  }
  look_at_field(found);
  if (last) {
    look_at_end(found);
    return tell(found);
  }
  look_at_text(found);
  const std::size_t swallowed = swallowed_line(found);
  // In input order: the entry's warning before a line its name swallowed,
  // unless only its name's own faults, after that line's start, are told.
  const bool entry_first = findings_.empty() || findings_.front().offset <= swallowed;
  if (entry_first && !tell(found)) {
    return false;
  }
  if (swallowed != 0 && !say(warning_kind::not_converted, swallowed, [&] {
        return std::string("this checksum line makes no entry: it became the name of the entry " +
                           hex(found.field.checksum) + " of line " +
                           std::to_string(lines_.line_of(found.start)));
      })) {
    return false;
  }
  if (!entry_first && !tell(found)) {
    return false;
  }
  covered_ = std::max(covered_, found.text_end);
  previous_text_ = found.text;
  return true;
}

// The value field and the byte after it.
void diagnosis::look_at_field(const dbg::checksum_line& found) {
  const bytes field = input_.subspan(found.start + dbg::value_field_offset, dbg::value_field_width);
  const unsigned char separator = input_[found.start + dbg::separator_offset];
  if (!has_plain_field(found)) {
    find(warning_kind::value_field, found.start + dbg::value_field_offset, [&] {
      const std::string what = is_hex_digit(field[0])
                                   ? " has " + std::to_string(found.field.digits) +
                                         (found.field.digits == 1 ? " digit" : " digits")
                                   : " is not 8 hexadecimal digits";
      return finding_text{
          "the value field " + quoted(field) + what + ": the entry is " + entry(found),
          "its value field " + quoted(field) + what};
    });
  } else if (!is_blank(separator) && !dbg::is_line_end(separator)) {
    // (A line end there leaves the name empty or on the next line, which
    // the name's findings tell.)
    find(warning_kind::value_field, found.start + dbg::separator_offset, [&] {
      const std::string what =
          "value field is followed by " + quoted(bytes(&separator, 1)) + ", not a blank or a tab";
      return finding_text{"the " + what + ": the entry is " + entry(found), "its " + what};
    });
  }
}

// The line that ends the table: its name runs to the input's end, or is
// empty.
void diagnosis::look_at_end(const dbg::checksum_line& found) {
  const std::size_t size = input_.size();
  if (found.text_end >= size) {
    find(warning_kind::no_line_end, found.start, [&] {
      const std::string lost =
          found.text < size ? ", and " + quoted(input_.subspan(found.text)) + " is left out" : "";
      return finding_text{"the last line has no line end: the entry " + hex(found.field.checksum) +
                              " gets no name" + lost,
                          "its line has no line end, so it gets no name" + lost};
    });
    return;
  }
  find(warning_kind::empty_name, found.start, [&] {
    const std::size_t later = lines_after(found.text_end);
    const std::string lost = later == 0
                                 ? std::string()
                                 : ": " + std::to_string(later) +
                                       (later == 1 ? " line after it is" : " lines after it are") +
                                       " not converted";
    return finding_text{
        "the entry " + hex(found.field.checksum) + " has no name, which ends the table" + lost,
        "it has no name, which ends the table" + lost};
  });
}

// The name: its length, zero bytes, its first and last bytes, and what in
// it reads as a comment.
void diagnosis::look_at_text(const dbg::checksum_line& found) {
  const std::size_t length = found.text_end - found.text;
  const bytes name = input_.subspan(found.text, std::min(length, qb::max_text_length));
  const auto name_finding = [&](warning_kind kind, std::size_t offset, const std::string& what) {
    find(kind, offset, [&] {
      return finding_text{"the name " + quoted(name) + " " + what, "its name " + what};
    });
  };
  if (length > qb::max_text_length) {
    find(warning_kind::name_cut, found.text, [&] {
      return finding_text{
          "the name is " + std::to_string(length) + " bytes long: the entry " +
              hex(found.field.checksum) + " keeps its first 255",
          "its name is " + std::to_string(length) + " bytes long, of which it keeps the first 255"};
    });
  }
  const std::size_t zero = dbg::first_zero_byte(name);
  if (zero != name.size()) {
    name_finding(warning_kind::name_zero_byte, found.text + zero,
                 "holds a zero byte: the table has zero bytes from it to the name's end");
  }
  const bytes kept = name.first(zero);
  if (!kept.empty() && is_blank(kept.front())) {
    name_finding(warning_kind::name_unexpected, found.text,
                 "starts with a blank or a tab, which the table keeps");
  } else if (const std::size_t odd = odd_start(kept); odd != 0) {
    name_finding(warning_kind::name_unexpected, found.text,
                 "starts with " + quoted(kept.first(odd)) + ", which the table keeps");
  }
  if (const std::size_t comment = comment_start(kept); comment != kept.size()) {
    name_finding(warning_kind::name_unexpected, found.text + comment,
                 "holds what reads as a comment, " + quoted(kept.subspan(comment)) +
                     ", which the table keeps");
  }
  if (!name.empty() && is_blank(name.back())) {
    name_finding(warning_kind::name_end_blank, found.text + name.size() - 1,
                 "ends in a blank or a tab, which the table keeps");
  }
}

// Where the next line starts when the value field ran over a line end and
// the name is that line, a checksum line of its own that so makes no entry;
// 0 for any other line.
std::size_t diagnosis::swallowed_line(const dbg::checksum_line& found) const {
  const bool head_spans_lines =
      !has_plain_head(found) && dbg::line_end(input_.first(found.text), found.start) < found.text;
  return head_spans_lines && starts_its_line(found.text) &&
                 dbg::next_line_start(input_, found.text) == found.text
             ? found.text
             : 0;
}

// One warning for the entry: a finding alone in its own words, several as
// the entry's clauses.
bool diagnosis::tell(const dbg::checksum_line& found) {
  if (findings_.empty()) {
    return true;
  }
  const finding& first = findings_.front();
  return say(first.kind, first.offset, [&] {
    if (findings_.size() == 1) {
      return first.alone;
    }
    std::string message = "the entry " + entry(found) + ":";
    for (const finding& each : findings_) {
      message += (&each == &first ? " " : "; ") + each.clause;
    }
    return message;
  });
}

// The lines in [from, to), which hold no "0x": any that starts as a
// checksum line would.
bool diagnosis::look_between(std::size_t from, std::size_t to) {
  if (std::all_of(input_.begin() + static_cast<std::ptrdiff_t>(from),
                  input_.begin() + static_cast<std::ptrdiff_t>(to), dbg::is_line_end)) {
    return true;  // only the line end between two checksum lines
  }
  for (std::size_t at = from; at < to; at = dbg::line_end(input_.first(to), at) + 1) {
    std::size_t word = at;
    while (word < to && is_blank(input_[word])) {
      ++word;
    }
    const bytes rest = input_.subspan(word, to - word);
    const bool upper_x =
        rest.size() >= 3 && rest[0] == '0' && rest[1] == 'X' && is_hex_digit(rest[2]);
    const bool bare_field =
        rest.size() > dbg::value_field_width &&
        std::all_of(rest.begin(), rest.begin() + dbg::value_field_width, is_hex_digit) &&
        is_blank(rest[dbg::value_field_width]);
    if ((upper_x || bare_field) && !say(warning_kind::not_converted, word, [&] {
          return std::string(upper_x ? "this line starts with \"0X\": only a lower-case \"0x\" "
                                       "starts a checksum line, so it makes no entry"
                                     : "this line starts with 8 hexadecimal digits but no "
                                       "\"0x\", so it makes no entry");
        })) {
      return false;
    }
  }
  return true;
}

// Whether only blanks, tabs or zero bytes (padding, no text) stand between
// `at` and the start of its line.
bool diagnosis::starts_its_line(std::size_t at) const {
  while (at > section_ && (is_blank(input_[at - 1]) || input_[at - 1] == 0)) {
    --at;
  }
  return at <= section_ || dbg::is_line_end(input_[at - 1]);
}

// Lines from `from` on that hold anything but line ends: their first
// bytes, which are no line end and start the rest or follow one.
std::size_t diagnosis::lines_after(std::size_t from) const {
  std::size_t count = 0;
  for (std::size_t at = from; at < input_.size(); ++at) {
    count += static_cast<std::size_t>(!dbg::is_line_end(input_[at]) &&
                                      (at == from || dbg::is_line_end(input_[at - 1])));
  }
  return count;
}

}  // namespace

bool diagnose(std::span<const unsigned char> input, const warning_sink& sink,
              std::size_t most_messages) {
  diagnosis seen(input, sink, most_messages);
  return seen.walk_with(seen);
}

bool convert_and_diagnose(std::span<const unsigned char> input, const byte_sink& sink,
                          const warning_sink& warn, std::size_t most_messages) {
  sink_pieces pieces(sink, default_piece_size);
  return convert_and_diagnose(input, pieces, warn, most_messages);
}

bool convert_and_diagnose(std::span<const unsigned char> input, piece_exchange& pieces,
                          const warning_sink& warn, std::size_t most_messages) {
  table_writer out(pieces);
  entry_writer entries(input, out);
  diagnosis seen(input, warn, most_messages);
  // The warnings' look first: the entry's bytes are then still at hand
  // for its copy into the table.
  dbg::both_observers walk(seen, entries);
  return seen.walk_with(walk) && out.finish();
}

}  // namespace dbgparse
