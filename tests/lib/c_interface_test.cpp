// The C interface against the C++ code it wraps: the golden tables through
// both conversions, the sink's say over the conversion, and the entry reader
// against table_reader on good, cut and damaged tables.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "dbgparse.h"
#include "golden_files.h"
#include "qb_reader.h"

namespace {

using bytes = std::vector<unsigned char>;
using test_support::read_bytes;

const std::string data = DBGPARSE_TEST_DATA;

struct collected {
  bytes table;
  int pieces = 0;
  int stop_after = -1;  // pieces taken before returning 7; -1 never
};

int collect(void* context, const unsigned char* piece, std::size_t size) {
  auto& into = *static_cast<collected*>(context);
  if (into.pieces++ == into.stop_after) {
    return 7;
  }
  into.table.insert(into.table.end(), piece, piece + size);
  return 0;
}

TEST(c_interface, version_is_the_project_version) {
  EXPECT_STREQ(dbgparse_version(), DBGPARSE_VERSION_STRING);
  EXPECT_STREQ(dbgparse_version(), DBGPARSE_EXPECTED_VERSION);
}

TEST(c_interface, both_conversions_give_the_golden_tables) {
  for (const std::string& name : test_support::golden_names()) {
    const bytes dbg = read_bytes(data + "/" + name + ".dbg");
    const bytes expected = read_bytes(data + "/" + name + ".qb");
    collected sunk;
    EXPECT_EQ(dbgparse_convert(dbg.data(), dbg.size(), collect, &sunk), 0) << name;
    EXPECT_EQ(sunk.table, expected) << name;

    const std::size_t length = dbgparse_convert_to(dbg.data(), dbg.size(), nullptr, 0);
    ASSERT_EQ(length, expected.size()) << name;
    // One byte short: nothing is written, not even the part that would fit.
    bytes table(length + 1, 0xEE);
    EXPECT_EQ(dbgparse_convert_to(dbg.data(), dbg.size(), table.data(), length - 1), length);
    EXPECT_EQ(table, bytes(length + 1, 0xEE)) << name;
    EXPECT_EQ(dbgparse_convert_to(dbg.data(), dbg.size(), table.data(), length), length);
    EXPECT_EQ(bytes(table.begin(), table.end() - 1), expected) << name;
    EXPECT_EQ(table.back(), 0xEE) << name << ": written past the table";
  }
  EXPECT_EQ(dbgparse_convert_to(nullptr, 0, nullptr, 0), 2U);
}

TEST(c_interface, a_sink_stops_the_conversion_with_its_value) {
  std::string dbg = "[Checksums]\r\n";
  for (int i = 0; i < 300000; ++i) {  // a table of several blocks
    dbg += "0x0000002a some_name\r\n";
  }
  const auto* input = reinterpret_cast<const unsigned char*>(dbg.data());
  for (const int stop_after : {0, 1, 2}) {
    collected sunk;
    sunk.stop_after = stop_after;
    EXPECT_EQ(dbgparse_convert(input, dbg.size(), collect, &sunk), 7) << stop_after;
    EXPECT_EQ(sunk.pieces, stop_after + 1) << "called again after it said stop";
  }
  // A table of many pieces into a buffer too short by one: none of it lands there.
  collected whole;
  ASSERT_EQ(dbgparse_convert(input, dbg.size(), collect, &whole), 0);
  bytes table(whole.table.size(), 0xEE);
  EXPECT_EQ(dbgparse_convert_to(input, dbg.size(), table.data(), table.size() - 1), table.size());
  EXPECT_EQ(table, bytes(table.size(), 0xEE));
  EXPECT_EQ(dbgparse_convert_to(input, dbg.size(), table.data(), table.size()), table.size());
  EXPECT_EQ(table, whole.table);
}

// Every entry, then the end or the fault: from the C interface, and from the
// reader that qbdump uses.
std::string walk_c(const bytes& table) {
  std::string out;
  std::size_t offset = 0;
  dbgparse_entry entry{};
  const char* reason = nullptr;
  int status = 0;
  while ((status = dbgparse_next_entry(table.data(), table.size(), &offset, &entry, &reason)) ==
         1) {
    out += std::to_string(entry.offset) + ":" + std::to_string(entry.checksum) + ":" +
           std::string(entry.name, entry.name + entry.name_length) + ":" +
           std::to_string(entry.padding) + " ";
  }
  return out + (status == 0 ? "end " : "fault " + std::string(reason) + " ") +
         std::to_string(offset);
}

std::string walk_reader(const bytes& table) {
  std::string out;
  dbgparse::qb::table_reader reader(table);
  while (const auto item = reader.next()) {
    out += std::to_string(item->offset) + ":" + std::to_string(item->value) + ":" +
           std::string(item->name.begin(), item->name.end()) + ":" + std::to_string(item->padding) +
           " ";
  }
  return out + (reader.at_end() ? "end " + std::to_string(table.size())
                                : "fault " + std::string(reader.fault()->expected) + " " +
                                      std::to_string(reader.fault()->offset));
}

TEST(c_interface, next_entry_reads_as_the_reader_does) {
  using namespace std::string_view_literals;
  std::vector<bytes> tables;
  for (const std::string& name : test_support::golden_names()) {
    tables.push_back(read_bytes(data + "/" + name + ".qb"));
  }
  for (const std::string_view table : {
           ""sv,
           "\x00"sv,
           "\x00\x00\x00"sv,
           "\x00\x2B\x01\x00\x00\x00"
           "a\x00\x00"sv,
           "\x01\x2C\x01\x00\x00\x00"
           "a\x00\x00"sv,
           "\x01\x2B\x01\x00\x00\x00"
           "a\x00\x2C"sv,
       }) {
    tables.emplace_back(table.begin(), table.end());
  }
  // Every cut of a table with padding, and every byte of it damaged.
  const std::string_view text =
      "\x01\x2B\x01\x00\x00\x00"
      "ab\x00\x00\x00\x2B\x02\x00\x00\x00\x00\x00\x00"sv;
  const bytes padded(text.begin(), text.end());
  tables.push_back(padded);
  for (std::size_t k = 0; k < padded.size(); ++k) {
    tables.emplace_back(padded.begin(), padded.begin() + static_cast<std::ptrdiff_t>(k));
    for (const int damage : {0x00, 0x2B, 0x41}) {
      bytes damaged = padded;
      damaged[k] = static_cast<unsigned char>(damage);
      tables.push_back(damaged);
    }
  }
  for (const bytes& table : tables) {
    EXPECT_EQ(walk_c(table), walk_reader(table));
  }
}

TEST(c_interface, next_entry_at_offsets_that_are_no_marker) {
  using namespace std::string_view_literals;
  const std::string_view text =
      "\x01\x2B\x01\x00\x00\x00"
      "ab\x00\x00\x00\x2B\x02\x00\x00\x00\x00\x00"sv;  // 18 bytes
  const bytes table(text.begin(), text.end());
  struct offset_case {
    std::size_t offset;
    int status;
    std::size_t offset_after;
  };
  const offset_case cases[] = {
      {6, -1, 6},    // inside the first entry's name
      {8, -1, 10},   // padding: 00 00, then bytes after it
      {9, -1, 11},   // 00 00 that is not the table's last two bytes
      {10, 1, 16},   // the second entry's marker
      {16, 0, 18},   // the end marker
      {17, -1, 18},  // the end marker's second byte alone
      {18, -1, 18},  // the table's end
      {99, -1, 18},  // past it
  };
  for (const offset_case& c : cases) {
    std::size_t offset = c.offset;
    dbgparse_entry entry{};
    EXPECT_EQ(dbgparse_next_entry(table.data(), table.size(), &offset, &entry, nullptr), c.status)
        << c.offset;
    EXPECT_EQ(offset, c.offset_after) << c.offset;
  }
  std::size_t offset = 0;
  dbgparse_entry entry{};
  const char* reason = nullptr;
  EXPECT_EQ(dbgparse_next_entry(nullptr, 0, &offset, &entry, &reason), -1);
  EXPECT_EQ(offset, 0U);
  EXPECT_STREQ(reason, "a table (the file is empty)");
}

}  // namespace
