#include "program_fixture.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <string_view>

#ifndef _WIN32
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>
#endif

namespace test_support {

namespace fs = std::filesystem;

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string golden(const std::string& name) {
  return read_file(fs::path(DBGPARSE_TEST_DATA) / name);
}

std::string bytes_of(std::u8string_view text) { return {text.begin(), text.end()}; }

std::string without_warnings(const std::string& output, const std::string& input) {
  const std::string warning = "dbgparse: " + input + ":";
  std::string dialogue;
  std::size_t at = 0;
  while (at < output.size()) {
    const std::size_t end = std::min(output.find('\n', at), output.size() - 1) + 1;
    const std::string_view line(output.data() + at, end - at);
    const bool warned =
        line.starts_with(warning) &&
        (line.find(": warning: ") != std::string_view::npos || line.ends_with(" more warnings\n"));
    if (!warned) {
      dialogue += line;
    }
    at = end;
  }
  return dialogue;
}

#ifndef _WIN32
std::string read_terminal_until(int terminal, const std::string& wanted) {
  std::string seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (seen.find(wanted) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd ready{terminal, POLLIN, 0};
    if (::poll(&ready, 1, 100) <= 0) {
      continue;
    }
    char chunk[256];
    const ssize_t got = ::read(terminal, chunk, sizeof chunk);
    if (got <= 0) {
      break;
    }
    seen.append(chunk, static_cast<std::size_t>(got));
  }
  return seen;
}

terminal_child start_at_terminal(const fs::path& folder, const std::string& program,
                                 const std::vector<std::string>& arguments,
                                 unsigned long file_size_limit) {
  // Everything the child needs is made before the fork: it only calls what
  // is safe between fork and exec.
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  const std::string folder_name = folder.string();
  const rlimit limit{file_size_limit, file_size_limit};
  int terminal = -1;
  const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child == 0) {
    if (::chdir(folder_name.c_str()) == 0 &&
        (file_size_limit == 0 || ::setrlimit(RLIMIT_FSIZE, &limit) == 0)) {
      ::execv(program.c_str(), argv.data());
    }
    ::_exit(127);
  }
  return {child, terminal};
}

namespace {
// Long enough for a loaded machine; only a program that is wrong waits it out.
constexpr auto patience = std::chrono::seconds(20);
}  // namespace

bool wait_until(const std::function<bool()>& ready) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::optional<int> wait_for_end(int pid) {
  int status = 0;
  if (wait_until([&] { return ::waitpid(pid, &status, WNOHANG) == pid; })) {
    return status;
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return std::nullopt;
}

bool blocked_reading_standard_input(int pid) {
  // The call it is in, and its first argument: read() on descriptor 0.
  std::ifstream call("/proc/" + std::to_string(pid) + "/syscall");
  long number = -1;
  std::string descriptor;
  call >> number >> descriptor;
  return number == SYS_read && descriptor == "0x0";
}
#endif

void program_fixture::SetUp() {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  folder_ = fs::temp_directory_path() / (std::string("dbgparse_") + info->name() + "_" +
                                         std::to_string(std::random_device{}()));
  fs::remove_all(folder_);
  fs::create_directories(folder_);
}

void program_fixture::TearDown() {
  // Tests take write permission away from files and folders; give it back
  // so that everything can be removed.
  std::error_code ignored;
  fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add, ignored);
  for (const auto& entry : fs::recursive_directory_iterator(folder_, ignored)) {
    fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ignored);
  }
  fs::remove_all(folder_, ignored);
}

testing::AssertionResult says_why(const std::string& error, const std::string& path,
                                  const std::string& reason, bool own) {
  const std::string start = "dbgparse: " + path + ": ";
  bool right = error == start + reason + "\n";
#ifdef _WIN32
  right = right || (!own && error.starts_with(start) && error.size() > start.size() + 1 &&
                    error.find('\n') == error.size() - 1);
#else
  (void)own;
#endif
  if (right) {
    return testing::AssertionSuccess();
  }
  return testing::AssertionFailure()
         << "standard error is \"" << error << "\", not \"" << start << reason << "\\n\"";
}

run_result program_fixture::run_apart(std::vector<std::string> arguments,
                                      std::string standard_input) {
  run_options options;
  options.arguments = std::move(arguments);
  options.standard_input = std::move(standard_input);
  options.working_directory = folder_;
  options.error_apart = true;
  return run_program(DBGPARSE_EXE, options);
}

run_result program_fixture::run(std::vector<std::string> arguments, std::string standard_input) {
  run_options options;
  options.arguments = std::move(arguments);
  options.standard_input = std::move(standard_input);
  options.working_directory = folder_;
  return run_program(DBGPARSE_EXE, options);
}

std::set<std::string> program_fixture::files() const {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder_)) {
    names.insert(bytes_of(entry.path().filename().u8string()));
  }
  return names;
}

}  // namespace test_support
