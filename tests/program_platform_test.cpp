// Process-level tests of what depends on the platform: file names outside
// ASCII on every platform, and on Windows the cases that POSIX tests by means
// Windows lacks (a read-only file, a device, a file held open by another
// program, names that differ only in case or separators).
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "program_fixture.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;
using test_support::banner;
using test_support::bytes_of;
using test_support::failure_status;
using test_support::golden;
using test_support::read_file;
using test_support::run_result;
using test_support::write_file;

class platform_program : public test_support::program_fixture {};

struct name_case {
  std::string script;
  std::u8string input;
  std::u8string output;
};

const name_case non_ascii_names[] = {
    {"Cyrillic", u8"контрольные суммы.dbg", u8"таблица.qb"},
    {"Japanese", u8"チェックサム.dbg", u8"表.qb"},
    {"Latin with accents", u8"sommes de contrôle é.dbg", u8"tâble.qb"},
};

TEST_F(platform_program, converts_files_named_outside_ascii) {
  for (const name_case& n : non_ascii_names) {
    const std::string input = bytes_of(n.input);
    const std::string output = bytes_of(n.output);
    struct mode {
      std::string name;
      std::vector<std::string> arguments;
      std::string standard_input;
      std::string written;
    };
    const mode modes[] = {
        {"one argument", {input}, "", input + ".qb"},
        {"two arguments", {input, output}, "", output},
        // Typed names end at white space, so the answers here have none.
        {"answers to the questions", {}, output + "\n" + output + "\n", output},
    };
    for (const mode& m : modes) {
      fs::remove_all(folder_);
      fs::create_directories(folder_);
      const std::string source = m.arguments.empty() ? output : input;
      write_file(folder_ / fs::path(std::u8string(source.begin(), source.end())),
                 golden("sample.dbg"));
      const run_result result = run(m.arguments, m.standard_input);
      const std::string label = n.script + ", " + m.name;
      EXPECT_EQ(result.exit_status, 0) << label << ": " << result.output;
      EXPECT_EQ(result.output.substr(0, banner.size()), banner) << label;
      EXPECT_TRUE(result.output.ends_with("Finished!\n")) << label << ": " << result.output;
      EXPECT_EQ(read_file(folder_ / fs::path(std::u8string(m.written.begin(), m.written.end()))),
                golden("sample.qb"))
          << label;
      EXPECT_EQ(files(), (std::set<std::string>{source, m.written})) << label;
    }
  }
}

TEST_F(platform_program, names_a_missing_file_outside_ascii_in_utf8) {
  for (const name_case& n : non_ascii_names) {
    const std::string input = bytes_of(n.input);
    const run_result result = run({input});
    EXPECT_EQ(result.output,
              banner + "Error checking size of " + input + " are you sure it exists?\n")
        << n.script;
    EXPECT_EQ(result.exit_status, failure_status) << n.script;
    EXPECT_TRUE(files().empty()) << n.script;
  }
}

// Past 2 GiB a 32-bit file size no longer holds; the file is sparse, so the
// test costs memory but hardly any disk.
TEST_F(platform_program, converts_an_input_of_more_than_2_gib) {
  const std::string head = "[Checksums]\r\n0x0000002A near\r\n";
  const std::string tail = "0xDEADBEEF far\r\n";
  constexpr std::uint64_t tail_offset = (std::uint64_t{1} << 31) + 5;
  write_file(path(u8"short.dbg"), head + tail);
  ASSERT_EQ(run({"short.dbg"}).exit_status, 0);
  {
    std::ofstream big(path(u8"big.dbg"), std::ios::binary);
    big << head;
    big.seekp(static_cast<std::streamoff>(tail_offset));
    big << tail;
  }
  ASSERT_EQ(fs::file_size(path(u8"big.dbg")), tail_offset + tail.size());
  const run_result result = run({"big.dbg"});
  EXPECT_EQ(result.output, banner + "Finished!\n");
  EXPECT_EQ(result.exit_status, 0);
  // The zero bytes between the lines add nothing to the table.
  EXPECT_EQ(read_file(path(u8"big.dbg.qb")), read_file(path(u8"short.dbg.qb")));
}

#ifdef _WIN32

TEST_F(platform_program, refuses_a_read_only_output) {
  write_file(path(u8"names.dbg"), golden("sample.dbg"));
  write_file(path(u8"out.qb"), "old");
  fs::permissions(path(u8"out.qb"),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  ASSERT_NE(::GetFileAttributesW(path(u8"out.qb").c_str()) & FILE_ATTRIBUTE_READONLY, 0U);
  const run_result result = run({"names.dbg", "out.qb"});
  EXPECT_EQ(result.output, banner + "Couldn't open out.qb!\n");
  EXPECT_EQ(result.exit_status, failure_status);
  EXPECT_EQ(read_file(path(u8"out.qb")), "old");
  EXPECT_EQ(files(), (std::set<std::string>{"names.dbg", "out.qb"}));
}

TEST_F(platform_program, writes_the_null_device_in_place) {
  write_file(path(u8"names.dbg"), golden("sample.dbg"));
  for (const std::string device : {"NUL", "nul"}) {
    const run_result result = run({"names.dbg", device});
    EXPECT_EQ(result.output, banner + "Finished!\n") << device;
    EXPECT_EQ(result.exit_status, 0) << device;
    EXPECT_EQ(files(), std::set<std::string>{"names.dbg"}) << device;
  }
}

// Names that Windows takes for the input file itself.
TEST_F(platform_program, replaces_the_input_under_another_spelling_of_its_name) {
  for (const std::string output : {"NAMES.DBG", ".\\names.dbg", "sub\\..\\names.dbg"}) {
    fs::remove_all(folder_);
    fs::create_directories(path(u8"sub"));
    write_file(path(u8"names.dbg"), golden("sample.dbg"));
    const run_result result = run({"names.dbg", output});
    EXPECT_EQ(result.output, banner + "Finished!\n") << output;
    EXPECT_EQ(result.exit_status, 0) << output;
    EXPECT_EQ(read_file(path(u8"names.dbg")), golden("sample.qb")) << output;
    EXPECT_EQ(files().size(), 2U) << output << ": a temporary file was left";
  }
}

TEST_F(platform_program, writes_in_place_an_output_that_cannot_be_renamed_over) {
  // Another program holds the old output open, letting it be written but not
  // deleted, so nothing can be renamed over it: it is written in place, as a
  // plain open would, and no temporary file is left.
  write_file(path(u8"names.dbg"), golden("sample.dbg"));
  write_file(path(u8"out.qb"), "an older table, longer than the new one is " + std::string(400, '.'));
  const HANDLE holder =
      ::CreateFileW(path(u8"out.qb").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  const run_result result = run({"names.dbg", "out.qb"});
  ::CloseHandle(holder);
  EXPECT_EQ(result.output, banner + "Finished!\n");
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(read_file(path(u8"out.qb")), golden("sample.qb"));
  EXPECT_EQ(files(), (std::set<std::string>{"names.dbg", "out.qb"})) << "a temporary file was left";
}

bool is_reparse_point(const fs::path& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

TEST_F(platform_program, writes_through_a_symbolic_link_and_keeps_it) {
  write_file(path(u8"names.dbg"), golden("sample.dbg"));
  fs::create_directories(path(u8"tables"));
  write_file(path(u8"tables/target.qb"), "old");
  // Wine reports success but makes no link.
  if (::CreateSymbolicLinkW(path(u8"link.qb").c_str(), L"tables\\target.qb",
                            SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) == 0 ||
      !is_reparse_point(path(u8"link.qb"))) {
    GTEST_SKIP() << "no symbolic link could be made here: Windows needs a privilege or "
                    "developer mode for one, and wine makes none";
  }
  const run_result result = run({"names.dbg", "link.qb"});
  EXPECT_EQ(result.output, banner + "Finished!\n");
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_TRUE(is_reparse_point(path(u8"link.qb")));
  EXPECT_EQ(read_file(path(u8"tables/target.qb")), golden("sample.qb"));
  EXPECT_EQ(files(), (std::set<std::string>{"link.qb", "names.dbg", "tables"}));
}

TEST_F(platform_program, refuses_an_output_in_a_missing_folder_given_with_backslashes) {
  write_file(path(u8"names.dbg"), golden("sample.dbg"));
  const run_result result = run({"names.dbg", "nowhere\\out.qb"});
  EXPECT_EQ(result.output, banner + "Couldn't open nowhere\\out.qb!\n");
  EXPECT_EQ(result.exit_status, failure_status);
  EXPECT_EQ(files(), std::set<std::string>{"names.dbg"});
}

#endif

}  // namespace
