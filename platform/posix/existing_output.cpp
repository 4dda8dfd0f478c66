// What an existing output holds, looked at before it is replaced.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "file_io.h"
#include "platform.h"

namespace dbgparse::platform {

bool other_file_holds(const std::string& path, const std::string& input, std::string_view text,
                      std::size_t window) {
  // Only a regular file is opened, so that no device notices; non-blocking,
  // so that a FIFO put in its place meanwhile does not wait for a writer.
  struct stat named {};
  if (::stat(path.c_str(), &named) != 0 || !S_ISREG(named.st_mode)) {
    return false;
  }
  const int fd = posix::open_retrying(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    return false;
  }
  struct stat file {};
  struct stat source {};
  bool holds = false;
  if (::fstat(fd, &file) == 0 && S_ISREG(file.st_mode) &&
      !(::stat(input.c_str(), &source) == 0 && posix::same_file(file, source))) {
    std::string start(window, '\0');
    std::size_t count = 0;
    while (count < window) {
      const ssize_t got =
          ::pread(fd, start.data() + count, window - count, static_cast<off_t>(count));
      if (got < 0 && errno == EINTR) {
        continue;
      }
      if (got <= 0) {
        break;
      }
      count += static_cast<std::size_t>(got);
    }
    start.resize(count);
    holds = start.find(text) != std::string::npos;
  }
  ::close(fd);
  return holds;
}

}  // namespace dbgparse::platform
