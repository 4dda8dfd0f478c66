// Runs the console program as a child process for the process-level tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

// What the program's -1 becomes once it has crossed the process boundary.
#ifdef _WIN32
inline constexpr int failure_status = -1;  // all 32 bits set
#else
inline constexpr int failure_status = 255;
#endif

struct run_options {
  std::vector<std::string> arguments;            // after the program's name
  std::string standard_input;                    // fed through a file
  std::filesystem::path working_directory;       // empty: the test's own
  std::optional<std::uint64_t> file_size_limit;  // bytes; POSIX only
  std::optional<unsigned> user_id;               // run as this user; POSIX, as root
  bool error_apart = false;                      // standard error into `error`, not `output`
};

struct run_result {
  int exit_status = 0;  // -2 when the child did not exit normally
  int killed_by = 0;    // the signal that ended the child, if one did (POSIX)
  std::string output;   // standard output, and standard error unless kept apart
  std::string error;    // standard error, when kept apart
};

run_result run_program(const std::filesystem::path& program, const run_options& options);

}  // namespace test_support
