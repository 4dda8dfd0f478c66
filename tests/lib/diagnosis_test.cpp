// The warnings: for each kind of surprising line, the lines and sentences
// the user reads, and none for a clean file.
#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "diagnosis.h"

namespace {

using namespace std::string_view_literals;

std::vector<std::string> warnings_of(std::string_view text) {
  std::vector<std::string> found;
  const auto* data = reinterpret_cast<const unsigned char*>(text.data());
  dbgparse::diagnose({data, text.size()}, [&found](const dbgparse::warning& w) {
    found.push_back(std::to_string(w.line) + ": " + w.message);
    return true;
  });
  return found;
}

struct diagnosis_case {
  std::string_view what;
  std::string input;
  std::vector<std::string> expected;
};

TEST(diagnose, tells_each_surprise_with_its_line) {
  const diagnosis_case cases[] = {
      {"clean", "head\r\n[Checksums]\r\n0x0000002a a_name\r\n0xDEADbeef\tb\r\n", {}},
      {"empty input", "", {"0: the input is empty, so the table has no entries"}},
      {"indented line", "[Checksums]\r\n  0x0000002a a\r\n", {}},
      {"zero bytes before a line", std::string("[Checksums]\r\n\0\0 0x0000002a a\r\n"sv), {}},
      {"no header at all",
       "0x0000002a a\r\n",
       {"0: there is no \"[Checksums]\" line ending in CR LF, so the table is empty"}},
      {"LF line ends",
       "; list\n[Checksums]\n0x0000002a a\n",
       {"2: there is no \"[Checksums]\" line ending in CR LF, so the table is empty: the header "
        "line ends in LF alone"}},
      {"byte order mark and LF",
       "\xEF\xBB\xBF[Checksums]\n0x0000002a a\n",
       {"1: there is no \"[Checksums]\" line ending in CR LF, so the table is empty: the header "
        "line starts with a UTF-8 byte order mark and ends in LF alone"}},
      {"byte order mark, lower case, blanks and CR",
       "\xEF\xBB\xBF[checksums] \r0x0000002a a\r",
       {"1: there is no \"[Checksums]\" line ending in CR LF, so the table is empty: the header "
        "line starts with a UTF-8 byte order mark, reads \"[checksums]\", which differs in case, "
        "has blanks or tabs around it and ends in CR alone"}},
      {"byte order mark before the exact header",
       "\xEF\xBB\xBF[Checksums]\r\n0x0000002a a\r\n",
       {}},
      {"header in lower case",
       "[checksums]\r\n0x0000002a a\r\n",
       {"1: there is no \"[Checksums]\" line ending in CR LF, so the table is empty: the header "
        "\"[checksums]\" differs in case"}},
      {"UTF-16",
       std::string("\xFF\xFE[\0C\0h\0e\0c\0k\0s\0u\0m\0s\0]\0\r\0\n\0"sv),
       {"0: there is no \"[Checksums]\" line ending in CR LF, so the table is empty: the file is "
        "UTF-16 text; save it as ASCII or UTF-8"}},
      {"short value field",
       "[Checksums]\r\n0x1234 short_one\r\n",
       {"2: the value field \"1234 sho\" has 4 digits: the entry is 0x00001234 with the name "
        "\"t_one\""}},
      {"signed value field",
       "[Checksums]\r\n0x-0000001 a\r\n",
       {"2: the value field \"-0000001\" is not 8 hexadecimal digits: the entry is 0xffffffff "
        "with the name \"a\""}},
      {"separator not blank",
       "[Checksums]\r\n0x0000002a,a\r\n",
       {"2: the value field is followed by \",\", not a blank or a tab: the entry is 0x0000002a "
        "with the name \"a\""}},
      {"comment holding 0x",
       "[Checksums]\r\n; see 0x0000002a here\r\n0x00000001 b\r\n",
       {"2: a \"0x\" after the start of the line starts an entry of its own: the entry is "
        "0x0000002a with the name \"here\""}},
      {"0x in a name swallows the next line",
       "[Checksums]\r\n0x11111111 first // note 0x22 here\r\n0x33333333 third\r\n",
       {"2: the name \"first // note 0x22 here\" holds what reads as a comment, \"// note 0x22 "
        "here\", which the table keeps",
        "2: the entry 0x00000022 with the name \"0x33333333 third\": a \"0x\" inside the name of "
        "the entry before starts it; its value field \"22 here\\x0d\" has 2 digits",
        "3: this checksum line makes no entry: it became the name of the entry 0x00000022 of "
        "line 2"}},
      {"0x in a name, its entry without a name",
       "[Checksums]\r\n0x00000010 sprite_0x10_frame\r\n0x00000011 a\r\n0x00000012 b\r\n",
       {"2: the entry 0x00000010 with no name: a \"0x\" inside the name of the entry before starts "
        "it; its value field \"10_frame\" has 2 digits; it has no name, which ends the table: 2 "
        "lines after it are not converted"}},
      {"names that read as something else",
       "[Checksums]\r\n0x2a9d4b1c  player_board\r\n0x2a9d4b1d\t\tindented\r\n"
       "0x2a9d4b1e a   ;b\r\n0x2a9d4b1f n\t# x\r\n"
       "0x2a9d4b21 // skater_name\r\n0x11111111 = name\r\n0x11111112 :name\r\n"
       "0x11111113 two words\r\n0x11111114 a/b;c#d//e\r\n",
       {R"(2: the name " player_board" starts with a blank or a tab, which the table keeps)",
        R"(3: the name "\x09indented" starts with a blank or a tab, which the table keeps)",
        R"(4: the name "a   ;b" holds what reads as a comment, ";b", which the table keeps)",
        R"(5: the name "n\x09# x" holds what reads as a comment, "# x", which the table keeps)",
        R"(6: the name "// skater_name" starts with "//", which the table keeps)",
        R"(7: the name "= name" starts with "=", which the table keeps)",
        R"(8: the name ":name" starts with ":", which the table keeps)"}},
      {"several faults of one name in one warning",
       "[Checksums]\r\n0x00000001  a ; b \r\n",
       {"2: the entry 0x00000001 with the name \" a ; b \": its name starts with a blank or a tab, "
        "which the table keeps; its name holds what reads as a comment, \"; b \", which the table "
        "keeps; its name ends in a blank or a tab, which the table keeps"}},
      {"empty name",
       "[Checksums]\r\n0x00000001 \r\n0x00000002 b\r\n\r\n0x00000003 c\r\n",
       {"2: the entry 0x00000001 has no name, which ends the table: 2 lines after it are not "
        "converted"}},
      {"empty name on the last line",
       "[Checksums]\r\n0x00000001 \r\n",
       {"2: the entry 0x00000001 has no name, which ends the table"}},
      {"no line end at the end",
       "[Checksums]\r\n0x00000001 a\r\n0x00000002 last",
       {"3: the last line has no line end: the entry 0x00000002 gets no name, and \"last\" is "
        "left out"}},
      {"input ends in the value field",
       "[Checksums]\r\n0x00000001 a\r\n0x12",
       {"3: the input ends inside this checksum line: the entry 0x00000012 gets no name and ends "
        "the table"}},
      {"long name",
       "[Checksums]\r\n0x00000001 " + std::string(300, 'n') + "\r\n",
       {"2: the name is 300 bytes long: the entry 0x00000001 keeps its first 255"}},
      {"zero byte",
       std::string("[Checksums]\r\n0x00000001 a\0b\r\n"sv),
       {"2: the name \"a\\x00b\" holds a zero byte: the table has zero bytes from it to the "
        "name's end"}},
      {"trailing blank",
       "[Checksums]\r\n0x00000001 player_board \r\n",
       {"2: the name \"player_board \" ends in a blank or a tab, which the table keeps"}},
      {"capital X and a missing 0x",
       "[Checksums]\r\n0X0000002a a\r\n\t0000002a b\r\n0x00000001 c\r\n",
       {"2: this line starts with \"0X\": only a lower-case \"0x\" starts a checksum line, so it "
        "makes no entry",
        "3: this line starts with 8 hexadecimal digits but no \"0x\", so it makes no entry"}},
      {"lone CR and lone LF each end a line",
       "[Checksums]\r\n\r\r\n\n0x00000001 a \r\n",
       {"5: the name \"a \" ends in a blank or a tab, which the table keeps"}},
  };
  for (const diagnosis_case& c : cases) {
    EXPECT_EQ(warnings_of(c.input), c.expected) << c.what;
  }
}

// A file of ordinary lines is looked at many lines at a time: a surprise
// among them is still told, once, with its line.
TEST(diagnose, tells_a_surprise_among_many_clean_lines) {
  const struct {
    std::string line;
    std::string expected;
  } cases[] = {
      {"0x1234 short_one",
       "the value field \"1234 sho\" has 4 digits: the entry is 0x00001234 with the name "
       "\"t_one\""},
      {"0x-0000001 a",
       "the value field \"-0000001\" is not 8 hexadecimal digits: the entry is 0xffffffff with "
       "the name \"a\""},
      {"0x0000002a,a",
       "the value field is followed by \",\", not a blank or a tab: the entry is 0x0000002a with "
       "the name \"a\""},
      {" ; see 0x0000002a here",
       "a \"0x\" after the start of the line starts an entry of its own: the entry is 0x0000002a "
       "with the name \"here\""},
      {"0x11111111 a0x22222222 b",
       "a \"0x\" inside the name of the entry before starts an entry of its own: the entry is "
       "0x22222222 with the name \"b\""},
      {"0x00000001 " + std::string(300, 'n'),
       "the name is 300 bytes long: the entry 0x00000001 keeps its first 255"},
      {std::string("0x00000001 a\0b"sv),
       "the name \"a\\x00b\" holds a zero byte: the table has zero bytes from it to the name's "
       "end"},
      {"0x00000001 player_board ",
       "the name \"player_board \" ends in a blank or a tab, which the table keeps"},
      {"0X0000002a a",
       "this line starts with \"0X\": only a lower-case \"0x\" starts a checksum line, so it makes "
       "no entry"},
  };
  for (const auto& c : cases) {
    std::string input = "[Checksums]\r\n";
    const auto clean_lines = [&input] {
      for (std::size_t k = 0; k < 100; ++k) {
        input += "0x0000abcd name_" + std::string(k % 50, 'c') + "\r\n";
      }
    };
    clean_lines();
    input += c.line + "\r\n";
    clean_lines();
    EXPECT_EQ(warnings_of(input), std::vector<std::string>{"102: " + c.expected}) << c.line;
  }
}

// Line numbers count CR LF, a lone CR and a lone LF as one line end each,
// wherever they fall among the bytes counted together: the lines before a
// warning are shifted through every position of a 64-byte block.
TEST(diagnose, counts_every_kind_of_line_end_wherever_it_falls) {
  constexpr std::size_t mixed_lines = 60;
  std::string mixed;
  for (std::size_t k = 0; k < mixed_lines; ++k) {
    const std::array<std::string_view, 3> ends = {"\r\n", "\r", "\n"};
    mixed += std::string(1 + k * 7 % 13, 'y') + std::string(ends.at(k % 3));
  }
  for (std::size_t shift = 0; shift < 64; ++shift) {
    const std::string input = "[Checksums]\r\n" + std::string(shift, 'x') + "\r\n" + mixed +
                              "0x00000001 a \r\n0x00000002 b\r\n";
    EXPECT_EQ(warnings_of(input),
              std::vector<std::string>{
                  std::to_string(3 + mixed_lines) +
                  ": the name \"a \" ends in a blank or a tab, which the table keeps"})
        << "shift " << shift;
  }
}

// A warning's kind and offset, printed as such when a test fails.
struct placed {
  dbgparse::warning_kind what;
  std::size_t offset;
  bool operator==(const placed&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const placed& p) {
    return out << "kind " << static_cast<int>(p.what) << " at " << p.offset;
  }
};

// Each warning's offset is the byte it is about: the value field or the
// byte after it, the "0x" that starts an inner entry or a line that ends the
// table, the name's byte at fault, the start of a line that makes no entry.
// An entry with several findings is placed at its first. A file without the
// section is placed at the near miss's '[' (its first byte in UTF-16 text),
// or at the input's start.
TEST(diagnose, places_each_warning_at_the_byte_it_is_about) {
  using kind = dbgparse::warning_kind;
  // Past a "[Checksums]" CR LF, bytes 0 to 12, the first line starts at 13
  // and its name at 24.
  const struct {
    std::string_view what;
    std::string input;
    std::vector<placed> expected;
  } cases[] = {
      {"empty input", "", {{kind::no_section, 0}}},
      {"no header at all", "0x0000002a a\r\n", {{kind::no_section, 0}}},
      {"LF line ends", "; list\n[Checksums]\n", {{kind::no_section, 7}}},
      {"byte order mark", "\xEF\xBB\xBF[Checksums]\n", {{kind::no_section, 3}}},
      {"UTF-16 after its byte order mark",
       std::string("\xFF\xFE[\0C\0h\0e\0c\0k\0s\0u\0m\0s\0]\0\r\0\n\0"sv),
       {{kind::no_section, 2}}},
      {"short value field", "[Checksums]\r\n0x1234 short_one\r\n", {{kind::value_field, 15}}},
      {"separator not blank", "[Checksums]\r\n0x0000002a,a\r\n", {{kind::value_field, 23}}},
      {"0x inside a comment line",
       "[Checksums]\r\n; see 0x0000002a here\r\n0x00000001 b\r\n",
       {{kind::inner_line, 19}}},
      {"empty name", "[Checksums]\r\n0x00000001 \r\n0x00000002 b\r\n", {{kind::empty_name, 13}}},
      {"no line end", "[Checksums]\r\n0x00000001 a\r\n0x00000002 last", {{kind::no_line_end, 27}}},
      {"input ends in the value field",
       "[Checksums]\r\n0x00000001 a\r\n0x12",
       {{kind::no_line_end, 27}}},
      {"long name",
       "[Checksums]\r\n0x00000001 " + std::string(300, 'n') + "\r\n",
       {{kind::name_cut, 24}}},
      {"zero byte",
       std::string("[Checksums]\r\n0x00000001 a\0b\r\n"sv),
       {{kind::name_zero_byte, 25}}},
      {"trailing blank",
       "[Checksums]\r\n0x00000001 player_board \r\n",
       {{kind::name_end_blank, 36}}},
      {"leading blank",
       "[Checksums]\r\n0x00000001  player_board\r\n",
       {{kind::name_unexpected, 24}}},
      {"several faults of one name",
       "[Checksums]\r\n0x00000001  a ; b \r\n",
       {{kind::name_unexpected, 24}}},
      {"capital X and a missing 0x, the second indented",
       "[Checksums]\r\n0X0000002a a\r\n\t0000002a b\r\n0x00000001 c\r\n",
       {{kind::not_converted, 13}, {kind::not_converted, 28}}},
      {"0x in a name swallows the next line",
       "[Checksums]\r\n0x11111111 first // note 0x22 here\r\n0x33333333 third\r\n",
       {{kind::name_unexpected, 30}, {kind::inner_line, 38}, {kind::not_converted, 49}}},
  };
  for (const auto& c : cases) {
    std::vector<placed> found;
    const auto* data = reinterpret_cast<const unsigned char*>(c.input.data());
    dbgparse::diagnose({data, c.input.size()}, [&found](const dbgparse::warning& w) {
      found.push_back({w.kind, w.offset});
      return true;
    });
    EXPECT_EQ(found, c.expected) << c.what;
  }
}

}  // namespace
