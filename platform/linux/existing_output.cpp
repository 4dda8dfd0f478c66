// What an existing output holds, looked at before it is replaced.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "file_io.h"
#include "platform.h"

namespace dbgparse::platform {

std::optional<std::vector<unsigned char>> other_file_start(const std::string& path,
                                                           const std::string& input,
                                                           std::size_t window) {
  // Only a regular file is opened, so that no device notices; non-blocking,
  // so that a FIFO put in its place meanwhile does not wait for a writer.
  struct stat named {};
  if (::stat(path.c_str(), &named) != 0 || !S_ISREG(named.st_mode)) {
    return std::nullopt;
  }
  struct stat source {};
  const int fd = posix::open_retrying(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    // A file we may write but not read is still another file, of which no
    // byte is known.
    const bool refused = errno == EACCES || errno == EPERM;
    if (refused && !(::stat(input.c_str(), &source) == 0 && posix::same_file(named, source))) {
      return std::vector<unsigned char>{};
    }
    return std::nullopt;
  }
  struct stat file {};
  std::optional<std::vector<unsigned char>> start;
  if (::fstat(fd, &file) == 0 && S_ISREG(file.st_mode) &&
      !(::stat(input.c_str(), &source) == 0 && posix::same_file(file, source))) {
    start.emplace(window);
    std::size_t count = 0;
    while (count < window) {
      const ssize_t got =
          ::pread(fd, start->data() + count, window - count, static_cast<off_t>(count));
      if (got < 0 && errno == EINTR) {
        continue;
      }
      if (got <= 0) {
        break;
      }
      count += static_cast<std::size_t>(got);
    }
    start->resize(count);
  }
  ::close(fd);
  return start;
}

std::string opened_name(const std::string& path) {
  // Links followed as the open follows them; a name past the last one that
  // exists (a new file, a dangling link's target) stays as written.
  std::error_code error;
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
  return error ? path : resolved.string();
}

}  // namespace dbgparse::platform
