// The listing reaches standard output in whole lines, however its pieces
// fall: a console shows a character split between two writes as two wrong
// ones.
#include "whole_lines.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

using dbgparse::qbdump::whole_lines;

std::span<const unsigned char> bytes(std::string_view text) {
  return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

TEST(whole_lines, hands_on_whole_lines_alone) {
  struct pieces_case {
    std::string name;
    std::vector<std::string> pieces;
    std::vector<std::string> written;
  };
  const pieces_case cases[] = {
      {"one piece of whole lines", {"0x1 a\r\n0x2 b\r\n"}, {"0x1 a\r\n0x2 b\r\n"}},
      {"a character split between pieces",
       {"0x1 caf\xc3", "\xa9\r\n0x2 \xe6\x97", "\xa5\r\n"},
       {"0x1 caf\xc3\xa9\r\n", "0x2 \xe6\x97\xa5\r\n"}},
      {"a line over three pieces", {"0x1 ", "ab", "c\r\n"}, {"0x1 abc\r\n"}},
      {"a last line without its end", {"0x1 a\r\n0x2", " b"}, {"0x1 a\r\n", "0x2 b"}},
      {"empty pieces", {"", "0x1 a\n", ""}, {"0x1 a\n"}},
  };
  for (const pieces_case& c : cases) {
    std::vector<std::string> written;
    whole_lines lines([&written](std::string_view text) {
      written.emplace_back(text);
      return true;
    });
    for (const std::string& piece : c.pieces) {
      EXPECT_TRUE(lines.write(bytes(piece))) << c.name;
    }
    EXPECT_TRUE(lines.finish()) << c.name;
    EXPECT_EQ(written, c.written) << c.name;
  }
}

TEST(whole_lines, tells_a_failed_write) {
  whole_lines lines([](std::string_view) { return false; });
  EXPECT_TRUE(lines.write(bytes("0x1 a")));  // nothing handed on yet
  EXPECT_FALSE(lines.write(bytes("\r\n0x2")));
  EXPECT_FALSE(lines.finish());
}

}  // namespace
