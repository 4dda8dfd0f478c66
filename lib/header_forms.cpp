// The header's forms: the exact one by the conversion's search, then every
// '[' byte in turn, read as the start of an 8-bit header and as part of a
// UTF-16 one: at an even offset little-endian, at an odd one big-endian.
#include "header_forms.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>
#include <vector>

#include "dbg_line.h"

namespace dbgparse::dbg {
namespace {

constexpr std::array<unsigned char, 3> utf8_bom = {0xEF, 0xBB, 0xBF};
constexpr unsigned byte_order_mark = 0xFEFF;

enum class line_end { cr_lf, lf, cr_or_none };

using dbg::is_blank;

unsigned lower(unsigned c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

// The text as characters: 8-bit text a byte each, UTF-16 two bytes each in
// one byte order. Positions are byte offsets; a character that does not fit
// before the end reads as none.
class characters {
 public:
  characters(std::span<const unsigned char> bytes, std::size_t width, bool big_endian)
      : bytes_(bytes), width_(width), big_endian_(big_endian) {}

  [[nodiscard]] std::size_t width() const { return width_; }
  [[nodiscard]] bool fits(std::size_t at) const {
    return at <= bytes_.size() && bytes_.size() - at >= width_;
  }
  [[nodiscard]] unsigned at(std::size_t at) const {
    if (width_ == 1) {
      return bytes_[at];
    }
    return big_endian_ ? (unsigned{bytes_[at]} << 8U) | bytes_[at + 1]
                       : (unsigned{bytes_[at + 1]} << 8U) | bytes_[at];
  }

 private:
  std::span<const unsigned char> bytes_;
  std::size_t width_;
  bool big_endian_;
};

struct departures {
  bool bom = false;
  bool other_case = false;
  bool blanks = false;
  line_end end = line_end::cr_lf;
};

// Whether the header's '[' at `from` starts its line: only blanks before it
// back to a line end, to the start of the bytes, or to a byte order mark
// there.
bool starts_line(std::span<const unsigned char> bytes, const characters& text, std::size_t from,
                 departures& found) {
  std::size_t at = from;
  while (at >= text.width() && is_blank(text.at(at - text.width()))) {
    at -= text.width();
    found.blanks = true;
  }
  if (at == 0) {
    return true;
  }
  const unsigned before = text.at(at - text.width());
  if (before == '\r' || before == '\n') {
    return true;
  }
  if (text.width() == 2) {
    return at == 2 && before == byte_order_mark;
  }
  found.bom = at == utf8_bom.size() && std::equal(utf8_bom.begin(), utf8_bom.end(), bytes.begin());
  return found.bom;
}

// Whether "[Checksums]" in any case, then only blanks up to a line end or
// the end of the bytes, starts at `from`.
bool reads_header(const characters& text, std::size_t from, departures& found) {
  std::size_t at = from;
  for (const char expected : section_title) {
    if (!text.fits(at)) {
      return false;
    }
    const unsigned c = text.at(at);
    if (lower(c) != lower(static_cast<unsigned char>(expected))) {
      return false;
    }
    found.other_case = found.other_case || c != static_cast<unsigned char>(expected);
    at += text.width();
  }
  while (text.fits(at) && is_blank(text.at(at))) {
    at += text.width();
    found.blanks = true;
  }
  if (!text.fits(at)) {
    found.end = line_end::cr_or_none;
    return true;
  }
  const unsigned c = text.at(at);
  if (c == '\n') {
    found.end = line_end::lf;
    return true;
  }
  if (c != '\r') {
    return false;
  }
  at += text.width();
  found.end = text.fits(at) && text.at(at) == '\n' ? line_end::cr_lf : line_end::cr_or_none;
  return true;
}

// The departures of the header line at `from`, in their ranking's order
// (empty for the exact header); none at all where no header starts there.
std::optional<std::vector<header_form>> header_at(std::span<const unsigned char> bytes,
                                                  const characters& text, std::size_t from) {
  departures found;
  if (!reads_header(text, from, found) || !starts_line(bytes, text, from, found)) {
    return std::nullopt;
  }
  if (text.width() == 2) {
    return std::vector{header_form::utf16};
  }
  std::vector<header_form> forms;
  for (const auto& [departs, form] :
       {std::pair{found.bom, header_form::utf8_bom},
        std::pair{found.other_case, header_form::other_case},
        std::pair{found.blanks, header_form::blanks},
        std::pair{found.end == line_end::lf, header_form::lf_only},
        std::pair{found.end == line_end::cr_or_none, header_form::cr_only}}) {
    if (departs) {
      forms.push_back(form);
    }
  }
  return forms;
}

}  // namespace

std::optional<header_match> find_header(std::span<const unsigned char> bytes) {
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (const std::size_t at = text.find(section_header); at != std::string_view::npos) {
    return header_match{header_form::exact, at, {}};
  }
  const characters eight_bit(bytes, 1, false);
  const characters little_endian(bytes, 2, false);
  const characters big_endian(bytes, 2, true);
  const auto match = [](std::vector<header_form> forms, std::size_t at) {
    const header_form first = forms.empty() ? header_form::exact : forms.front();
    return header_match{first, at, std::move(forms)};
  };
  for (std::size_t at = text.find('['); at != std::string_view::npos; at = text.find('[', at + 1)) {
    if (auto forms = header_at(bytes, eight_bit, at)) {
      return match(std::move(*forms), at);
    }
    // UTF-16 characters start at even offsets: read at odd ones, little-
    // endian text would pass for big-endian. The '[' of big-endian text is
    // the second byte of its character.
    const bool even = at % 2 == 0;
    const characters& utf16 = even ? little_endian : big_endian;
    const std::size_t from = even ? at : at - 1;
    if (auto forms = header_at(bytes, utf16, from)) {
      return match(std::move(*forms), from);
    }
  }
  return std::nullopt;
}

}  // namespace dbgparse::dbg
