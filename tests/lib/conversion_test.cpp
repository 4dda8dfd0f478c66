// Unit tests of the conversion: golden files, the line-end search, and the
// ways the table is handed back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "conversion.h"
#include "dbg_line.h"
#include "golden_files.h"

namespace {

using bytes = std::vector<unsigned char>;
using test_support::golden_names;
using test_support::golden_test_name;
using test_support::read_bytes;
using test_support::to_bytes;

bytes convert(bytes buffer) {
  const std::size_t length = dbgparse::parse_qb(buffer, buffer.size());
  buffer.resize(length);
  return buffer;
}

// Every tests/data/NAME.dbg converts to exactly tests/data/NAME.qb.
class golden_file : public testing::TestWithParam<std::string> {};

TEST_P(golden_file, converts_to_its_table) {
  const std::filesystem::path data(DBGPARSE_TEST_DATA);
  const bytes input = read_bytes(data / (GetParam() + ".dbg"));
  const bytes expected = read_bytes(data / (GetParam() + ".qb"));
  EXPECT_EQ(convert(input), expected);
}

INSTANTIATE_TEST_SUITE_P(data, golden_file, testing::ValuesIn(golden_names()), golden_test_name);

TEST(line_end, finds_the_first_cr_or_lf_within_n_bytes) {
  struct example {
    std::string_view text;
    std::size_t n;
    std::size_t expected;  // n when none of the n bytes is a line end
  };
  const example examples[] = {
      {"abc\r\n", 5, 3},
      {"abc\n\r", 5, 3},
      {"ab\rc\n", 5, 2},
      {"\r\nabc", 5, 0},
      {"abc\r\n", 3, 3},
      {"abc\r\n", 4, 3},
      {"abc", 3, 3},
      {"abc\r", 0, 0},
      {std::string_view("a\0b\n", 4), 4, 3},
      {std::string_view("0123456789abcdef0123\n", 21), 21, 20},
  };
  for (const example& e : examples) {
    const bytes text = to_bytes(e.text);
    EXPECT_EQ(dbgparse::dbg::line_end(std::span(text).first(e.n), 0), e.expected)
        << testing::PrintToString(e.text);
  }
}

TEST(parse_qb, converts_only_the_given_length) {
  bytes buffer = to_bytes("[Checksums]\r\n0x00000001 a\r\n0x00000002 b\r\n");
  const std::size_t first_line_only = 27;
  const std::size_t length = dbgparse::parse_qb(buffer, first_line_only);
  const bytes expected{0x01, 0x2B, 0x01, 0, 0, 0, 'a', 0x00, 0x00};
  ASSERT_EQ(length, expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()));
}

TEST(parse_qb, grows_the_buffer_for_a_table_longer_than_the_input) {
  struct example {
    std::string name;
    bytes input;
  };
  // Each "0x" inside a text starts another line that repeats the text's tail.
  std::string nested = "[Checksums]\r\n";
  for (int i = 0; i < 200; ++i) {
    nested += "0x00000001 ";
  }
  nested += "end\r\n";
  const example examples[] = {
      {"empty", {}}, {"one byte", {'x'}}, {"nested lines", to_bytes(nested)}};
  for (const example& e : examples) {
    bytes buffer = e.input;
    const std::size_t length = dbgparse::parse_qb(buffer, buffer.size());
    EXPECT_GE(buffer.size(), length) << e.name;
    EXPECT_GE(length, 2U) << e.name;
    EXPECT_EQ(buffer[length - 2], 0) << e.name;
    EXPECT_EQ(buffer[length - 1], 0) << e.name;
  }
  bytes buffer = to_bytes(nested);
  EXPECT_GT(dbgparse::parse_qb(buffer, buffer.size()), nested.size());
}

TEST(write_table, gives_the_same_bytes_whatever_the_block_size) {
  const bytes input = read_bytes(std::filesystem::path(DBGPARSE_TEST_DATA) / "sample.dbg");
  const bytes expected = convert(input);
  for (const std::size_t block_size : {std::size_t{1}, std::size_t{1024}, std::size_t{1} << 20}) {
    bytes table;
    std::size_t pieces = 0;
    const bool completed = dbgparse::write_table(
        input,
        [&](std::span<const unsigned char> piece) {
          EXPECT_LE(piece.size(), std::max<std::size_t>(block_size, 1024));
          table.insert(table.end(), piece.begin(), piece.end());
          ++pieces;
          return true;
        },
        block_size);
    EXPECT_TRUE(completed);
    EXPECT_EQ(table, expected) << block_size;
    EXPECT_GE(pieces, 1U);
  }
}

TEST(write_table, stops_when_the_sink_refuses) {
  std::string many_lines = "[Checksums]\r\n";
  for (int i = 0; i < 1000; ++i) {
    many_lines += "0x0000002A some_name\r\n";
  }
  const bytes input = to_bytes(many_lines);
  int calls = 0;
  const bool completed = dbgparse::write_table(
      input,
      [&calls](std::span<const unsigned char>) {
        ++calls;
        return false;
      },
      1024);
  EXPECT_FALSE(completed);
  EXPECT_EQ(calls, 1);
}

// The table goes out in whole blocks, the last one excepted; a refusal at
// any piece ends the conversion, the pieces before it having arrived whole
// and in order, and without one the table is whole.
TEST(write_table, stops_when_the_sink_refuses_a_later_block) {
  const bytes input = read_bytes(std::filesystem::path(DBGPARSE_TEST_DATA) / "sample.dbg");
  struct blocks {
    std::size_t block_size;
    int copies;
    std::size_t smallest_piece;  // what every piece before the last holds at least
    std::vector<int> refusals;   // 0: none refused
  };
  const blocks cases[] = {
      {1024, 200, 512, {2, 3, 7}},
      {std::size_t{1} << 20, 10000, (std::size_t{1} << 20) - 512, {2, 3, 0}},
  };
  for (const blocks& c : cases) {
    bytes many(input);
    for (int i = 0; i < c.copies; ++i) {
      many.insert(many.end(), input.begin(), input.end());
    }
    const bytes expected = convert(many);
    ASSERT_GT(expected.size(), 3 * c.block_size);
    for (const int refused : c.refusals) {
      bytes table;
      int calls = 0;
      const bool completed = dbgparse::write_table(
          many,
          [&](std::span<const unsigned char> piece) {
            if (++calls == refused) {
              return false;
            }
            table.insert(table.end(), piece.begin(), piece.end());
            return true;
          },
          c.block_size);
      if (refused == 0) {
        EXPECT_TRUE(completed);
        EXPECT_EQ(table, expected) << c.block_size;
        continue;
      }
      EXPECT_FALSE(completed);
      EXPECT_EQ(calls, refused);
      // A prefix of the table, the refused piece and everything after it left out.
      ASSERT_GE(table.size(), static_cast<std::size_t>(refused - 1) * c.smallest_piece);
      ASSERT_LT(table.size(), expected.size());
      EXPECT_TRUE(std::equal(table.begin(), table.end(), expected.begin()));
    }
  }
}

}  // namespace

// A caller that lends the writer its own memory gets the table in the
// pieces it lent, in order and unchanged until it takes them back; memory
// too small for the longest entry, or none, stops the table at once.
namespace {

class lent_memory final : public dbgparse::piece_exchange {
 public:
  lent_memory(std::size_t size, std::size_t lend_count) : size_(size), lend_count_(lend_count) {}

  std::span<unsigned char> next_piece(std::span<const unsigned char> full) override {
    take(full);
    if (lent_.size() == lend_count_) {
      return {};
    }
    lent_.emplace_back(size_, 0xEE);
    return lent_.back();
  }
  bool last_piece(std::span<const unsigned char> full) override {
    take(full);
    finished_ = true;
    return true;
  }

  bytes table;
  bool finished_ = false;

 private:
  void take(std::span<const unsigned char> full) {
    if (!full.empty()) {
      // Each piece starts where the memory lent last does.
      EXPECT_EQ(full.data(), lent_.back().data());
      table.insert(table.end(), full.begin(), full.end());
    }
  }

  std::size_t size_;
  std::size_t lend_count_;
  std::vector<bytes> lent_;  // each kept, as a writer thread would
};

}  // namespace

TEST(write_table, fills_the_memory_a_caller_lends) {
  bytes input = read_bytes(std::filesystem::path(DBGPARSE_TEST_DATA) / "sample.dbg");
  for (int i = 0; i < 6; ++i) {
    input.insert(input.end(), input.begin(), input.end());
  }
  const bytes expected = convert(input);
  struct lending {
    std::size_t size;
    std::size_t count;  // pieces lent before the caller stops the table
    bool whole;
  };
  const lending cases[] = {
      {1024, SIZE_MAX, true}, {4096, SIZE_MAX, true},  {expected.size(), 1, true},
      {1024, 3, false},       {1023, SIZE_MAX, false}, {4096, 0, false},
  };
  for (const lending& c : cases) {
    lent_memory memory(c.size, c.count);
    EXPECT_EQ(dbgparse::write_table(input, memory), c.whole) << c.size << " x " << c.count;
    EXPECT_EQ(memory.finished_, c.whole) << c.size << " x " << c.count;
    if (c.whole) {
      EXPECT_EQ(memory.table, expected) << c.size;
    } else {
      EXPECT_TRUE(std::equal(memory.table.begin(), memory.table.end(), expected.begin()))
          << c.size << " x " << c.count << ": what was taken is the table's start";
    }
  }
}
