#include "own_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "file_io.h"

namespace dbgparse::platform::posix {
namespace {

namespace fs = std::filesystem;

constexpr int max_link_depth = 40;

std::optional<int> parse_descriptor(std::string_view digits) {
  int number = -1;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (error != std::errc{} || end != digits.data() + digits.size() || number < 0) {
    return std::nullopt;
  }
  return number;
}

// The descriptor an absolute, normalised path names by itself.
std::optional<int> descriptor_of_name(const std::string& path) {
  if (path == "/dev/stdin") {
    return STDIN_FILENO;
  }
  if (path == "/dev/stdout") {
    return STDOUT_FILENO;
  }
  if (path == "/dev/stderr") {
    return STDERR_FILENO;
  }
  const std::string own_process = "/proc/" + std::to_string(::getpid()) + "/fd/";
  for (const std::string_view folder :
       {std::string_view("/dev/fd/"), std::string_view("/proc/self/fd/"),
        std::string_view("/proc/thread-self/fd/"), std::string_view(own_process)}) {
    if (path.starts_with(folder)) {
      return parse_descriptor(std::string_view(path).substr(folder.size()));
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<int> own_descriptor_named(const std::string& path) {
  std::error_code error;
  fs::path current = fs::absolute(path, error).lexically_normal();
  if (error) {
    return std::nullopt;
  }
  for (int depth = 0; depth < max_link_depth; ++depth) {
    if (const std::optional<int> fd = descriptor_of_name(current.string())) {
      return fd;
    }
    // Read, never followed: a link's own name is checked before its target
    // is read, so the magic links under /proc/self/fd are never read.
    const fs::path target = fs::read_symlink(current, error);
    if (error) {
      return std::nullopt;
    }
    current = (current.parent_path() / target).lexically_normal();
  }
  return std::nullopt;
}

bool reaches(const std::string& path, int fd) {
  struct stat by_path {};
  struct stat by_fd {};
  return ::stat(path.c_str(), &by_path) == 0 && ::fstat(fd, &by_fd) == 0 &&
         same_file(by_path, by_fd);
}

bool is_own_stream(const struct stat& file) {
  for (const int stream : {STDOUT_FILENO, STDERR_FILENO}) {
    struct stat status {};
    if (::fstat(stream, &status) == 0 && S_ISREG(status.st_mode) && same_file(status, file)) {
      return true;
    }
  }
  return false;
}

bool is_held_closed_stream(int fd) {
  if (fd < STDIN_FILENO || fd > STDERR_FILENO) {
    return false;
  }
  const int mode = ::fcntl(fd, F_GETFL);
  const int held_as = fd == STDIN_FILENO ? O_WRONLY : O_RDONLY;
  struct stat stream {};
  struct stat null {};
  return mode >= 0 && (mode & O_ACCMODE) == held_as && ::fstat(fd, &stream) == 0 &&
         ::stat("/dev/null", &null) == 0 && S_ISCHR(stream.st_mode) &&
         stream.st_rdev == null.st_rdev;
}

}  // namespace dbgparse::platform::posix
