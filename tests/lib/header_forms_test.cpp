// The section header in the forms that DBG files hold it: which form is
// named, where, and which look-alikes are none.
#include "header_forms.h"

#include <gtest/gtest.h>

#include <optional>
#include <span>
#include <string>

namespace {

using dbgparse::dbg::find_header;
using dbgparse::dbg::header_form;

// `text` as UTF-16 in the given byte order (ASCII characters only).
std::string utf16(const std::string& text, bool big_endian) {
  std::string out;
  for (const char c : text) {
    out += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
  }
  return out;
}

const std::string le_bom = "\xFF\xFE";
const std::string be_bom = "\xFE\xFF";
const std::string utf8_bom = "\xEF\xBB\xBF";

TEST(header_forms, names_the_first_header_like_line_and_where_it_starts) {
  struct example {
    std::string name;
    std::string bytes;
    std::optional<header_form> form;  // none: no header
    std::size_t offset;
  };
  const example examples[] = {
      {"exact at the start", "[Checksums]\r\n0x1 a\r\n", header_form::exact, 0},
      {"exact after text on its line", "x[Checksums]\r\n", header_form::exact, 1},
      {"exact wins over an earlier other form", "[checksums]\n[Checksums]\r\n", header_form::exact,
       12},
      {"exact after a UTF-8 byte order mark", utf8_bom + "[Checksums]\r\n", header_form::exact, 3},
      {"LF alone", "a\r\n[Checksums]\n", header_form::lf_only, 3},
      {"CR alone", "[Checksums]\r0x1 a\r", header_form::cr_only, 0},
      {"CR at the end of the bytes", "[Checksums]\r", header_form::cr_only, 0},
      {"no line end at the end of the bytes", "a\n[Checksums]", header_form::cr_only, 2},
      {"lower case", "[checksums]\r\n", header_form::other_case, 0},
      {"upper case ending in LF", "[CHECKSUMS]\n", header_form::other_case, 0},
      {"blanks before", " \t[Checksums]\n", header_form::blanks, 2},
      {"blanks after, before CR LF", "[Checksums] \r\n", header_form::blanks, 0},
      {"case and blanks: case is named", "\t[checksums]\t\r\n", header_form::other_case, 1},
      {"UTF-8 byte order mark, LF alone", utf8_bom + "[Checksums]\n", header_form::utf8_bom, 3},
      {"UTF-8 byte order mark, lower case", utf8_bom + "[checksums]\r\n", header_form::utf8_bom, 3},
      {"UTF-16 LE with BOM", le_bom + utf16("[Checksums]\r\n", false), header_form::utf16, 2},
      {"UTF-16 BE with BOM", be_bom + utf16("[Checksums]\r\n", true), header_form::utf16, 2},
      {"UTF-16 LE without BOM", utf16("a\r\n[Checksums]\r\n", false), header_form::utf16, 6},
      {"UTF-16 BE without BOM", utf16("a\n[checksums] \n", true), header_form::utf16, 4},
      {"UTF-16 LE at the end of the bytes", utf16("[Checksums]", false), header_form::utf16, 0},
      {"8-bit LF line before a later exact one",
       "[Checksums]\n" + std::string(100, 'x') + "\r\n[Checksums]\r\n", header_form::exact, 114},
      {"the first of two other forms", "[checksums]\r\n[Checksums]\n", header_form::other_case, 0},
      {"no header", "0x1 a\r\n", std::nullopt, 0},
      {"empty", "", std::nullopt, 0},
      {"text before it on the line", "x[Checksums]\n", std::nullopt, 0},
      {"text after it on the line", "[Checksums]x\n", std::nullopt, 0},
      {"cut short", "[Checksums", std::nullopt, 0},
      {"another section", "[Checksum]\r\n[Check sums]\n", std::nullopt, 0},
      {"a byte order mark not at the start", std::string("a\n") + utf8_bom + "[Checksums]\n",
       std::nullopt, 0},
      {"UTF-16 after a stray byte", std::string("a") + utf16("[Checksums]\n", false), std::nullopt,
       0},
      {"UTF-16 with text before it", utf16("x[Checksums]\n", true), std::nullopt, 0},
      {"a table", std::string("\x01\x2B\x01\0\0\0[Checksums]\0\0", 19), std::nullopt, 0},
  };
  for (const example& e : examples) {
    const auto* data = reinterpret_cast<const unsigned char*>(e.bytes.data());
    const auto found = find_header(std::span(data, e.bytes.size()));
    ASSERT_EQ(found.has_value(), e.form.has_value()) << e.name;
    if (found) {
      EXPECT_EQ(found->form, *e.form) << e.name;
      EXPECT_EQ(found->offset, e.offset) << e.name;
    }
  }
}

}  // namespace
