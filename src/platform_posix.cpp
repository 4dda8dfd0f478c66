// POSIX side of the console program: plain file descriptors, a temporary file
// renamed into place, and a raw-mode key press for the pause.
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <random>
#include <utility>

#include "input_memory.h"
#include "platform.h"

namespace dbgparse::platform {
namespace {

constexpr int max_link_depth = 40;
constexpr int max_temp_name_tries = 100;

int open_retrying(const char* path, int flags, mode_t mode = 0) {
  int fd = -1;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool write_all(int fd, std::span<const unsigned char> bytes) {
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

// Follows symbolic links to the file they name, so that replacing the output
// replaces that file and leaves the link in place. Empty when the links loop.
std::optional<std::filesystem::path> resolve_links(std::filesystem::path path) {
  std::error_code error;
  for (int depth = 0; depth < max_link_depth; ++depth) {
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path, error))) {
      return path;
    }
    const std::filesystem::path target = std::filesystem::read_symlink(path, error);
    if (error) {
      return std::nullopt;
    }
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  return std::nullopt;
}

// Creates a new file beside `target` with a name no one else uses.
int create_temporary(const std::filesystem::path& target, std::string& temp_path) {
  std::random_device seed;
  std::mt19937_64 random(seed());
  const std::filesystem::path folder = target.parent_path();
  for (int attempt = 0; attempt < max_temp_name_tries; ++attempt) {
    // Appended piece by piece: GCC 12 wrongly warns (-Wrestrict) about
    // "." + std::string in optimised builds.
    std::string name = ".";
    name += target.filename().string();
    name += '.';
    name += std::to_string(random() % 1000000000);
    name += ".tmp";
    temp_path = (folder / name).string();
    // 0666 less the umask, as a plain create gives.
    const int fd = open_retrying(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd >= 0 || errno != EEXIST) {
      return fd;
    }
  }
  return -1;
}

}  // namespace

void prepare_console() {
  // Past a file size limit, a write should fail and be reported (and the
  // temporary file removed) rather than end the process.
  std::signal(SIGXFSZ, SIG_IGN);
}

std::vector<std::string> arguments(int argc, char** argv) {
  return {argv, argv + std::max(argc, 0)};
}

bool read_word(std::string& word) { return static_cast<bool>(std::cin >> word); }

std::optional<std::uint64_t> file_size(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(std::max<off_t>(status.st_size, 0));
}

read_result read_input(const std::string& path, std::uint64_t expected_size, input_bytes& input) {
  const int fd = open_retrying(path.c_str(), O_RDONLY);
  if (fd < 0) {
    return read_result::cannot_open;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
    ::close(fd);
    return read_result::cannot_open;
  }
  if (expected_size > SIZE_MAX) {
    ::close(fd);
    return read_result::no_memory;
  }
  const auto capacity = static_cast<std::size_t>(expected_size);
  // Left uninitialised: the read fills what is used.
  std::shared_ptr<unsigned char[]> memory = allocate_input_memory(capacity);
  if (!memory) {
    ::close(fd);
    return read_result::no_memory;
  }
  std::size_t count = 0;
  while (count < capacity) {
    const ssize_t got = ::read(fd, memory.get() + count, capacity - count);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      ::close(fd);
      return read_result::cannot_open;
    }
    if (got == 0) {
      break;  // the file got shorter: convert what arrived
    }
    count += static_cast<std::size_t>(got);
  }
  ::close(fd);
  input.bytes = std::span<const unsigned char>(memory.get(), count);
  input.owner = std::move(memory);
  return read_result::ok;
}

struct output_file::state {
  int fd = -1;
  std::string temp_path;    // empty when writing in place
  std::string target_path;  // the file that the temporary one replaces
  bool failed = false;
};

output_file::output_file() = default;

output_file::~output_file() {
  if (!state_) {
    return;
  }
  if (state_->fd >= 0) {
    ::close(state_->fd);
  }
  if (!state_->temp_path.empty()) {
    ::unlink(state_->temp_path.c_str());
  }
}

bool output_file::open(const std::string& path) {
  state_ = std::make_unique<state>();
  const std::optional<std::filesystem::path> target = resolve_links(path);
  if (!target) {
    return false;
  }
  struct stat existing {};
  const bool exists = ::stat(target->c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) {
    return false;
  }
  if (exists && !S_ISREG(existing.st_mode)) {
    // A device or a pipe cannot be replaced; it is written as it is.
    state_->fd = open_retrying(target->c_str(), O_WRONLY | O_TRUNC);
    return state_->fd >= 0;
  }
  if (exists) {
    // Refuse now, as a plain open would, an existing file we may not write.
    const int probe = open_retrying(target->c_str(), O_WRONLY);
    if (probe < 0) {
      return false;
    }
    ::close(probe);
  }
  state_->target_path = target->string();
  state_->fd = create_temporary(*target, state_->temp_path);
  if (state_->fd < 0) {
    state_->temp_path.clear();
    return false;
  }
  if (exists) {
    // The replacement keeps the old file's permissions and, where allowed,
    // its owner.
    if (::fchown(state_->fd, existing.st_uid, existing.st_gid) != 0) {
      // Only a privileged user may give a file away; keep our own then.
    }
    ::fchmod(state_->fd, existing.st_mode & 07777);
  }
  return true;
}

bool output_file::write(std::span<const unsigned char> bytes) {
  if (!state_->failed && !write_all(state_->fd, bytes)) {
    state_->failed = true;
  }
  return !state_->failed;
}

bool output_file::commit() {
  const int fd = std::exchange(state_->fd, -1);
  const bool closed = ::close(fd) == 0;
  if (state_->failed || !closed) {
    return false;
  }
  if (state_->temp_path.empty()) {
    return true;
  }
  if (::rename(state_->temp_path.c_str(), state_->target_path.c_str()) != 0) {
    return false;
  }
  state_->temp_path.clear();
  return true;
}

void pause() {
  std::fflush(stdout);
  // A script or a pipe has no one to press a key: never wait there.
  if (::isatty(STDIN_FILENO) == 0) {
    return;
  }
  termios saved{};
  if (::tcgetattr(STDIN_FILENO, &saved) != 0) {
    return;
  }
  termios raw = saved;
  // Ctrl-C is a key like any other here, so the settings are always restored.
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  // Raw before the prompt shows, so that a key pressed at once is not echoed.
  ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  std::fputs("Press any key to continue . . . ", stdout);
  std::fflush(stdout);
  char key = 0;
  while (::read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
  }
  // A key such as an arrow sends several bytes; drop the rest of them.
  ::tcflush(STDIN_FILENO, TCIFLUSH);
  ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  std::fputs("\n", stdout);
  std::fflush(stdout);
}

}  // namespace dbgparse::platform
