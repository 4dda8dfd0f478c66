#include "own_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "file_io.h"

namespace dbgparse::platform::posix {
namespace {

// How a standard stream the process was started without is held: /dev/null
// open the other way round (as the C library does for set-user-ID programs),
// so that using it fails just as a closed one would.
int held_closed_mode(int fd) { return fd == STDIN_FILENO ? O_WRONLY : O_RDONLY; }

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

void hold_closed_standard_streams() {
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) {
      continue;
    }
    // The lowest free number, which is this one.
    if (open_retrying("/dev/null", held_closed_mode(fd) | O_NOCTTY) != fd) {
      ::_exit(255);  // nothing could be said anyway
    }
    // Not closed on exec, as a standard stream is not.
    ::fcntl(fd, F_SETFD, 0);
  }
}

bool is_held_closed_stream(int fd) {
  if (fd < STDIN_FILENO || fd > STDERR_FILENO) {
    return false;
  }
  const int mode = ::fcntl(fd, F_GETFL);
  const int held_as = held_closed_mode(fd);
  struct stat stream {};
  struct stat null {};
  return mode >= 0 && (mode & O_ACCMODE) == held_as && ::fstat(fd, &stream) == 0 &&
         ::stat("/dev/null", &null) == 0 && S_ISCHR(stream.st_mode) &&
         stream.st_rdev == null.st_rdev;
}

}  // namespace dbgparse::platform::posix
