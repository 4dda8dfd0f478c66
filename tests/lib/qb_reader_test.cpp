// Unit tests of the table reader: the entries of well-formed tables, and the
// offset of each fault with the entries read before it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "qb_reader.h"

namespace {

using dbgparse::qb::table_reader;

struct expected_entry {
  std::uint32_t checksum;
  std::string name;
  std::size_t padding;
};

std::vector<unsigned char> bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

TEST(qb_reader, reads_each_entry_with_its_padding) {
  using namespace std::string_view_literals;
  struct table_case {
    std::string name;
    std::string_view table;
    std::vector<expected_entry> entries;
  };
  const table_case cases[] = {
      {"empty table", "\x00\x00"sv, {}},
      {"two entries, value little-endian",
       "\x01\x2B\x2A\x00\x00\x00one\x00\x2B\x04\x03\x02\x01two\x00\x00"sv,
       {{0x2A, "one", 0}, {0x01020304, "two", 0}}},
      {"padding before a marker and before the end",
       "\x01\x2B\x01\x00\x00\x00"
       "ab\x00\x00\x00\x2B\x02\x00\x00\x00\x00\x00\x00"sv,
       {{1, "ab", 2}, {2, "", 1}}},
      {"empty names, a name starting with the tag byte",
       "\x01\x2B\x00\x00\x00\x00\x00\x2B\x00\x00\x00\x2B+x\x00\x00"sv,
       {{0, "", 0}, {0x2B000000, "+x", 0}}},
  };
  for (const table_case& c : cases) {
    const std::vector<unsigned char> table = bytes_of(c.table);
    table_reader reader(table);
    std::vector<expected_entry> got;
    while (const auto item = reader.next()) {
      got.push_back(
          {item->checksum, std::string(item->name.begin(), item->name.end()), item->padding});
    }
    EXPECT_TRUE(reader.at_end()) << c.name;
    ASSERT_EQ(got.size(), c.entries.size()) << c.name;
    for (std::size_t k = 0; k < got.size(); ++k) {
      EXPECT_EQ(got[k].checksum, c.entries[k].checksum) << c.name << ", entry " << k;
      EXPECT_EQ(got[k].name, c.entries[k].name) << c.name << ", entry " << k;
      EXPECT_EQ(got[k].padding, c.entries[k].padding) << c.name << ", entry " << k;
    }
  }
}

TEST(qb_reader, reports_each_fault_at_its_offset) {
  using namespace std::string_view_literals;
  struct fault_case {
    std::string name;
    std::string_view table;
    std::size_t entries_before;
    std::size_t offset;
  };
  const fault_case cases[] = {
      {"empty file", ""sv, 0, 0},
      {"one zero byte", "\x00"sv, 0, 1},
      {"a later entry's marker first",
       "\x00\x2B\x01\x00\x00\x00"
       "a\x00\x00"sv,
       0, 0},
      {"wrong first byte",
       "\x02\x2B\x01\x00\x00\x00"
       "a\x00\x00"sv,
       0, 0},
      {"wrong tag in the first marker",
       "\x01\x2C\x01\x00\x00\x00"
       "a\x00\x00"sv,
       0, 1},
      {"bytes after an empty table", "\x00\x00\x00"sv, 0, 2},
      {"value cut short", "\x01\x2B\x01\x00"sv, 0, 4},
      {"no end marker", "\x01\x2B\x01\x00\x00\x00name"sv, 0, 10},
      {"half an end marker",
       "\x01\x2B\x01\x00\x00\x00"
       "a\x00\x2B\x02\x00\x00\x00"
       "b\x00"sv,
       1, 15},
      {"wrong marker tag",
       "\x01\x2B\x01\x00\x00\x00"
       "a\x00\x2C"sv,
       0, 8},
      {"bytes after the end marker",
       "\x01\x2B\x01\x00\x00\x00"
       "a\x00\x00junk"sv,
       0, 9},
  };
  for (const fault_case& c : cases) {
    const std::vector<unsigned char> table = bytes_of(c.table);
    table_reader reader(table);
    std::size_t entries = 0;
    while (reader.next()) {
      ++entries;
    }
    ASSERT_TRUE(reader.fault().has_value()) << c.name;
    EXPECT_FALSE(reader.at_end()) << c.name;
    EXPECT_EQ(reader.fault()->offset, c.offset) << c.name << ": " << reader.fault()->expected;
    EXPECT_EQ(entries, c.entries_before) << c.name;
    EXPECT_FALSE(reader.next().has_value()) << c.name << ": read on after the fault";
  }
}

}  // namespace
