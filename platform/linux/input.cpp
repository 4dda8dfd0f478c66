// Reading the input whole (read_whole.h), from a file's descriptor.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

#include "file_io.h"
#include "own_stream.h"
#include "platform.h"
#include "read_whole.h"

namespace dbgparse::platform {
namespace {

// Reads `fd` to its end, into memory of the size its status gives and more.
read_result read_descriptor(int fd, input_bytes& input) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    return read_result::cannot_read;
  }
  if (S_ISDIR(status.st_mode)) {
    errno = EISDIR;  // what a read would have said, for the message
    return read_result::cannot_read;
  }
  return read_whole(
      first_input_capacity(static_cast<std::uint64_t>(std::max<off_t>(status.st_size, 0))),
      [fd](unsigned char* into, std::size_t room, std::size_t& got) {
        ssize_t done = 0;
        do {
          done = ::read(fd, into, room);
        } while (done < 0 && errno == EINTR);
        got = done < 0 ? 0 : static_cast<std::size_t>(done);
        return done >= 0;
      },
      input);
}

}  // namespace

read_result read_input(const std::string& path, input_bytes& input) {
  // A standard stream we were started without is held by /dev/null: by its
  // path it would read as an empty file, and a table would be lost.
  if (const std::optional<int> own = posix::own_descriptor_named(path);
      own && posix::is_held_closed_stream(*own)) {
    errno = EBADF;
    return read_result::cannot_read;
  }
  const int fd = posix::open_retrying(path.c_str(), O_RDONLY | O_NOCTTY);
  if (fd < 0 && errno == ENXIO) {
    // A socket cannot be opened anew, not even as /dev/stdin: one of our own
    // descriptors is then read as it is.
    const std::optional<int> own = posix::own_descriptor_named(path);
    if (own && posix::reaches(path, *own)) {
      return read_descriptor(*own, input);
    }
  }
  if (fd < 0) {
    // Not there at all, or there and refused; the open's reason is kept.
    const int reason = errno;
    struct stat status {};
    const bool there = ::stat(path.c_str(), &status) == 0;
    errno = there ? reason : errno;
    return there ? read_result::cannot_read : read_result::not_found;
  }
  const read_result result = read_descriptor(fd, input);
  const int reason = errno;  // the read's, not the close's
  ::close(fd);
  errno = reason;
  return result;
}

read_result read_standard_input(input_bytes& input) { return read_descriptor(STDIN_FILENO, input); }

}  // namespace dbgparse::platform
