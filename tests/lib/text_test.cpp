// The texts written in several places, spelled once: a quoted byte string,
// a checksum, a warning line.
#include "text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace {

std::span<const unsigned char> bytes_of(std::string_view text) {
  return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

TEST(text, each_is_spelled_as_the_programs_print_it) {
  using namespace std::string_literals;
  struct quoting {
    std::string bytes;
    std::size_t at_most;
    std::string shown;
  };
  const quoting quotings[] = {
      {"", SIZE_MAX, R"("")"},
      {"player_board", SIZE_MAX, R"("player_board")"},
      {"a\"b\\c", SIZE_MAX, R"("a\x22b\x5cc")"},
      {"tab\tcr\r\0nul"s, SIZE_MAX, R"("tab\x09cr\x0d\x00nul")"},
      {"caf\xc3\xa9\x7f~ ", SIZE_MAX, R"("caf\xc3\xa9\x7f~ ")"},
      {"abcdef", 3, R"("abc"...)"},
      {"abc", 3, R"("abc")"},
  };
  for (const quoting& q : quotings) {
    EXPECT_EQ(dbgparse::text::quoted(bytes_of(q.bytes), q.at_most), q.shown) << q.shown;
  }
  EXPECT_EQ(dbgparse::text::hex(0), "0x00000000");
  EXPECT_EQ(dbgparse::text::hex(0xDEADBEEFU), "0xdeadbeef");
  EXPECT_EQ(dbgparse::text::hex(0x2A), "0x0000002a");
  EXPECT_EQ(dbgparse::text::warning_line("dbgparse", "names.dbg", 12, "the name ends"),
            "dbgparse: names.dbg:12: warning: the name ends\n");
  EXPECT_EQ(dbgparse::text::warning_line("dbgparse", "a b.dbg", 0, "no header"),
            "dbgparse: a b.dbg: warning: no header\n");
  // A path's control bytes would reach the terminal as they are.
  EXPECT_EQ(dbgparse::text::warning_line("dbgparse", "a\x1b[2Jb\tc\x7f\xc3\xa9.dbg", 3, "m"),
            "dbgparse: a\\x1b[2Jb\\x09c\\x7f\xc3\xa9.dbg:3: warning: m\n");
}

}  // namespace
