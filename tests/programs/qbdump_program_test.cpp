// Process-level tests of qbdump: each mode and option, each exit status,
// standard input as the table, a malformed table's message, the listing
// written to a file, and the round trip through both programs.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "program_fixture.h"

namespace {

namespace fs = std::filesystem;
using test_support::golden;
using test_support::read_file;
using test_support::run_options;
using test_support::run_program;
using test_support::run_result;
using test_support::write_file;

std::string value_bytes(std::uint32_t value) {
  std::string out;
  for (int k = 0; k < 4; ++k) {
    out.push_back(static_cast<char>((value >> (8 * k)) & 0xFFU));
  }
  return out;
}

// Two entries, laid out as the README's table describes.
const std::string table = std::string("\x01\x2B") + value_bytes(0x2A) + "one" +
                          std::string("\x00\x2B", 2) + value_bytes(0xDEADBEEF) + "two" +
                          std::string(2, '\0');
const std::string listing = "[Checksums]\r\n0x0000002a one\r\n0xdeadbeef two\r\n";

class qbdump : public test_support::program_fixture {
 protected:
  run_result qb(std::vector<std::string> arguments, std::string standard_input = {}) {
    run_options options;
    options.arguments = std::move(arguments);
    options.standard_input = std::move(standard_input);
    options.working_directory = folder_;
    return run_program(QBDUMP_EXE, options);
  }
};

TEST_F(qbdump, answers_each_option_with_its_output_and_status) {
  write_file(path("t.qb"), table);
  write_file(path("bad.qb"), table.substr(0, table.size() - 1));
  const std::string usage_hint = "Try 'qbdump --help' for more information.\n";
  struct invocation {
    std::vector<std::string> arguments;
    std::string standard_input;
    int status;
    std::string output;  // standard output, then standard error
  };
  const invocation cases[] = {
      {{"t.qb"}, "", 0, listing},
      {{"-"}, table, 0, listing},
      {{"--find", "2a", "t.qb"}, "", 0, "one\n"},
      {{"--find=0xDEADBEEF", "-"}, table, 0, "two\n"},
      {{"--find", "2b", "t.qb"}, "", 1, ""},
      {{"--name", "two", "--find", "0x2A", "--name=one", "t.qb"},
       "",
       0,
       "0xdeadbeef\none\n0x0000002a\n"},
      {{"--name", "three", "t.qb"}, "", 1, ""},
      {{"--check", "t.qb"}, "", 0, "2 entries, 20 bytes\n"},
      {{"--version"}, "", 0, "qbdump " QBDUMP_VERSION "\n"},
      {{"--check", "bad.qb"},
       "",
       2,
       "qbdump: bad.qb: byte 19: expected 00 (the end marker is 00 00)\n"},
      {{"--find", "2a", "bad.qb"},
       "",
       2,
       "one\nqbdump: bad.qb: byte 19: expected 00 (the end marker is 00 00)\n"},
      {{"bad.qb"},
       "",
       2,
       "[Checksums]\r\n0x0000002a one\r\nqbdump: bad.qb: byte 19: expected 00 (the end marker is "
       "00 00)\n"},
      {{"-"}, "", 2, "qbdump: standard input: byte 0: expected a table (the file is empty)\n"},
      {{"missing.qb"}, "", 2, "qbdump: missing.qb: cannot find it or examine it\n"},
      {{"--find", "xyz", "t.qb"},
       "",
       2,
       "qbdump: --find: 'xyz' is not a hexadecimal checksum\n" + usage_hint},
      {{"--find", "123456789", "t.qb"},
       "",
       2,
       "qbdump: --find: '123456789' is not a hexadecimal checksum\n" + usage_hint},
      {{"--bogus", "t.qb"}, "", 2, "qbdump: unknown option --bogus\n" + usage_hint},
      {{"--name"}, "", 2, "qbdump: option --name needs a value\n" + usage_hint},
      {{}, "", 2, "qbdump: no table given\n" + usage_hint},
      {{"--check", "t.qb", "x.dbg"}, "", 2, "qbdump: unexpected argument x.dbg\n" + usage_hint},
  };
  for (const invocation& c : cases) {
    const run_result result = qb(c.arguments, c.standard_input);
    const std::string label = testing::PrintToString(c.arguments);
    EXPECT_EQ(result.exit_status, c.status) << label;
    EXPECT_EQ(result.output, c.output) << label;
  }
  const run_result help = qb({"--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_TRUE(help.output.starts_with("Usage: qbdump")) << help.output;
}

TEST_F(qbdump, writes_the_listing_to_a_file_that_dbgparse_converts_back) {
  for (const std::string name : {"sample", "checksum_line_inside_text", "long_text_cut_to_255",
                                 "zero_byte_in_text", "cut_right_after_0x"}) {
    write_file(path("t.qb"), golden(name + ".qb"));
    write_file(path("l.dbg"), "an older listing");
    const run_result listed = qb({"t.qb", "l.dbg"});
    EXPECT_EQ(listed.exit_status, 0) << name;
    EXPECT_EQ(listed.output, "") << name;
    run_options options;
    options.arguments = {"l.dbg", "t2.qb"};
    options.working_directory = folder_;
    EXPECT_EQ(run_program(DBGPARSE_EXE, options).exit_status, 0) << name;
    EXPECT_EQ(read_file(path("t2.qb")), golden(name + ".qb")) << name;
    fs::remove(path("t2.qb"));
  }
}

TEST_F(qbdump, warns_about_an_entry_it_cannot_list_and_lists_the_rest) {
  write_file(path("t.qb"), std::string("\x01\x2B", 2) + value_bytes(1) + "a\rb" +
                               std::string("\x00\x2B", 2) + value_bytes(2) + "c" +
                               std::string(2, '\0'));
  const run_result result = qb({"t.qb"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output,
            "qbdump: t.qb: entry 1 at byte 0 left out: its name holds a CR or LF byte, which would "
            "end its line\n[Checksums]\r\n0x00000002 c\r\n");
}

}  // namespace
