// The reference model against the golden tables and hand-made cases, and the
// optimised conversion against the reference model on the same cases and on
// hostile inputs. The value field's reading is also held against the C
// library's own "%8x" on zero-terminated copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "conversion.h"
#include "diagnosis.h"
#include "golden_files.h"
#include "reference_model.h"

namespace {

using namespace std::string_literals;
using bytes = std::vector<unsigned char>;
using test_support::golden_names;
using test_support::golden_test_name;
using test_support::read_bytes;
using test_support::to_bytes;

const std::string header = "[Checksums]\r\n";

// The conversion's two entry points: over its own buffer, as the listing
// converts, and streamed in blocks, as dbgparse converts (the smallest
// blocks, so that entries straddle them).
bytes in_place(const bytes& input) {
  bytes buffer = input;
  buffer.resize(dbgparse::parse_qb(buffer, buffer.size()));
  return buffer;
}

// A sink that appends each piece to `table`.
auto appending_to(bytes& table) {
  return [&table](std::span<const unsigned char> piece) {
    table.insert(table.end(), piece.begin(), piece.end());
    return true;
  };
}

bytes streamed(const bytes& input) {
  bytes table;
  dbgparse::write_table(input, appending_to(table), 1);
  return table;
}

// Converted while warning, as dbgparse converts: the walk then takes every
// text that holds a blank the long way.
bytes warned(const bytes& input) {
  bytes table;
  dbgparse::convert_and_diagnose(input, appending_to(table),
                                 [](const dbgparse::warning&) { return true; });
  return table;
}

struct entry_point {
  const char* name;
  bytes (*convert)(const bytes&);
};
constexpr entry_point entry_points[] = {
    {"parse_qb", in_place}, {"write_table", streamed}, {"convert_and_diagnose", warned}};

struct entry {
  std::uint32_t checksum;
  std::string text;  // as it stands in the table
};

// The table the layout gives for these entries, built without the model.
bytes table_of(const std::vector<entry>& entries) {
  bytes table;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    table.push_back(i == 0 ? 0x01 : 0x00);
    table.push_back(0x2B);
    for (int shift = 0; shift < 32; shift += 8) {
      table.push_back(static_cast<unsigned char>(entries[i].checksum >> shift));
    }
    table.insert(table.end(), entries[i].text.begin(), entries[i].text.end());
  }
  table.push_back(0x00);
  table.push_back(0x00);
  return table;
}

// The model and the conversion, through each entry point, agree, and the
// table keeps the layout's rules.
void expect_agreement(const bytes& input, const std::string& case_name) {
  const reference_model::conversion model = reference_model::convert(input);
  for (const entry_point& way : entry_points) {
    const std::string name = case_name + " (" + way.name + ")";
    const bytes table = way.convert(input);
    EXPECT_EQ(table.size(), model.table.size()) << name;
    const auto difference =
        std::mismatch(table.begin(), table.end(), model.table.begin(), model.table.end());
    EXPECT_TRUE(difference.first == table.end() && difference.second == model.table.end())
        << name << ": first difference at table byte " << (difference.first - table.begin());
    EXPECT_EQ(reference_model::layout_fault(table, model.text_lengths), "") << name;
  }
}

// ---------------------------------------------------------------------------
// Golden tables

TEST(golden_tables, are_present) { EXPECT_GE(golden_names().size(), 10U); }

class golden_table : public testing::TestWithParam<std::string> {};

TEST_P(golden_table, model_and_conversion_both_give_it) {
  const std::filesystem::path data(DBGPARSE_TEST_DATA);
  const bytes input = read_bytes(data / (GetParam() + ".dbg"));
  const bytes expected = read_bytes(data / (GetParam() + ".qb"));
  EXPECT_EQ(reference_model::convert(input).table, expected);
  expect_agreement(input, GetParam());
}

INSTANTIATE_TEST_SUITE_P(data, golden_table, testing::ValuesIn(golden_names()), golden_test_name);

// ---------------------------------------------------------------------------
// Hand-made cases, with the entries each one must give

struct hand_case {
  std::string name;
  std::string input;
  std::vector<entry> expected;
};

std::vector<hand_case> hand_cases() {
  const std::string t300(300, 't');
  const std::string t255(255, 't');
  std::string zero_at_100 = t300;
  zero_at_100[100] = '\0';
  std::string zero_at_260 = t300;
  zero_at_260[260] = '\0';
  const std::string a300(300, 'a');
  const std::string h = header;
  return {
      {"empty input", "", {}},
      {"one byte", "0", {}},
      {"no header", "0x00000001 a\r\n", {}},
      {"header ending in lf alone", "[Checksums]\n0x00000001 a\r\n", {}},
      {"header ending in cr alone", "[Checksums]\r0x00000001 a\r\n", {}},
      {"header ending in cr cr lf", "[Checksums]\r\r\n0x00000001 a\r\n", {}},
      {"header in capitals", "[CHECKSUMS]\r\n0x00000001 a\r\n", {}},
      {"header after a broken one", "[Checksums]\r\r\n[Checksums]\r\n0x00000001 a\r\n", {{1, "a"}}},
      {"header not at a line start", "x = [Checksums]\r\n0x00000001 a\r\n", {{1, "a"}}},
      {"line before the header ignored", "0x00000009 z\r\n" + h + "0x00000001 a\r\n", {{1, "a"}}},
      {"line right behind 0x before header", "0x[Checksums]\r\n0x00000001 a\r\n", {{1, "a"}}},
      {"two lines", h + "0x00000001 a\r\n0x00000002 bc\r\n", {{1, "a"}, {2, "bc"}}},
      {"digits of either case", h + "0xdeadBEEF n\r\n", {{0xDEADBEEF, "n"}}},
      {"capital X begins no line", h + "0X00000005 no\r\n0x00000006 yes\r\n", {{6, "yes"}}},
      {"short value field", h + "0x12C long_name\r\n", {{0x12C, "name"}}},
      {"letters in the value field", h + "0xZZZZZZZZ z\r\n", {{0, "z"}}},
      {"blank value field reads on", h + "0x         cafe\r\n", {{0xCAFE, "cafe"}}},
      {"white space across a line end", h + "0x  \r\n 1f  text\r\n", {{0x1F, "text"}}},
      {"white space does not count", h + "0x   12345678 z\r\n", {{0x12345678, "78 z"}}},
      {"all kinds of white space", h + "0x\v\f\t 000A t\r\n", {{0xA, "t"}}},
      {"minus", h + "0x-0000001 m\r\n", {{0xFFFFFFFF, "m"}}},
      {"minus after white space", h + "0x  -00001 z\r\n", {{0xFFFFFFFF, "z"}}},
      {"plus", h + "0x+000002A p\r\n", {{0x2A, "p"}}},
      {"sign counts toward the width", h + "0x+12345678 w\r\n", {{0x1234567, " w"}}},
      {"sign alone", h + "0x-        q\r\n", {{0, "q"}}},
      {"prefix in the value field", h + "0x0X12345F a\r\n", {{0x12345F, "a"}}},
      {"sign and prefix", h + "0x-0x0000F s\r\n", {{0xFFFFFFF1, "s"}}},
      {"prefix without digits", h + "0x0Xg00000 q\r\n", {{0, "q"}}},
      {"digits past the field unread", h + "0x123456789 t\r\n", {{0x12345678, " t"}}},
      {"tab separator", h + "0x0000000A\tt\r\n", {{0xA, "t"}}},
      {"line in mid line", h + "name = 0x00000007 mid\r\n", {{7, "mid"}}},
      {"line below another header",
       h + "0x00000001 a\r\n[Other]\r\n0x00000002 b\r\n",
       {{1, "a"}, {2, "b"}}},
      {"header again in the section",
       h + "0x00000001 a\r\n" + h + "0x00000002 b\r\n",
       {{1, "a"}, {2, "b"}}},
      {"empty text stops the scan", h + "0x00000001 \r\n0x00000002 b\r\n", {{1, ""}}},
      {"last text without line end", h + "0x00000001 a\r\n0x00000002 last", {{1, "a"}, {2, ""}}},
      {"last text ending in lone lf", h + "0x00000001 last\n", {{1, "last"}}},
      {"last text ending in lone cr", h + "0x00000001 last\r", {{1, "last"}}},
      {"zero byte in a text", h + "0x00000001 ab\0cd\r\n"s, {{1, "ab\0\0\0"s}}},
      {"zero byte first in a text", h + "0x00000001 \0abc\r\n"s, {{1, "\0\0\0\0"s}}},
      {"line inside a text", h + "0x00000001 a0x00000002 b\r\n", {{1, "a0x00000002 b"}, {2, "b"}}},
      {"lines nested twice",
       h + "0x00000001 a0x00000002 b0x00000003 c\r\n",
       {{1, "a0x00000002 b0x00000003 c"}, {2, "b0x00000003 c"}, {3, "c"}}},
      {"line inside a text, separator on the line end",
       h + "0x00000001 a0x00000002\r\nb\r\n",
       {{1, "a0x00000002"}, {2, ""}}},
      {"line inside a text, its own text on the next line",
       h + "0x00000001 a0x0000002\r\nb\r\n",
       {{1, "a0x0000002"}, {2, "b"}}},
      {"text starting with 0x", h + "0x00000001 0x00000002 b\r\n", {{1, "0x00000002 b"}}},
      {"cut inside the value field", h + "0x12", {{0x12, ""}}},
      {"cut right after 0x", h + "0x", {{0, ""}}},
      {"cut at the separator", h + "0x00000001", {{1, ""}}},
      {"cut after the separator", h + "0x00000001 ", {{1, ""}}},
      {"cr-only lines", h + "0x00000001 a\r0x00000002 b\r", {{1, "a"}, {2, "b"}}},
      {"lf-only lines", h + "0x00000001 a\n0x00000002 b\n", {{1, "a"}, {2, "b"}}},
      {"lf before cr", h + "0x00000001 a\n\r0x00000002 b\r\n", {{1, "a"}, {2, "b"}}},
      {"text of 255 bytes", h + "0x00000001 " + t255 + "\r\n", {{1, t255}}},
      {"text of 256 bytes", h + "0x00000001 " + t255 + "t\r\n", {{1, t255}}},
      {"text of 300 bytes", h + "0x00000001 " + t300 + "\r\n", {{1, t255}}},
      {"long text, zero byte at 100",
       h + "0x00000001 " + zero_at_100 + "\r\n",
       {{1, std::string(100, 't') + std::string(155, '\0')}}},
      {"long text, zero byte at 260", h + "0x00000001 " + zero_at_260 + "\r\n", {{1, t255}}},
      {"line behind a long text's cut",
       h + "0x00000001 " + a300 + "0x00000002 b\r\n",
       {{1, std::string(255, 'a')}, {2, "b"}}},
  };
}

TEST(hand_cases, model_gives_the_expected_entries) {
  for (const hand_case& c : hand_cases()) {
    const reference_model::conversion model = reference_model::convert(to_bytes(c.input));
    EXPECT_EQ(model.table, table_of(c.expected)) << c.name;
    std::vector<std::size_t> lengths;
    for (const entry& e : c.expected) {
      lengths.push_back(e.text.size());
    }
    EXPECT_EQ(model.text_lengths, lengths) << c.name;
  }
}

TEST(hand_cases, conversion_agrees_with_model) {
  for (const hand_case& c : hand_cases()) {
    expect_agreement(to_bytes(c.input), c.name);
  }
}

TEST(hand_cases, layout_examples_come_out_byte_for_byte) {
  // Two tables whose bytes are known independently of any builder.
  const bytes one_entry = reference_model::convert(to_bytes(header + "0x00000001 a\r\n")).table;
  EXPECT_EQ(one_entry, (bytes{0x01, 0x2B, 0x01, 0x00, 0x00, 0x00, 0x61, 0x00, 0x00}));
  const bytes no_entry = reference_model::convert(to_bytes("no section here")).table;
  EXPECT_EQ(no_entry, (bytes{0x00, 0x00}));
}

// ---------------------------------------------------------------------------
// The value field, against the C library on zero-terminated copies

std::uint32_t library_checksum(const std::string& field) {
  unsigned int checksum = 0;
  // "%8x" reads exactly as "%08x": the 0 is part of the width.
  // NOLINTNEXTLINE(cert-err34-c): the library's own reading is what is compared
  if (std::sscanf(field.c_str(), "%8x", &checksum) != 1) {
    checksum = 0;
  }
  return checksum;
}

// The checksum the conversion gives to a checksum line whose field runs to the
// input's end.
std::uint32_t converted_checksum(const std::string& field) {
  const bytes table = in_place(to_bytes(header + "0x" + field));
  std::uint32_t checksum = 0;
  for (int k = 3; k >= 0; --k) {
    checksum = checksum << 8 | table.at(2 + static_cast<std::size_t>(k));
  }
  return checksum;
}

void expect_checksum_read_as_library_does(const std::string& field) {
#ifndef __GLIBC__
  GTEST_SKIP() << "other C libraries read \"%8x\" differently at its edges";
#endif
  const std::uint32_t expected = library_checksum(field);
  EXPECT_EQ(reference_model::read_value_field(to_bytes(field), 0), expected)
      << testing::PrintToString(field);
  EXPECT_EQ(converted_checksum(field), expected) << testing::PrintToString(field);
}

TEST(value_field, reads_as_the_library_does) {
  const std::string fields[] = {
      "",
      "0",
      "00000000",
      "FFFFFFFF",
      "ffffffff",
      "deadBEEF",
      "123456789",
      "1",
      "12C x",
      "ZZZZZZZZ",
      "g",
      "        cafe",
      "\t\n\v\f\r 7",
      " \r\n",
      "-00000001",
      "-1",
      "+2A",
      "+-1",
      "-+1",
      "-",
      "+",
      "- 1",
      "0x",
      "0X",
      "0x1",
      "0XaB",
      "0x0x5",
      "-0x0000F",
      "+0x1234567",
      "0x12345678",
      "00x5",
      "x5",
      "0xg",
      "-0xg",
      "12\0"
      "34"s,
      "\0"
      "5"s,
      "   -ffffffff",
      "1234567 8",
      "7fffffff",
      "80000000",
      "-80000000",
      "-fffffff",
  };
  for (const std::string& field : fields) {
    expect_checksum_read_as_library_does(field);
  }
}

TEST(value_field, random_fields_read_as_the_library_does) {
  const std::string alphabet = " \t\n\v\f\r+-0xX19aAfFgG\0"s;
  std::mt19937 random(20240607);  // NOLINT(cert-msc32-c,cert-msc51-cpp): repeatable on purpose
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<int> length(0, 12);
  for (int i = 0; i < 5000; ++i) {
    std::string field;
    for (int n = length(random); n > 0; --n) {
      field += alphabet[pick(random)];
    }
    expect_checksum_read_as_library_does(field);
  }
}

TEST(value_field, eight_positions_with_a_byte_next_to_the_digits_read_as_the_library_does) {
  // The common field is read 8 bytes at once: each byte on either side of
  // the digits' and letters' ranges, and their forms with the high bit set,
  // in each of the 8 positions.
  const std::string near = "/:@G`g\x00\x10\x7f\x80\xb0\xc1\xe6\xff"s;
  for (const char odd : near) {
    for (std::size_t at = 0; at < 8; ++at) {
      std::string field = "9aF0cE1b";
      field[at] = odd;
      expect_checksum_read_as_library_does(field);
      expect_checksum_read_as_library_does(field + " name");
    }
  }
}

// ---------------------------------------------------------------------------
// Where a text ends against the 64 bytes the scan looks at together

TEST(block_edges, blocks_marked_in_runs_as_one_at_a_time) {
  // Runs of blocks are marked the fastest way the processor has; each
  // block's marks must be those of the plain marking.
  const std::string alphabet = "0x\r\n\t\x00\x0d\x0e\xff a"s;
  std::mt19937 random(20261209);  // NOLINT(cert-msc32-c,cert-msc51-cpp): repeatable on purpose
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  for (const std::size_t blocks : {std::size_t{1}, std::size_t{3}, std::size_t{64}}) {
    bytes input(blocks * dbgparse::dbg::block_size + 1);
    std::generate(input.begin(), input.end(),
                  [&] { return static_cast<unsigned char>(alphabet[pick(random)]); });
    std::vector<dbgparse::dbg::block_marks> marks(blocks);
    dbgparse::dbg::mark_blocks(input.data(), marks, input.data(), input.size());
    for (std::size_t k = 0; k < blocks; ++k) {
      const dbgparse::dbg::block_marks one =
          dbgparse::dbg::mark(input.data() + k * dbgparse::dbg::block_size);
      EXPECT_EQ(marks[k].stops, one.stops) << "block " << k << " of " << blocks;
      EXPECT_EQ(marks[k].starts, one.starts) << "block " << k << " of " << blocks;
    }
  }
}

TEST(block_edges, conversion_agrees_with_model_wherever_a_text_ends) {
  // A text of every length around the block's, holding at its start, its
  // end or the block's last bytes something the scan must tell apart, then
  // a further line; and the input's own end at each of its last 80 bytes.
  const std::string specials[] = {"\r\n", "\n", "\r", "\t", "\0"s, "0x", "x", "\xff", " "};
  for (std::size_t length = 0; length <= 72; ++length) {
    for (const std::string& special : specials) {
      for (const std::size_t at : {std::size_t{1}, std::size_t{62}, std::size_t{63}, length}) {
        std::string text(length, 'n');
        text.insert(std::min(at, length), special);
        const bytes input = to_bytes(header + "0x0000abcd " + text + "\r\n0x00001234 next\r\n");
        for (std::size_t cut = 0; cut <= std::min<std::size_t>(80, input.size()); ++cut) {
          expect_agreement(bytes(input.begin(), input.end() - static_cast<std::ptrdiff_t>(cut)),
                           "text of " + std::to_string(length) + " with " +
                               testing::PrintToString(special) + " at " + std::to_string(at) +
                               ", last " + std::to_string(cut) + " bytes cut");
        }
      }
    }
  }
  // Blocks are marked a few kilobytes at a time: lines of every length in
  // turn, each holding the same byte, put texts at every offset of those
  // runs too.
  for (const std::string& special : specials) {
    std::string input = header;
    for (std::size_t line = 0; input.size() < (std::size_t{40} << 10); ++line) {
      std::string text(line % 75, 'n');
      text.insert(line % 7 * text.size() / 6, special);
      input += "0x0000abcd " + text + "\r\n";
    }
    expect_agreement(to_bytes(input), "40 KiB of lines with " + testing::PrintToString(special));
  }
}

// ---------------------------------------------------------------------------
// Hostile inputs

struct hostile_case {
  std::string name;
  std::function<std::string()> make;
  std::size_t min_entries;  // so that a case cannot pass by converting nothing
};

std::string numbered_lines(int count, const std::string& line_end) {
  std::string text = header;
  char line[32];
  for (int i = 0; i < count; ++i) {
    std::snprintf(line, sizeof line, "0x%08x name_%d", static_cast<unsigned>(i) * 2654435761U, i);
    text += line + line_end;
  }
  return text;
}

std::vector<hostile_case> hostile_cases() {
  return {
      {"thousands of 0x in one text",
       [] {
         std::string text = header + "0x00000001 ";
         for (int i = 0; i < 5000; ++i) {
           text += "0x";
         }
         return text + "\r\n";
       },
       // Each line found inside the text resumes the scan 12 bytes on.
       800},
      {"thousands of nested lines in one text",
       [] {
         std::string text = header + "0x00000001 ";
         for (int i = 0; i < 3000; ++i) {
           text += "a0x0000abcd ";
         }
         return text + "end\r\n";
       },
       3000},
      {"lf-only lines", [] { return numbered_lines(20000, "\n"); }, 20000},
      {"cr-only lines", [] { return numbered_lines(20000, "\r"); }, 20000},
      {"megabytes of blanks after 0x",
       [] { return header + "0x" + std::string(4 << 20, ' ') + "1234abcd tail\r\n"; }, 1},
      {"megabytes of mixed white space after 0x",
       [] {
         std::string text = header + "0x";
         for (int i = 0; i < (1 << 20); ++i) {
           text += " \t\v\f";
         }
         return text + "\r\n-12 tail\r\n";
       },
       1},
      {"megabytes of white space to the end",
       [] { return header + "0x" + std::string(2 << 20, '\t'); }, 1},
      {"text of many zero bytes",
       [] { return header + "0x00000001 a" + std::string(100000, '\0') + "\r\n0x2 b\r\n"; }, 2},
      {"header repeated many times",
       [] {
         std::string text;
         for (int i = 0; i < 10000; ++i) {
           text += header + "0x00000001 a\r\n";
         }
         return text;
       },
       10000},
      {"broken headers before the real one",
       [] {
         std::string text;
         for (int i = 0; i < 10000; ++i) {
           text += "[Checksums]\r[Checksums]\n0x00000001 a\r\n";
         }
         return text + header + "0x00000002 b\r\n";
       },
       1},
  };
}

TEST(hostile_inputs, conversion_agrees_with_model) {
  for (const hostile_case& c : hostile_cases()) {
    const bytes input = to_bytes(c.make());
    EXPECT_GE(reference_model::convert(input).text_lengths.size(), c.min_entries) << c.name;
    expect_agreement(input, c.name);
  }
}

// ---------------------------------------------------------------------------
// The layout check itself

TEST(layout_fault, finds_each_broken_rule) {
  struct example {
    std::string name;
    bytes table;
    std::vector<std::size_t> text_lengths;
    bool sound;
  };
  const example examples[] = {
      {"no entries", {0x00, 0x00}, {}, true},
      {"one entry", {0x01, 0x2B, 1, 0, 0, 0, 'a', 0x00, 0x00}, {1}, true},
      {"empty last text", {0x01, 0x2B, 1, 0, 0, 0, 0x00, 0x00}, {0}, true},
      {"two entries",
       {0x01, 0x2B, 1, 0, 0, 0, 'a', 0x00, 0x2B, 2, 0, 0, 0, 0x00, 0x00},
       {1, 0},
       true},
      {"too short for its entries", {0x01, 0x2B, 1, 0, 0, 0, 0x00, 0x00}, {1}, false},
      {"no end marker", {0x01, 0x2B, 1, 0, 0, 0, 'a', 0x00, 0x01}, {1}, false},
      {"first byte 01 without entries", {0x01, 0x00}, {}, false},
      {"first byte 00 with an entry", {0x00, 0x2B, 1, 0, 0, 0, 'a', 0x00, 0x00}, {1}, false},
      {"second marker 01",
       {0x01, 0x2B, 1, 0, 0, 0, 'a', 0x01, 0x2B, 2, 0, 0, 0, 0x00, 0x00},
       {1, 0},
       false},
      {"marker without 2B", {0x01, 0x2C, 1, 0, 0, 0, 'a', 0x00, 0x00}, {1}, false},
      {"empty text not last",
       {0x01, 0x2B, 1, 0, 0, 0, 0x00, 0x2B, 2, 0, 0, 0, 0x00, 0x00},
       {0, 0},
       false},
      {"line end in a text", {0x01, 0x2B, 1, 0, 0, 0, '\n', 0x00, 0x00}, {1}, false},
  };
  for (const example& e : examples) {
    EXPECT_EQ(reference_model::layout_fault(e.table, e.text_lengths).empty(), e.sound) << e.name;
  }
  const bytes long_text_table = table_of({{1, std::string(256, 't')}});
  EXPECT_FALSE(
      reference_model::layout_fault(long_text_table, std::vector<std::size_t>{256}).empty());
}

}  // namespace
