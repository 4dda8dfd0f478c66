// Process-level tests: the program run as a user runs it, checking what it
// prints, its exit status and which files exist afterwards.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "golden_files.h"
#include "program_fixture.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#endif

namespace {

namespace fs = std::filesystem;
using test_support::banner;
using test_support::failure_status;
using test_support::golden;
using test_support::read_file;
using test_support::run_options;
using test_support::run_program;
using test_support::run_result;
using test_support::says_why;
using test_support::without_warnings;
using test_support::write_file;

#ifdef _WIN32
#define SKIP_ON_WINDOWS(reason) GTEST_SKIP() << reason
#else
#define SKIP_ON_WINDOWS(reason) static_cast<void>(0)
#endif

// A DBG file whose table is far larger than a few kilobytes.
std::string many_lines(int count) {
  std::string text = "[Checksums]\r\n";
  for (int i = 0; i < count; ++i) {
    text += "0x0000002A a_name_of_some_length\r\n";
  }
  return text;
}

class program : public test_support::program_fixture {};

TEST_F(program, converts_in_each_path_mode) {
  struct mode {
    std::string name;
    std::vector<std::string> arguments;
    std::string standard_input;
    std::string dialogue;
    std::string output;
  };
  const std::string finished = "Finished!\n";
  const std::string questions = "Enter the filename: \nEnter the file to save as: \n";
  const mode modes[] = {
      {"one argument names the output after the input",
       {"names.dbg"},
       "",
       finished,
       "names.dbg.qb"},
      {"two arguments", {"names.dbg", "table.qb"}, "", finished, "table.qb"},
      {"a third argument is ignored",
       {"names.dbg", "table.qb", "extra.qb"},
       "",
       finished,
       "table.qb"},
      {"no argument asks for both paths",
       {},
       "names.dbg\ntable.qb\n",
       questions + finished,
       "table.qb"},
      {"answers are words between white space",
       {},
       "  \t names.dbg\n\n table.qb ignored\n",
       questions + finished,
       "table.qb"},
  };
  for (const mode& m : modes) {
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    write_file(path("names.dbg"), golden("sample.dbg"));
    const run_result result = run(m.arguments, m.standard_input);
    EXPECT_EQ(result.output, banner + m.dialogue) << m.name;
    EXPECT_EQ(result.exit_status, 0) << m.name;
    EXPECT_EQ(read_file(path(m.output)), golden("sample.qb")) << m.name;
    EXPECT_EQ(files(), (std::set<std::string>{"names.dbg", m.output})) << m.name;
  }
}

TEST_F(program, reports_each_failure_with_its_message) {
  fs::create_directories(path("folder"));
  write_file(path("names.dbg"), golden("sample.dbg"));
  struct failure {
    std::string name;
    std::vector<std::string> arguments;
    std::string standard_input;
    std::string output;
    std::string about;   // the path standard error names
    std::string reason;  // why, as it says (on Linux, where the system words it)
    bool own;            // worded by the program, on every system
  };
  const std::string questions = "Enter the filename: \nEnter the file to save as: \n";
  const std::string no_word = "it ended before a path was read";
  const failure failures[] = {
      {"missing input",
       {"missing.dbg"},
       "",
       "Error checking size of missing.dbg are you sure it exists?\n",
       "missing.dbg",
       "No such file or directory",
       false},
      {"input is a folder",
       {"folder", "out.qb"},
       "",
       "Couldn't open folder!\n",
       "folder",
       "Is a directory",
       false},
      {"output in a missing folder",
       {"names.dbg", "nowhere/out.qb"},
       "",
       "Couldn't open nowhere/out.qb!\n",
       "nowhere/out.qb",
       "No such file or directory",
       false},
      {"output is a folder",
       {"names.dbg", "folder"},
       "",
       "Couldn't open folder!\n",
       "folder",
       "Is a directory",
       false},
      {"no word at the first question",
       {},
       " \n",
       "Enter the filename: \nNo filename given!\n",
       "standard input",
       no_word,
       true},
      {"no word at the second question",
       {},
       "names.dbg",
       questions + "No filename given!\n",
       "standard input",
       no_word,
       true},
  };
  for (const failure& f : failures) {
    const run_result result = run_apart(f.arguments, f.standard_input);
    EXPECT_EQ(result.output, banner + f.output) << f.name;
    EXPECT_TRUE(says_why(without_warnings(result.error, "names.dbg"), f.about, f.reason, f.own))
        << f.name;
    EXPECT_EQ(result.exit_status, failure_status) << f.name;
    EXPECT_EQ(files(), (std::set<std::string>{"folder", "names.dbg"})) << f.name;
  }
}

// `text` as UTF-16, each byte a character, with its byte order mark or none.
std::string as_utf16(const std::string& text, bool big_endian, bool mark) {
  std::string out = mark ? (big_endian ? "\xFE\xFF" : "\xFF\xFE") : "";
  for (const char c : text) {
    out += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
  }
  return out;
}

// A name typed in the wrong order arrives as the output: an existing DBG
// file other than the input is refused before anything is converted and
// kept byte for byte, whatever form its header has; every other output is
// replaced. Given as arguments, such a second DBG file makes every argument
// an input (see converts_each_of_several_dbg_files): it is still kept.
TEST_F(program, keeps_an_output_that_is_another_dbg_file) {
  constexpr std::size_t window = std::size_t{64} << 10;
  const std::string dbg = golden("sample.dbg");
  const std::string body = dbg.substr(dbg.find("\r\n") + 2);  // its lines after the header
  std::string binary;
  for (int i = 0; i < 4096; ++i) {
    binary.push_back(static_cast<char>(i * 7 % 256));
  }
  struct output {
    std::string label;
    std::string name;                  // "names.dbg" is the input itself
    std::optional<std::string> bytes;  // before the run; none: no such file
    bool kept;
  };
  const output outputs[] = {
      {"a second DBG file", "other.txt", dbg, true},
      {"a header ending in LF alone", "other.txt", "[Checksums]\n" + body, true},
      {"a header in lower case", "other.txt", "[checksums]\r\n" + body, true},
      {"a header between blanks", "other.txt", "x\r\n \t[Checksums] \r\n" + body, true},
      {"a header ending in CR alone", "other.txt", "[Checksums]\r0x0000002A a\r", true},
      {"a UTF-8 byte order mark", "other.txt", "\xEF\xBB\xBF[Checksums]\n" + body, true},
      {"UTF-16 LE with its mark", "other.txt", as_utf16(dbg, false, true), true},
      {"UTF-16 BE with its mark", "other.txt", as_utf16(dbg, true, true), true},
      {"UTF-16 LE without a mark", "other.txt", as_utf16(dbg, false, false), true},
      {"UTF-16 BE without a mark", "other.txt", as_utf16(dbg, true, false), true},
      {"a name ending in .DBG", "OTHER.DBG", golden("two_lines.qb"), true},
      {"an empty file named .dbg", "other.dbg", "", true},
      {"its header ending at 64 KiB", "other.txt",
       std::string(window - 13, 'x') + "[Checksums]\r\n", true},
      {"its header line cut at 64 KiB", "other.txt",
       std::string(window - 13, 'x') + "\n[Checksums]\r\n", true},
      {"its header past 64 KiB", "other.txt", std::string(window - 1, 'x') + "\n[Checksums]\n",
       false},
      {"a table", "other.qb", golden("two_lines.qb"), false},
      {"an empty file", "other.qb", "", false},
      {"a binary file", "other.bin", binary, false},
      {"a new file named .dbg", "new.dbg", std::nullopt, false},
      {"the input itself", "names.dbg", std::nullopt, false},
#ifdef _WIN32
      {"a name that Windows reads as .dbg", "other.dbg.", golden("two_lines.qb"), true},
#endif
  };
  for (const output& o : outputs) {
    for (const bool asked : {false, true}) {
      const std::string label = o.label + (asked ? ", typed" : ", as arguments");
      write_file(path("names.dbg"), dbg);
      if (o.bytes) {
        write_file(path(o.name), *o.bytes);
      }
      const std::set<std::string> before = files();
      const run_result result =
          asked ? run({}, "names.dbg " + o.name + "\n") : run({"names.dbg", o.name, "third.dbg"});
      if (o.kept && !asked) {
        // Each argument an input: both DBG files converted beside
        // themselves, the missing third one told, no DBG file replaced.
        EXPECT_NE(result.output.find("Couldn't open third.dbg!\n"), std::string::npos) << label;
        EXPECT_EQ(result.exit_status, failure_status) << label;
        EXPECT_EQ(read_file(path(o.name)), *o.bytes) << label;
        EXPECT_EQ(read_file(path("names.dbg")), dbg) << label;
        EXPECT_EQ(read_file(path("names.dbg.qb")), golden("sample.qb")) << label;
        std::set<std::string> after = before;
        after.insert({"names.dbg.qb", o.name + ".qb"});
        EXPECT_EQ(files(), after) << label;
        fs::remove(path("names.dbg.qb"));
        fs::remove(path(o.name + ".qb"));
        fs::remove(path(o.name));
        continue;
      }
      const std::string dialogue =
          asked ? "Enter the filename: \nEnter the file to save as: \n" : "";
      const std::string outcome =
          o.kept ? "Couldn't open " + o.name + "!\ndbgparse: " + o.name +
                       " is a DBG file: it is kept; give the table another name\n"
                 : "Finished!\n";
      EXPECT_EQ(result.output, banner + dialogue + outcome) << label;
      EXPECT_EQ(result.exit_status, o.kept ? failure_status : 0) << label;
      EXPECT_EQ(read_file(path(o.name)), o.kept ? *o.bytes : golden("sample.qb")) << label;
      EXPECT_EQ(read_file(path("names.dbg")), o.name == "names.dbg" ? golden("sample.qb") : dbg)
          << label;
      std::set<std::string> after = before;
      if (!o.kept) {
        after.insert(o.name);
      }
      EXPECT_EQ(files(), after) << label;
      fs::remove(path(o.name));
    }
  }
}

// Several DBG files dropped on the program at once arrive as arguments: when
// the second is an existing DBG file, each argument is an input, converted
// to its own NAME.qb beside it, in order, each with its outcome and its
// warnings, and one pause at the end. An argument that is no DBG file is
// told and not converted; the run fails when any one did.
TEST_F(program, converts_each_of_several_dbg_files) {
  write_file(path("a.dbg"), golden("sample.dbg"));
  write_file(path("b.dbg"), golden("two_lines.dbg"));
  write_file(path("c.DBG"), "[Checksums]\r\n0x00000001 trailing \r\n");
  write_file(path("notes.txt"), "no DBG file");
  write_file(path("c.DBG.qb"), "older");
  const std::string not_dbg =
      " is not a DBG file: of several files given at once, only DBG files are converted\n";
  struct several {
    std::vector<std::string> arguments;
    std::string output;
    int status;
  };
  const several cases[] = {
      {{"a.dbg", "b.dbg"}, "Finished!\nFinished!\n", 0},
      {{"a.dbg", "b.dbg", "c.DBG"},
       "Finished!\nFinished!\ndbgparse: c.DBG:2: warning: the name \"trailing \" ends in a blank "
       "or a tab, which the table keeps\nFinished!\n",
       0},
      {{"a.dbg", "b.dbg", "notes.txt", "missing.dbg"},
       "Finished!\nFinished!\nCouldn't open notes.txt!\ndbgparse: notes.txt" + not_dbg +
           "Couldn't open missing.dbg!\ndbgparse: missing.dbg" + not_dbg,
       failure_status},
  };
  for (const several& c : cases) {
    const std::string label = testing::PrintToString(c.arguments);
    const run_result result = run(c.arguments);
    EXPECT_EQ(result.output, banner + c.output) << label;
    EXPECT_EQ(result.exit_status, c.status) << label;
    EXPECT_EQ(read_file(path("a.dbg.qb")), golden("sample.qb")) << label;
    EXPECT_EQ(read_file(path("b.dbg.qb")), golden("two_lines.qb")) << label;
    EXPECT_EQ(read_file(path("a.dbg")), golden("sample.dbg")) << label;
    EXPECT_EQ(read_file(path("b.dbg")), golden("two_lines.dbg")) << label;
    EXPECT_EQ(read_file(path("notes.txt")), "no DBG file") << label;
    EXPECT_FALSE(fs::exists(path("notes.txt.qb"))) << label;
  }
  EXPECT_EQ(read_file(path("c.DBG.qb")).substr(0, 2), "\x01\x2B");
}

// Every golden file through the program, as through the library's own
// entry points: the same table, whatever the input's faults.
TEST_F(program, converts_each_golden_file_to_its_table) {
  for (const std::string& name : test_support::golden_names()) {
    write_file(path("in.dbg"), golden(name + ".dbg"));
    const run_result result = run({"in.dbg", "out.qb"});
    // Many golden files hold what the warnings tell of; they come between
    // the banner and Finished!, each in the form editors read.
    std::string dialogue;
    std::istringstream lines(result.output);
    for (std::string line; std::getline(lines, line);) {
      if (line.starts_with("dbgparse: in.dbg")) {
        EXPECT_TRUE(line.find(": warning: ") != std::string::npos ||
                    line.ends_with(" more warnings"))
            << name << ": " << line;
      } else {
        dialogue += line + "\n";
      }
    }
    EXPECT_EQ(dialogue, std::string(banner) + "Finished!\n") << name;
    EXPECT_TRUE(read_file(path("out.qb")) == golden(name + ".qb")) << name;
  }
}

// A large input's table is written by a thread of its own while the rest is
// converted, a small one's on the converting thread: either way every byte
// arrives, in order. Each line's entry is made here from the table's layout.
TEST_F(program, writes_a_table_whole_on_either_side_of_the_writer_threads_size) {
  for (const int lines : {1000, 760000}) {  // about 20 KiB, and over 16 MiB
    std::string input = "[Checksums]\r\n";
    std::string expected;
    for (int i = 0; i < lines; ++i) {
      const auto checksum = static_cast<unsigned>(i) * 2654435761U;
      const std::string name = "name_" + std::to_string(i);
      char field[9];
      std::snprintf(field, sizeof field, "%08x", checksum);
      input += std::string("0x") + field + " " + name + "\r\n";
      expected += i == 0 ? '\x01' : '\x00';
      expected += '\x2B';
      for (int k = 0; k < 4; ++k) {
        expected += static_cast<char>((checksum >> (8 * k)) & 0xFFU);
      }
      expected += name;
    }
    expected += std::string(2, '\0');
    write_file(path("lines.dbg"), input);
    const run_result result = run({"lines.dbg"});
    EXPECT_EQ(result.output, std::string(banner) + "Finished!\n") << lines;
    EXPECT_TRUE(read_file(path("lines.dbg.qb")) == expected) << lines << " lines";
  }
}

// What the warnings say reaches standard error a line each, between the
// banner and "Finished!", the run succeeding as without them.
TEST_F(program, tells_each_surprise_in_one_line) {
  struct surprise {
    std::string input;
    std::string said;  // after "dbgparse: s.dbg"
  };
  const surprise cases[] = {
      {"[Checksums]\r\n0x2a9d4b1c  player_board\r\n",
       ":2: warning: the name \" player_board\" starts with a blank or a tab, which the table "
       "keeps"},
      {"[Checksums]\r\n0x00000010 sprite_0x10_frame\r\n0x00000011 a\r\n",
       ":2: warning: the entry 0x00000010 with no name: a \"0x\" inside the name of the entry "
       "before starts it; its value field \"10_frame\" has 2 digits; it has no name, which ends "
       "the table: 1 line after it is not converted"},
      {"\xEF\xBB\xBF[checksums]\r\n0x00000001 a\r\n",
       ":1: warning: there is no \"[Checksums]\" line ending in CR LF, so the table is empty: the "
       "header line starts with a UTF-8 byte order mark and reads \"[checksums]\", which differs "
       "in case"},
  };
  for (const surprise& c : cases) {
    write_file(path("s.dbg"), c.input);
    const run_result result = run({"s.dbg"});
    EXPECT_EQ(result.output, std::string(banner) + "dbgparse: s.dbg" + c.said + "\nFinished!\n");
    EXPECT_EQ(result.exit_status, 0);
  }
}

TEST_F(program, converts_an_empty_input_to_the_end_marker) {
  write_file(path("empty.dbg"), "");
  const run_result result = run({"empty.dbg"});
  EXPECT_EQ(result.output, std::string(banner) +
                               "dbgparse: empty.dbg: warning: the input is empty, so the table has "
                               "no entries\nFinished!\n");
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(read_file(path("empty.dbg.qb")), std::string(2, '\0'));
}

TEST_F(program, replaces_the_input_when_it_is_also_the_output) {
  write_file(path("names.dbg"), golden("sample.dbg"));
  const run_result result = run({"names.dbg", "names.dbg"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(read_file(path("names.dbg")), golden("sample.qb"));
  EXPECT_EQ(files(), std::set<std::string>{"names.dbg"});
}

TEST_F(program, replaces_an_existing_output_whole) {
  write_file(path("names.dbg"), golden("sample.dbg"));
  write_file(path("names.dbg.qb"), std::string(100000, 'x'));
  EXPECT_EQ(run({"names.dbg"}).exit_status, 0);
  EXPECT_EQ(read_file(path("names.dbg.qb")), golden("sample.qb"));
}

TEST_F(program, loses_nothing_when_the_disk_fills_up) {
  SKIP_ON_WINDOWS("a file size limit needs ulimit -f, which Windows lacks");
  // A table of several blocks, the limit in the first or in a later one,
  // which the writing thread writes while the conversion goes on.
  const std::string input = many_lines(100000);
  const std::string older_table = "an older table";
  struct layout {
    std::string name;
    std::vector<std::string> arguments;
    bool older_output;
    std::string output;
  };
  const layout layouts[] = {
      {"new output", {"names.dbg", "out.qb"}, false, "out.qb"},
      {"existing older output", {"names.dbg", "out.qb"}, true, "out.qb"},
      {"output is the input", {"names.dbg", "names.dbg"}, false, "names.dbg"},
  };
  for (const layout& l : layouts) {
    for (const std::uint64_t limit : {std::uint64_t{8192}, std::uint64_t{2} << 20}) {
      const std::string name = l.name + ", limit " + std::to_string(limit);
      fs::remove_all(folder_);
      fs::create_directories(folder_);
      write_file(path("names.dbg"), input);
      std::set<std::string> expected_files{"names.dbg"};
      if (l.older_output) {
        write_file(path("out.qb"), older_table);
        expected_files.insert("out.qb");
      }
      run_options options;
      options.arguments = l.arguments;
      options.working_directory = folder_;
      options.file_size_limit = limit;
      options.error_apart = true;
      const run_result result = run_program(DBGPARSE_EXE, options);
      EXPECT_EQ(result.output, banner + "Couldn't write " + l.output + "!\n") << name;
      EXPECT_TRUE(says_why(result.error, l.output, "File too large")) << name;
      EXPECT_EQ(result.exit_status, failure_status) << name;
      EXPECT_EQ(files(), expected_files) << name << ": a temporary file was left";
      EXPECT_EQ(read_file(path("names.dbg")), input) << name;
      if (l.older_output) {
        EXPECT_EQ(read_file(path("out.qb")), older_table) << name;
      }
    }
  }
}

TEST_F(program, writes_through_a_symbolic_link_and_keeps_it) {
  SKIP_ON_WINDOWS("symbolic links need a privilege that Windows users rarely have");
  write_file(path("names.dbg"), golden("sample.dbg"));
  fs::create_directories(path("tables"));
  write_file(path("tables/target.qb"), "old");
  fs::create_symlink("tables/target.qb", path("link.qb"));
  EXPECT_EQ(run({"names.dbg", "link.qb"}).exit_status, 0);
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(path("link.qb"))));
  EXPECT_EQ(read_file(path("tables/target.qb")), golden("sample.qb"));
  EXPECT_EQ(files(), (std::set<std::string>{"link.qb", "names.dbg", "tables"}));
}

TEST_F(program, keeps_the_permissions_of_an_existing_output) {
  SKIP_ON_WINDOWS("POSIX permission bits");
  write_file(path("names.dbg"), golden("sample.dbg"));
  for (const fs::perms mode :
       {fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
        fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read |
            fs::perms::others_write}) {
    write_file(path("out.qb"), "old");
    fs::permissions(path("out.qb"), mode);
    EXPECT_EQ(run({"names.dbg", "out.qb"}).exit_status, 0);
    EXPECT_EQ(fs::status(path("out.qb")).permissions(), mode);
    EXPECT_EQ(read_file(path("out.qb")), golden("sample.qb"));
  }
}

#ifndef _WIN32
TEST_F(program, creates_a_new_output_as_a_plain_create_would) {
  write_file(path("names.dbg"), golden("sample.dbg"));
  const mode_t umask_now = ::umask(0);
  ::umask(umask_now);
  EXPECT_EQ(run({"names.dbg", "out.qb"}).exit_status, 0);
  struct stat status {};
  ASSERT_EQ(::stat(path("out.qb").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0666 & ~umask_now);
}

TEST_F(program, refuses_an_output_it_may_not_write) {
  write_file(path("names.dbg"), golden("sample.dbg"));
  write_file(path("out.qb"), "old");
  fs::permissions(path("names.dbg"), fs::perms::owner_read | fs::perms::others_read);
  fs::permissions(path("out.qb"), fs::perms::owner_read | fs::perms::others_read);
  run_options options;
  options.arguments = {"names.dbg", "out.qb"};
  options.working_directory = folder_;
  options.error_apart = true;
  fs::path executable = DBGPARSE_EXE;
  if (::geteuid() == 0) {
    // Root may write any file: run as an ordinary user, who may create
    // files in the folder but not write this one. The build folder may be
    // private to root, so that user runs a copy kept outside the folder.
    constexpr unsigned nobody = 65534;
    options.user_id = nobody;
    fs::permissions(folder_, fs::perms::all);
    executable = folder_.string() + "_program";
    fs::copy_file(DBGPARSE_EXE, executable, fs::copy_options::overwrite_existing);
  }
  const run_result result = run_program(executable, options);
  if (executable != DBGPARSE_EXE) {
    fs::remove(executable);
  }
  if (result.exit_status == 126 || result.exit_status == 127) {
    GTEST_SKIP() << "the ordinary user cannot reach " << folder_;
  }
  EXPECT_EQ(result.output, std::string(banner) + "Couldn't open out.qb!\n");
  EXPECT_TRUE(says_why(result.error, "out.qb", "Permission denied"));
  EXPECT_EQ(result.exit_status, failure_status);
  EXPECT_EQ(read_file(path("out.qb")), "old");
  EXPECT_EQ(files(), (std::set<std::string>{"names.dbg", "out.qb"}));
}
#endif

TEST_F(program, writes_a_device_in_place) {
  SKIP_ON_WINDOWS("/dev/null is a POSIX device");
  write_file(path("names.dbg"), golden("sample.dbg"));
  const run_result result = run({"names.dbg", "/dev/null"});
  EXPECT_EQ(result.output, std::string(banner) + "Finished!\n");
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_EQ(files(), std::set<std::string>{"names.dbg"});
}

#ifndef _WIN32
TEST_F(program, waits_for_a_key_at_a_terminal) {
  write_file(path("names.dbg"), golden("sample.dbg"));
  const auto [child, terminal] =
      test_support::start_at_terminal(folder_, DBGPARSE_EXE, {"names.dbg"});
  ASSERT_GE(child, 0);
  const std::string shown =
      test_support::read_terminal_until(terminal, "Press any key to continue . . . ");
  EXPECT_NE(shown.find("Finished!"), std::string::npos) << shown;
  ASSERT_NE(shown.find("Press any key to continue . . . "), std::string::npos) << shown;

  // Still waiting: it has not exited before the key, but sits reading it.
  EXPECT_TRUE(test_support::wait_until([pid = child] {
    return test_support::blocked_reading_standard_input(pid);
  })) << "not waiting for the key";
  ASSERT_EQ(::write(terminal, "q", 1), 1);
  const std::string after = test_support::read_terminal_until(terminal, "\n");
  EXPECT_EQ(after.find('q'), std::string::npos) << "the key was echoed: " << after;
  const std::optional<int> status = test_support::wait_for_end(child);
  ::close(terminal);
  ASSERT_TRUE(status) << "the program did not end after the key";
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
  EXPECT_EQ(read_file(path("names.dbg.qb")), golden("sample.qb"));
}

// Ctrl-C at the pause is a key like any other: the run ends with the status
// it had, not as interrupted (Windows does the same).
TEST_F(program, ends_the_pause_at_ctrl_c_with_its_own_status) {
  write_file(path("names.dbg"), golden("sample.dbg"));
  struct run_case {
    std::string name;
    std::vector<std::string> arguments;
    int status;
  };
  const run_case cases[] = {
      {"after Finished!", {"names.dbg", "out.qb"}, 0},
      {"after a failure", {"missing.dbg"}, failure_status},
  };
  for (const run_case& c : cases) {
    const auto [child, terminal] =
        test_support::start_at_terminal(folder_, DBGPARSE_EXE, c.arguments);
    ASSERT_GE(child, 0);
    const std::string shown =
        test_support::read_terminal_until(terminal, "Press any key to continue . . . ");
    ASSERT_NE(shown.find("Press any key to continue . . . "), std::string::npos) << c.name;
    ASSERT_EQ(::write(terminal, "\x03", 1), 1);
    const std::optional<int> status = test_support::wait_for_end(child);
    ::close(terminal);
    ASSERT_TRUE(status) << c.name << ": the program did not end after Ctrl-C";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == c.status)
        << c.name << ": wait status " << *status;
  }
}

TEST_F(program, waits_for_a_key_pressed_after_the_prompt) {
  write_file(path("names.dbg"), golden("sample.dbg"));
  const auto [child, terminal] = test_support::start_at_terminal(folder_, DBGPARSE_EXE, {});
  ASSERT_GE(child, 0);
  // Typed ahead, before the program asks: the two answers, then a line the
  // dialogue never reads, still waiting in the terminal when the pause comes.
  const std::string typed = "names.dbg\nout.qb\nstray\n";
  ASSERT_EQ(::write(terminal, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  const std::string shown =
      test_support::read_terminal_until(terminal, "Press any key to continue . . . ");
  ASSERT_NE(shown.find("Press any key to continue . . . "), std::string::npos) << shown;
  // Had the pause taken the line typed ahead, it would end instead of
  // blocking until a key comes.
  EXPECT_TRUE(test_support::wait_until([pid = child] {
    return test_support::blocked_reading_standard_input(pid);
  })) << "the pause took a key typed before it";
  ASSERT_EQ(::write(terminal, "q", 1), 1);
  const std::optional<int> status = test_support::wait_for_end(child);
  ::close(terminal);
  EXPECT_TRUE(status) << "the program did not end after the key";
  EXPECT_EQ(read_file(path("out.qb")), golden("sample.qb"));
}

// A failed run leaves nothing behind during the pause, which can last as
// long as no one is at the keyboard.
TEST_F(program, discards_what_a_failed_run_made_before_pausing) {
  write_file(path("names.dbg"), many_lines(100000));
  for (const bool existing : {false, true}) {
    const std::string name = existing ? "an existing output" : "a new output";
    fs::remove(path("out.qb"));
    std::set<std::string> expected{"names.dbg"};
    if (existing) {
      write_file(path("out.qb"), "older");
      expected.insert("out.qb");
    }
    // The write fails at the file size limit, well into the table.
    const auto [child, terminal] =
        test_support::start_at_terminal(folder_, DBGPARSE_EXE, {"names.dbg", "out.qb"}, 8192);
    ASSERT_GE(child, 0);
    const std::string shown =
        test_support::read_terminal_until(terminal, "Press any key to continue . . . ");
    EXPECT_NE(shown.find("Couldn't write out.qb!"), std::string::npos) << name << ": " << shown;
    EXPECT_EQ(files(), expected) << name << ": left during the pause";
    if (shown.find("Press any key") == std::string::npos) {
      ::kill(child, SIGKILL);  // no pause: nothing to press a key for
    }
    EXPECT_EQ(::write(terminal, "q", 1), 1);
    const std::optional<int> status = test_support::wait_for_end(child);
    ::close(terminal);
    ASSERT_TRUE(status) << name << ": did not end after the key";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == failure_status) << name;
  }
}
#endif

}  // namespace
