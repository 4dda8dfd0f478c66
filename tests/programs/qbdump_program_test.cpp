// Process-level tests of qbdump: each mode and option, each exit status,
// standard input as the table, a malformed table's message, the listing
// written to a file, and the round trip through both programs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "program_fixture.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using test_support::golden;
using test_support::read_file;
using test_support::run_options;
using test_support::run_program;
using test_support::run_result;
using test_support::write_file;
using namespace std::string_view_literals;

std::string checksum_bytes(std::uint32_t checksum) {
  std::string out;
  for (int k = 0; k < 4; ++k) {
    out.push_back(static_cast<char>((checksum >> (8 * k)) & 0xFFU));
  }
  return out;
}

// Two entries, laid out as doc/format.md's table describes.
const std::string table = std::string("\x01\x2B") + checksum_bytes(0x2A) + "one" +
                          std::string("\x00\x2B", 2) + checksum_bytes(0xDEADBEEF) + "two" +
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

  // What DBG text given as the table on standard input draws: the fault,
  // then the hint.
  static inline const std::string dbg_text_on_standard_input =
      "qbdump: standard input: byte 0: expected 01 2B (the first entry's marker) or 00 00 (the "
      "end marker of an empty table)\nqbdump: standard input: it looks like DBG text, not a QB "
      "table; dbgparse converts it into one\n";

  struct invocation {
    std::vector<std::string> arguments;
    std::string standard_input;
    int status;
    std::string output;  // standard output, then standard error
  };

  // Runs each case; its status and output must be the ones given.
  void expect_each(std::span<const invocation> cases) {
    for (const invocation& c : cases) {
      const run_result result = qb(c.arguments, c.standard_input);
      const std::string label = testing::PrintToString(c.arguments);
      EXPECT_EQ(result.exit_status, c.status) << label;
      EXPECT_EQ(result.output, c.output) << label;
    }
  }
};

TEST_F(qbdump, answers_each_option_with_its_output_and_status) {
  write_file(path("t.qb"), table);
  write_file(path("bad.qb"), table.substr(0, table.size() - 1));
  write_file(path("one.qb"), table.substr(0, 9) + std::string(2, '\0'));
  write_file(path("cr.qb"),
             std::string("\x01\x2B", 2) + checksum_bytes(1) + "a\rb" + table.substr(9));
  const std::string usage_hint = "qbdump: Try 'qbdump --help' for more information.\n";
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
      {{"--check", "one.qb"}, "", 0, "1 entry, 11 bytes\n"},
      {{"--check", "cr.qb", "bad.qb", "-"},
       table,
       2,
       "cr.qb: 2 entries, 20 bytes, 1 that a listing leaves out\n"
       "qbdump: bad.qb: byte 19: expected 00 (the end marker is 00 00)\n"
       "standard input: 2 entries, 20 bytes\n"},
      {{"t.qb", "-"}, "", 0, listing},
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
      {{"-"}, golden("sample.dbg"), 2, dbg_text_on_standard_input},
      {{"-"},
       std::string("\xFF\xFE[\0C\0h\0e\0c\0k\0s\0u\0m\0s\0]\0\r\0\n\0"sv),
       2,
       dbg_text_on_standard_input},
      {{"-"}, "[CHECKSUMS]\r\n0x0000002a one\r\n", 2, dbg_text_on_standard_input},
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
      {{"--find", "2a", "t.qb", "x.dbg"},
       "",
       2,
       "qbdump: unexpected argument x.dbg\n" + usage_hint},
  };
  expect_each(cases);
  const run_result help = qb({"--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_TRUE(help.output.starts_with("Usage: qbdump")) << help.output;
  EXPECT_FALSE(fs::exists(path("-")));
}

// --entries shows the table as stored: each entry's offset, checksum and
// name, escaped where a terminal would not show the byte, and its padding;
// what the listing would split or leave out is one entry here.
TEST_F(qbdump, shows_each_entry_as_the_table_holds_it) {
  // The name holds a line and "0x": the listing shows it as two lines.
  const std::string nested = std::string("\x01\x2B") + checksum_bytes(0x22) + "0x33333333 third" +
                             std::string("\x00\x2B", 2) + checksum_bytes(7) + "q\"\\\x01\x7F\xFF" +
                             std::string(3, '\0') + std::string("\x00\x2B", 2) + checksum_bytes(0) +
                             "\r\n" + std::string(2, '\0');
  write_file(path("t.qb"), table);
  write_file(path("nested.qb"), nested);
  write_file(path("bad.qb"), table.substr(0, table.size() - 1));
  write_file(path("none.qb"), std::string(2, '\0'));
  const std::string usage_hint = "qbdump: Try 'qbdump --help' for more information.\n";
  const std::string bad_end = "qbdump: bad.qb: byte 19: expected 00 (the end marker is 00 00)\n";
  const invocation cases[] = {
      {{"--entries", "t.qb"}, "", 0, "0 0x0000002a \"one\"\n9 0xdeadbeef \"two\"\n"},
      {{"--entries", "-"}, table, 0, "0 0x0000002a \"one\"\n9 0xdeadbeef \"two\"\n"},
      {{"nested.qb", "--entries"},
       "",
       0,
       "0 0x00000022 \"0x33333333 third\"\n"
       "22 0x00000007 \"q\\x22\\x5c\\x01\\x7f\\xff\" padding 3\n"
       "37 0x00000000 \"\\x0d\\x0a\"\n"},
      {{"--entries", "none.qb"}, "", 0, ""},
      {{"--entries", "bad.qb"}, "", 2, "0 0x0000002a \"one\"\n" + bad_end},
      {{"--entries", "-"}, golden("sample.dbg"), 2, dbg_text_on_standard_input},
      {{"--entries", "t.qb", "t.qb"}, "", 2, "qbdump: unexpected argument t.qb\n" + usage_hint},
      {{"--entries"}, "", 2, "qbdump: no table given\n" + usage_hint},
      {{"--entries", "--check", "t.qb"},
       "",
       2,
       "qbdump: --entries cannot be combined with --check, --find or --name\n" + usage_hint},
      {{"--entries", "--find", "2a", "t.qb"},
       "",
       2,
       "qbdump: --entries cannot be combined with --check, --find or --name\n" + usage_hint},
      {{"--version", "extra"}, "", 2, "qbdump: unexpected argument extra\n" + usage_hint},
      {{"--help", "extra"}, "", 2, "qbdump: unexpected argument extra\n" + usage_hint},
      {{"t.qb", "--help"}, "", 2, "qbdump: unexpected argument t.qb\n" + usage_hint},
      {{"--version", "--", "-"}, "", 2, "qbdump: unexpected argument -\n" + usage_hint},
  };
  expect_each(cases);
}

TEST_F(qbdump, leaves_the_listing_as_it_was_when_the_run_fails) {
  write_file(path("names.dbg"), golden("sample.dbg"));
  write_file(path("cut.qb"), golden("sample.qb").substr(0, 100));
  write_file(path("empty.qb"), "");
  write_file(path("big.qb"), golden("sample.qb"));
  struct failure {
    std::string table;
    std::uint64_t file_size_limit;  // 0: none
    std::string message_start;
  };
  const failure cases[] = {
      {"names.dbg", 0, "qbdump: names.dbg: byte 0: expected 01 2B"},
      {"cut.qb", 0, "qbdump: cut.qb: byte 100: expected 4 value bytes"},
      {"empty.qb", 0, "qbdump: empty.qb: byte 0: expected a table"},
      {"missing.qb", 0, "qbdump: missing.qb: cannot read it"},
#ifndef _WIN32
      {"big.qb", 100, "qbdump: l.lst: cannot write it"},  // a file size limit: POSIX only
#endif
  };
  for (const failure& c : cases) {
    for (const bool existing : {true, false}) {
      if (existing) {
        write_file(path("l.lst"), "an older listing");
      }
      run_options options;
      options.arguments = {c.table, "l.lst"};
      options.working_directory = folder_;
      if (c.file_size_limit != 0) {
        options.file_size_limit = c.file_size_limit;
      }
      const run_result result = run_program(QBDUMP_EXE, options);
      EXPECT_EQ(result.exit_status, 2) << c.table;
      EXPECT_TRUE(result.output.starts_with(c.message_start)) << c.table << ": " << result.output;
      if (existing) {
        EXPECT_EQ(read_file(path("l.lst")), "an older listing") << c.table;
        fs::remove(path("l.lst"));
      }
      EXPECT_EQ(files(), (std::set<std::string>{"names.dbg", "cut.qb", "empty.qb", "big.qb"}))
          << c.table;
    }
  }
}

#ifndef _WIN32
TEST_F(qbdump, leaves_a_listing_it_writes_in_place_untouched_by_a_failed_run) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "a folder closed to the user needs root to set up";
  }
  // A listing that the user may write in a folder that the user may not:
  // no temporary file can go beside it, so it is written in place.
  constexpr unsigned nobody = 65534;
  fs::permissions(folder_, fs::perms::all);
  const fs::path program = path("qbdump");
  fs::copy_file(QBDUMP_EXE, program);
  fs::create_directories(path("closed"));
  write_file(path("closed/l.lst"), "an older listing");
  ASSERT_EQ(::chown(path("closed/l.lst").c_str(), nobody, nobody), 0);
  write_file(path("cut.qb"), table.substr(0, 12));
  write_file(path("t.qb"), table);
  run_options options;
  options.working_directory = folder_;
  options.user_id = nobody;
  options.arguments = {"cut.qb", "closed/l.lst"};
  const run_result failed = run_program(program, options);
  if (failed.exit_status == 126 || failed.exit_status == 127) {
    GTEST_SKIP() << "user " << nobody << " cannot reach " << folder_;
  }
  EXPECT_EQ(failed.exit_status, 2) << failed.output;
  EXPECT_EQ(read_file(path("closed/l.lst")), "an older listing");
  options.arguments = {"t.qb", "closed/l.lst"};
  EXPECT_EQ(run_program(program, options).exit_status, 0);
  EXPECT_EQ(read_file(path("closed/l.lst")), listing);
}

TEST_F(qbdump, says_the_system_reason_for_each_failure) {
  write_file(path("t.qb"), table);
  fs::create_directories(path("folder"));
  // An input the size of which no limit of 100 MB of memory can hold.
  write_file(path("huge.qb"), "");
  fs::resize_file(path("huge.qb"), std::uint64_t{1} << 30);
  struct failure {
    std::string command;  // run by the shell, $QBDUMP the program
    std::string message;
  };
  const failure cases[] = {
      {"$QBDUMP missing.qb", "qbdump: missing.qb: cannot read it: No such file or directory\n"},
      {"$QBDUMP folder", "qbdump: folder: cannot read it: Is a directory\n"},
      {"$QBDUMP --check t.qb folder",
       "t.qb: 2 entries, 20 bytes\nqbdump: folder: cannot read it: Is a directory\n"},
      {"$QBDUMP - < folder", "qbdump: standard input: cannot read it: Is a directory\n"},
      {"$QBDUMP t.qb no/l.dbg",
       "qbdump: no/l.dbg: cannot open it for writing: No such file or directory\n"},
      {"$QBDUMP t.qb /dev/full", "qbdump: /dev/full: cannot write it: No space left on device\n"},
      // A name's control bytes as \xhh, so that none reaches the terminal.
      {"$QBDUMP \"$(printf 'm\\033[2J.qb')\"",
       "qbdump: m\\x1b[2J.qb: cannot read it: No such file or directory\n"},
      {"$QBDUMP t.qb \"$(printf 'no/\\033[2J.dbg')\"",
       "qbdump: no/\\x1b[2J.dbg: cannot open it for writing: No such file or directory\n"},
      {"$QBDUMP --find 2a t.qb > /dev/full",
       "qbdump: standard output: cannot write it: No space left on device\n"},
      {"ulimit -v 100000 && $QBDUMP - < huge.qb",
       "qbdump: standard input: not enough memory for it\n"},
      {"ulimit -v 100000 && $QBDUMP huge.qb", "qbdump: huge.qb: not enough memory for it\n"},
      {"$QBDUMP t.qb l.txt >l.txt",
       "qbdump: l.txt: cannot open it for writing: the program's own standard output or error "
       "goes to this file; give the output another name\n"},
      // The name taken by another file while the listing was written: the
      // program's own reason, not whatever the system said last.
      // strace's own words on standard error (how it resolved the path) go
      // to /dev/null.
      {"echo other >l.txt; ASAN_OPTIONS=detect_leaks=0 strace -qq -o /dev/null -P l.txt "
       "-e inject=openat:error=ENOENT -e inject=newfstatat:error=ENOENT "
       "sh -c 'exec \"$0\" t.qb l.txt 2>&3' \"$QBDUMP\" 3>&2 2>/dev/null",
       "qbdump: l.txt: cannot write it: another file took the name during the run and is left "
       "as it is\n"},
  };
  for (const failure& c : cases) {
#if defined(__SANITIZE_ADDRESS__)
    if (c.command.starts_with("ulimit -v")) {
      continue;  // AddressSanitizer's shadow memory alone exceeds the limit
    }
#endif
    run_options options;
    if (c.command.find("strace") != std::string::npos) {
      options.arguments = {"-c", "strace -qq -o /dev/null true"};
      if (run_program("/bin/sh", options).exit_status != 0) {
        continue;  // strace is not installed, or may not trace here
      }
    }
    options.arguments = {"-c", "QBDUMP='" + std::string(QBDUMP_EXE) + "'; " + c.command};
    options.working_directory = folder_;
    const run_result result = run_program("/bin/sh", options);
    EXPECT_EQ(result.exit_status, 2) << c.command;
    EXPECT_EQ(result.output, c.message) << c.command;
  }
}
#endif

// An existing DBG file given as the listing is kept, as dbgparse keeps one
// given as its table: by its name in any case or by a [Checksums] line in
// any of its forms; --force replaces it. A file that is no DBG file, a new
// name and standard output are written as before.
TEST_F(qbdump, keeps_an_existing_dbg_file_unless_forced) {
  write_file(path("t.qb"), table);
  const std::string notes = "; my notes\r\n[Checksums]\r\n0x00000001 kept\r\n";
  struct output {
    std::string name;
    std::string before;  // empty: no such file
    bool kept;
  };
  const output outputs[] = {
      {"names.dbg", notes, true},
      {"NAMES.DBG", "any text at all", true},
      {"names.txt", notes, true},
      {"lf.lst", "[checksums]\n0x00000001 kept\n", true},
      {"utf16.lst", std::string("\xFF\xFE[\0C\0h\0e\0c\0k\0s\0u\0m\0s\0]\0\r\0\n\0"sv), true},
      {"older.lst", "an older listing", false},
      {"t2.qb", table, false},
      {"new.dbg", "", false},
  };
  for (const output& o : outputs) {
    for (const bool force : {false, true}) {
      if (o.before.empty()) {
        fs::remove(path(o.name));
      } else {
        write_file(path(o.name), o.before);
      }
      std::vector<std::string> arguments = {"t.qb", o.name};
      if (force) {
        arguments.insert(arguments.begin(), "--force");
      }
      const run_result result = qb(arguments);
      const std::string label = o.name + (force ? " with --force" : "");
      if (o.kept && !force) {
        EXPECT_EQ(result.exit_status, 2) << label;
        EXPECT_EQ(result.output, "qbdump: " + o.name +
                                     " is a DBG file: it is kept; give the listing another name, "
                                     "or --force to replace it\n")
            << label;
        EXPECT_EQ(read_file(path(o.name)), o.before) << label;
      } else {
        EXPECT_EQ(result.exit_status, 0) << label << ": " << result.output;
        EXPECT_EQ(read_file(path(o.name)), listing) << label;
      }
    }
  }
  // --force is for a listing written to a file alone.
  const std::string usage_hint = "qbdump: Try 'qbdump --help' for more information.\n";
  const invocation misplaced[] = {
      {{"--force", "--check", "t.qb"},
       "",
       2,
       "qbdump: --force applies only to a listing written to a file\n" + usage_hint},
      {{"--force", "--find", "2a", "t.qb"},
       "",
       2,
       "qbdump: --force applies only to a listing written to a file\n" + usage_hint},
      {{"--force", "t.qb"}, "", 0, listing},
  };
  expect_each(misplaced);
}

TEST_F(qbdump, writes_the_listing_to_a_file_that_dbgparse_converts_back) {
  for (const std::string name : {"sample", "checksum_line_inside_text", "long_text_cut_to_255",
                                 "zero_byte_in_text", "cut_right_after_0x"}) {
    write_file(path("t.qb"), golden(name + ".qb"));
    write_file(path("l.lst"), "an older listing");
    const run_result listed = qb({"t.qb", "l.lst"});
    EXPECT_EQ(listed.exit_status, 0) << name;
    EXPECT_EQ(listed.output, "") << name;
    run_options options;
    options.arguments = {"l.lst", "t2.qb"};
    options.working_directory = folder_;
    EXPECT_EQ(run_program(DBGPARSE_EXE, options).exit_status, 0) << name;
    EXPECT_EQ(read_file(path("t2.qb")), golden(name + ".qb")) << name;
    fs::remove(path("t2.qb"));
  }
}

TEST_F(qbdump, warns_about_an_entry_it_cannot_list_and_lists_the_rest) {
  write_file(path("t.qb"), std::string("\x01\x2B", 2) + checksum_bytes(1) + "a\rb" +
                               std::string("\x00\x2B", 2) + checksum_bytes(2) + "c" +
                               std::string(2, '\0'));
  const run_result result = qb({"t.qb"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.output,
            "qbdump: t.qb: entry 1 at byte 0 left out: its name holds a CR or LF byte, which would "
            "end its line\n[Checksums]\r\n0x00000002 c\r\n");
}

TEST_F(qbdump, names_twenty_entries_left_out_and_counts_the_rest) {
  struct cap_case {
    int left_out;
    std::string last_line;  // of standard error
  };
  const cap_case cases[] = {
      {1, "entry 1 at byte 0 left out"},
      {20, "entry 20 at byte 133 left out"},
      {21, "1 more entries left out, 21 in all"},
      {25, "5 more entries left out, 25 in all"},
  };
  for (const cap_case& c : cases) {
    // Each left-out entry is 7 bytes: marker, checksum and the name "\r".
    std::string made;
    for (int k = 0; k < c.left_out; ++k) {
      made += std::string(k == 0 ? "\x01\x2B" : std::string("\x00\x2B", 2)) +
              checksum_bytes(static_cast<std::uint32_t>(k)) + "\r";
    }
    made += std::string("\x00\x2B", 2) + checksum_bytes(7) + "c" + std::string(2, '\0');
    write_file(path("t.qb"), made);
    for (const bool to_file : {false, true}) {
      std::vector<std::string> arguments = {"t.qb"};
      if (to_file) {
        arguments.emplace_back("t.lst");
      }
      const run_result result = qb(arguments);
      EXPECT_EQ(result.exit_status, 0) << c.left_out;
      std::vector<std::string> told;
      std::istringstream lines(result.output);
      for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("qbdump: t.qb: ")) {
          told.push_back(line);
        }
      }
      ASSERT_EQ(told.size(), static_cast<std::size_t>(std::min(c.left_out, 21))) << c.left_out;
      EXPECT_EQ(told.back().substr(0, 14 + c.last_line.size()), "qbdump: t.qb: " + c.last_line)
          << c.left_out;
      fs::remove(path("t.lst"));
    }
  }
}

}  // namespace
