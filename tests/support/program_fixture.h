// What the process-level tests share: a scratch folder per test, the program
// run in it, and small file helpers.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "child_process.h"
#include "file_bytes.h"

namespace test_support {

inline const std::string banner = "Zav's DBG converter\n";

void write_file(const std::filesystem::path& path, const std::string& bytes);
// A file of tests/data.
std::string golden(const std::string& name);
// UTF-8 text as plain bytes.
std::string bytes_of(std::u8string_view text);
// Whether `error` is the one line that tells why a run failed about `path`:
// "dbgparse: PATH: REASON". On Linux the reason is `reason` itself; elsewhere
// the system words its own reasons, so any reason passes there unless
// `own` says that the program words it itself.
testing::AssertionResult says_why(const std::string& error, const std::string& path,
                                  const std::string& reason, bool own = false);
// A run's output without the warning lines about `input` (on standard
// error, between the dialogue's lines), for tests about the dialogue alone.
std::string without_warnings(const std::string& output, const std::string& input);

#ifndef _WIN32
// What the child wrote to its terminal (a pseudo-terminal's controlling
// side) until `wanted` appears or a few seconds pass.
std::string read_terminal_until(int terminal, const std::string& wanted);

// A child started in `folder` on a pseudo-terminal of its own, running
// `program` with `arguments`, under a file size limit where one is given:
// its process ID (-1 when none could be started) and the terminal's
// controlling side, which the caller closes.
struct terminal_child {
  int pid;
  int terminal;
};
terminal_child start_at_terminal(const std::filesystem::path& folder, const std::string& program,
                                 const std::vector<std::string>& arguments,
                                 unsigned long file_size_limit = 0);

// Waits, a few seconds at most, until the child `pid` ends, and reaps it:
// its wait status, or nothing when it did not end in time (it is then
// killed and reaped, so that no test leaves it behind).
std::optional<int> wait_for_end(int pid);

// Waits, a few seconds at most, until `ready` holds; whether it did.
bool wait_until(const std::function<bool()>& ready);

// Whether the process `pid` is blocked reading its standard input; false
// once it has ended, or where the system does not tell.
bool blocked_reading_standard_input(int pid);
#endif

// Each test works in a folder of its own, removed afterwards.
class program_fixture : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the program in the test's folder with files as its standard
  // streams, so it never pauses and its output is the dialogue alone; the
  // pause before someone at a terminal has tests of its own.
  run_result run(std::vector<std::string> arguments, std::string standard_input = {});
  // The same with standard error kept apart from the dialogue, in `error`.
  run_result run_apart(std::vector<std::string> arguments, std::string standard_input = {});

  [[nodiscard]] std::filesystem::path path(const std::string& name) const { return folder_ / name; }
  [[nodiscard]] std::filesystem::path path(std::u8string_view name) const { return folder_ / name; }
  // The folder's file names, as UTF-8 bytes.
  [[nodiscard]] std::set<std::string> files() const;

  std::filesystem::path folder_;
};

}  // namespace test_support
