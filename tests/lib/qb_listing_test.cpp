// Unit tests of the listing: its lines, the round trip through dbgparse for
// tables made from DBG text (inner "0x" entries, the 255-byte cut, padding),
// and the entries that no listing reproduces.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <numeric>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "conversion.h"
#include "golden_files.h"
#include "qb_listing.h"
#include "qb_reader.h"

namespace {

using bytes = std::vector<unsigned char>;
namespace qb = dbgparse::qb;

using test_support::to_bytes;

bytes convert(bytes dbg) {
  dbg.resize(dbgparse::parse_qb(dbg, dbg.size()));
  return dbg;
}

struct listed {
  bytes listing;
  std::vector<std::size_t> warned;  // entry numbers
};

listed list(const bytes& table) {
  listed out;
  const qb::listing_outcome outcome = qb::write_listing(
      table,
      [&out](std::span<const unsigned char> piece) {
        out.listing.insert(out.listing.end(), piece.begin(), piece.end());
        return true;
      },
      [&out](const qb::listing_warning& w) { out.warned.push_back(w.number); });
  EXPECT_FALSE(outcome.fault.has_value());
  return out;
}

// "0x11111111 " followed by `count` times "0x12345678 ".
std::string checksums_line(int count) {
  std::string line = "0x11111111 ";
  for (int k = 0; k < count; ++k) {
    line += "0x12345678 ";
  }
  return line;
}

// `count` lines whose names end in "0x12": that inner entry reads its checksum
// from the line's end and its name from the next line, whose own entry it
// swallows, so that all the lines make one chain of entries.
std::string chained_lines(int count) {
  std::string lines;
  for (int k = 0; k < count; ++k) {
    std::array<char, 32> line{};
    std::snprintf(line.data(), line.size(), "0x%08x n%d_0x12\r\n", static_cast<unsigned>(k), k);
    lines += line.data();
  }
  return lines;
}

TEST(qb_listing, writes_one_line_per_entry) {
  using namespace std::string_view_literals;
  const bytes table = to_bytes("\x01\x2B\x2A\x00\x00\x00one\x00\x2B\xEF\xBE\xAD\xDEtwo\x00\x00"sv);
  EXPECT_EQ(list(table).listing, to_bytes("[Checksums]\r\n0x0000002a one\r\n0xdeadbeef two\r\n"));
  EXPECT_EQ(list(to_bytes("\x00\x00"sv)).listing, to_bytes("[Checksums]\r\n"));
}

// Tables that dbgparse made from these lines come back byte for byte.
TEST(qb_listing, round_trips_tables_made_from_dbg_text) {
  using namespace std::string_view_literals;
  const std::string long_name(300, 'n');
  // Names cut to 255 bytes whose inner "0x" entries run past the cut: one
  // starts well before it, one has its value field cut through.
  const std::string cut_before = std::string(100, 'a') + "0x00001234 " + std::string(300, 'c');
  const std::string cut_in_field =
      std::string(248, 'a') + "0x0000abcd " + std::string(280, 'b') + "0x0000000f c";
  const std::string_view cases[] = {
      "0x00000001 a0x00000002 b\r\n0x00000003 c\r\n",
      "0x00000001 a0x0x0x0x0x0x0x0x0x0x0x0x\r\n0x00000003 c\r\n",
      "0x00000001 ends_in_0x\r\n0x00abcdef more\r\n0x00000003 c\r\n",
      "0x00000001 ab0x12\r\n0x00000002 c\r\n",
      "0x00000001 ab0x12345\r\n0x00000002 cdef\r\n",
      "0x00000001 ab0x      \r\n0x12345678 c\r\n",
      "0x00000001 ab0x         \r\n0x12345678 c\r\n",
      "0x00000001 last0x",
      "0x00000001 zero\0byte\r\n0x00000002 \0\r\n0x00000003 c\r\n"sv,
      "0x00000001 0xstarts_with_it\r\n",
      "0x00000001 name\r\n0x00000002 \r\n",
  };
  std::vector<std::string> inputs(std::begin(cases), std::end(cases));
  for (const std::string& name : {long_name, cut_before, cut_in_field}) {
    inputs.push_back("0x00000001 " + name + "\r\n0x00000002 x\r\n");
  }
  // One ordinary line of many checksums: its name is cut, and each inner
  // entry shows a little more of the line, some 2 KiB of it in all.
  const std::string many = checksums_line(200);
  inputs.push_back(many + "end\r\n");
  // The same line 55 KiB long, and a chain of 60 KiB of lines: no length
  // makes a group too long to list.
  inputs.push_back(checksums_line(5000) + "end\r\n");
  inputs.push_back(chained_lines(3000));
  for (const std::string& name : test_support::golden_names()) {
    const bytes golden =
        test_support::read_bytes(std::filesystem::path(DBGPARSE_TEST_DATA) / (name + ".dbg"));
    inputs.emplace_back(golden.begin(), golden.end());
  }
  for (const std::string& lines : inputs) {
    const bytes table = convert(to_bytes("[Checksums]\r\n" + lines));
    const listed got = list(table);
    EXPECT_TRUE(got.warned.empty()) << lines;
    EXPECT_EQ(convert(got.listing), table) << lines;
  }
}

// Each entry as checksum and name with its padding, in order.
std::vector<std::pair<std::uint32_t, bytes>> entries_of(const bytes& table) {
  std::vector<std::pair<std::uint32_t, bytes>> out;
  qb::table_reader reader(table);
  while (const std::optional<qb::entry> item = reader.next()) {
    out.emplace_back(item->checksum, bytes(item->name.begin(), item->name.end()));
    out.back().second.resize(item->name.size() + item->padding, 0);
  }
  return out;
}

// A table made from DBG text, then one inner entry's checksum changed: no line
// makes the entries whose group holds it any more, so they are left out, and
// the listing makes every other entry, in order.
TEST(qb_listing, leaves_out_the_lines_that_a_changed_inner_entry_breaks) {
  const std::string many = checksums_line(200);
  struct changed {
    std::string lines;
    std::size_t entry;   // from 1
    std::size_t warned;  // entries 1 to this one are left out
  };
  const changed cases[] = {
      {"0x00000001 a0x00000002 b\r\n0x00000003 c\r\n", 2, 1},
      {"0x00000001 ab0x12345\r\n0x00000002 cdef\r\n", 2, 1},
      // Each cut name of the long line holds the changed entry in its group.
      {many + "end\r\n", 80, 79},
      {checksums_line(5000) + "end\r\n", 2000, 1999},
      {chained_lines(3000), 2000, 1999},
  };
  for (const changed& c : cases) {
    bytes table = convert(to_bytes("[Checksums]\r\n" + c.lines));
    auto entries = entries_of(table);
    qb::table_reader reader(table);
    for (std::size_t k = 1; k < c.entry; ++k) {
      reader.next();
    }
    table[reader.next()->offset + 2] ^= 1U;
    entries[c.entry - 1].first ^= 1U;
    const listed got = list(table);
    std::vector<std::size_t> warned(c.warned);
    std::iota(warned.begin(), warned.end(), 1);
    EXPECT_EQ(got.warned, warned) << c.lines;
    entries.erase(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(c.warned));
    EXPECT_EQ(entries_of(convert(got.listing)), entries) << c.lines;
  }
}

TEST(qb_listing, leaves_out_what_no_listing_reproduces) {
  using namespace std::string_view_literals;
  struct unlistable {
    std::string name;
    std::string_view table;
    std::vector<std::size_t> warned;
  };
  const std::string too_long =
      std::string("\x01\x2B\x01\x00\x00\x00", 6) + std::string(256, 'n') + std::string(2, '\0');
  // Made from DBG text: the first name ends in "0xx", an entry that takes
  // its value field and name from the next line. No line makes the two;
  // the second, a name cut to 255 bytes, lists on its own.
  std::string text = "[Checksums]\r\n0x145678 a0 0xx\r\n";
  for (int k = 0; k < 24; ++k) {
    text += "0x12345678 ";
  }
  const bytes made = convert(to_bytes(text + "0x123456\n"));
  const std::string reads_into_a_cut_line(made.begin(), made.end());
  const unlistable cases[] = {
      {"CR and LF in names",
       "\x01\x2B\x01\x00\x00\x00"
       "a\rb\x00\x2B\x02\x00\x00\x00"
       "c\nd\x00\x00"sv,
       {1, 2}},
      {"an empty name before the last entry",
       "\x01\x2B\x01\x00\x00\x00\x00\x2B\x02\x00\x00\x00"
       "b\x00\x00"sv,
       {1}},
      {"a name longer than 255 bytes", too_long, {1}},
      {"an inner 0x whose entry the table lacks",
       "\x01\x2B\x01\x00\x00\x00x0x12345678 y\x00\x2B\x02\x00\x00\x00z\x00\x00"sv,
       {1}},
      {"an entry read into a cut line that lists alone", reads_into_a_cut_line, {1}},
  };
  for (const unlistable& c : cases) {
    const bytes table = to_bytes(c.table);
    const listed got = list(table);
    EXPECT_EQ(got.warned, c.warned) << c.name;
    // The rest is listed: as many lines as entries that were kept.
    const bytes again = convert(got.listing);
    EXPECT_LT(again.size(), table.size()) << c.name;
  }
}

}  // namespace
