// Reading the input whole. The size from the file's status is only a first
// guess: a pipe or a /proc file reports 0, and a file may grow before it is
// read, so the read goes on to the end of the data whatever it said.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

#include "file_io.h"
#include "input_growth.h"
#include "input_memory.h"
#include "own_stream.h"
#include "platform.h"

namespace dbgparse::platform {
namespace {

// The buffer being filled, and how much of it holds data.
struct filling {
  std::shared_ptr<unsigned char[]> memory;
  std::size_t capacity = 0;
  std::size_t count = 0;
};

bool grow(filling& buffer) {
  const std::size_t capacity = grown_input_capacity(buffer.capacity, buffer.count);
  std::shared_ptr<unsigned char[]> larger =
      capacity == 0 ? nullptr : allocate_input_memory(capacity);
  if (!larger) {
    return false;
  }
  std::copy_n(buffer.memory.get(), buffer.count, larger.get());
  buffer.memory = std::move(larger);
  buffer.capacity = capacity;
  return true;
}

read_result read_to_end(int fd, filling& buffer) {
  for (;;) {
    if (buffer.count == buffer.capacity && !grow(buffer)) {
      return read_result::no_memory;
    }
    const ssize_t got =
        ::read(fd, buffer.memory.get() + buffer.count, buffer.capacity - buffer.count);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      return read_result::cannot_read;
    }
    if (got == 0) {
      return read_result::ok;
    }
    buffer.count += static_cast<std::size_t>(got);
  }
}

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
  filling buffer;
  buffer.capacity =
      first_input_capacity(static_cast<std::uint64_t>(std::max<off_t>(status.st_size, 0)));
  // Left uninitialised: the read fills what is used.
  buffer.memory = buffer.capacity == 0 ? nullptr : allocate_input_memory(buffer.capacity);
  const read_result result = buffer.memory ? read_to_end(fd, buffer) : read_result::no_memory;
  if (result == read_result::ok) {
    input.bytes = std::span<const unsigned char>(buffer.memory.get(), buffer.count);
    input.owner = std::move(buffer.memory);
  }
  return result;
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
