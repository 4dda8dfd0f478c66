#include "child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace test_support {
namespace {

std::filesystem::path scratch_file(const char* role) {
  return std::filesystem::temp_directory_path() /
         ("dbgparse_test_" + std::to_string(::getpid()) + "_" + role);
}

// Only async-signal-safe calls between fork and exec.
[[noreturn]] void become_child(const std::filesystem::path& program, std::vector<char*>& argv,
                               int input_fd, int output_fd, int error_fd,
                               const run_options& options) {
  if (!options.working_directory.empty() && ::chdir(options.working_directory.c_str()) != 0) {
    ::_exit(126);
  }
  if (options.file_size_limit) {
    const rlimit limit{*options.file_size_limit, *options.file_size_limit};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::signal(SIGXFSZ, SIG_IGN);
  }
  if (options.user_id) {
    const auto id = static_cast<uid_t>(*options.user_id);
    if (::setgroups(0, nullptr) != 0 || ::setgid(id) != 0 || ::setuid(id) != 0) {
      ::_exit(126);
    }
  }
  ::dup2(input_fd, STDIN_FILENO);
  ::dup2(output_fd, STDOUT_FILENO);
  ::dup2(error_fd, STDERR_FILENO);
  ::execv(program.c_str(), argv.data());
  ::_exit(127);
}

}  // namespace

run_result run_program(const std::filesystem::path& program, const run_options& options) {
  const std::filesystem::path input_path = scratch_file("stdin");
  const std::filesystem::path output_path = scratch_file("stdout");
  const std::filesystem::path error_path = scratch_file("stderr");
  std::ofstream(input_path, std::ios::binary) << options.standard_input;

  const std::string absolute_program = std::filesystem::absolute(program).string();
  std::vector<std::string> words{absolute_program};
  words.insert(words.end(), options.arguments.begin(), options.arguments.end());
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);

  const int input_fd = ::open(input_path.c_str(), O_RDONLY | O_CLOEXEC);
  const int output_fd = ::open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int error_fd = options.error_apart ? ::open(error_path.c_str(),
                                                    O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)
                                           : output_fd;
  if (input_fd < 0 || output_fd < 0 || error_fd < 0) {
    throw std::runtime_error("cannot set up the child's standard streams");
  }
  const pid_t child = ::fork();
  if (child == 0) {
    become_child(absolute_program, argv, input_fd, output_fd, error_fd, options);
  }
  ::close(input_fd);
  ::close(output_fd);
  if (options.error_apart) {
    ::close(error_fd);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
  }

  run_result result;
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -2;
  result.killed_by = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  std::ifstream captured(output_path, std::ios::binary);
  result.output.assign(std::istreambuf_iterator<char>(captured), std::istreambuf_iterator<char>());
  if (options.error_apart) {
    std::ifstream error(error_path, std::ios::binary);
    result.error.assign(std::istreambuf_iterator<char>(error), std::istreambuf_iterator<char>());
    std::filesystem::remove(error_path);
  }
  std::filesystem::remove(input_path);
  std::filesystem::remove(output_path);
  return result;
}

}  // namespace test_support
