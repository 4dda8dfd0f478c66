// Small helpers around POSIX file descriptors that the platform files share.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <span>
#include <string>
#include <utility>

namespace dbgparse::platform::posix {

// open() that retries when a signal interrupts it; descriptors never leak
// into programs we might start.
inline int open_retrying(const char* path, int flags, mode_t mode = 0) {
  int fd = -1;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// An open file descriptor, closed when it goes.
class descriptor {
 public:
  descriptor() = default;
  explicit descriptor(int fd) : fd_(fd) {}
  descriptor(const descriptor&) = delete;
  descriptor& operator=(const descriptor&) = delete;
  descriptor(descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  descriptor& operator=(descriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~descriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  [[nodiscard]] int get() const { return fd_; }
  [[nodiscard]] bool valid() const { return fd_ >= 0; }
  // Closes now and tells whether everything written reached the file system.
  bool close() { return ::close(std::exchange(fd_, -1)) == 0; }

 private:
  int fd_ = -1;
};

// Writes all of `bytes`, however the system splits the write.
inline bool write_all(int fd, std::span<const unsigned char> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return false;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return true;
}

inline bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether `name` in the folder open as `folder` still names `file`.
inline bool still_named(int folder, const std::string& name, const struct stat& file) {
  struct stat current {};
  return ::fstatat(folder, name.c_str(), &current, AT_SYMLINK_NOFOLLOW) == 0 &&
         same_file(current, file);
}

// Removes `name` from the folder open as `folder` only while it still names
// `file`: a name that someone else has meanwhile reused stays. Safe to call
// from a signal handler.
inline void remove_if_same(int folder, const char* name, const struct stat& file) {
  struct stat now {};
  if (::fstatat(folder, name, &now, AT_SYMLINK_NOFOLLOW) == 0 && same_file(now, file)) {
    ::unlinkat(folder, name, 0);
  }
}

}  // namespace dbgparse::platform::posix
