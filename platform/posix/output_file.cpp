// The output file. The path is first opened as any program would open it,
// so the kernel alone judges links, permissions and loops. What that open
// reached is then written:
// - one of our own descriptors (/dev/stdout, /dev/fd/N): as it is;
// - a device or a FIFO: in place;
// - a file this open created: in place, and removed again on failure;
// - an existing file: through a private temporary file beside it that takes
//   its place only when complete, or in place where its folder allows no
//   such file.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <utility>

#include "file_io.h"
#include "own_descriptor.h"
#include "platform.h"
#include "signal_cleanup.h"

namespace dbgparse::platform {
namespace {

namespace fs = std::filesystem;
using posix::open_retrying;

constexpr int max_temp_name_tries = 100;
// The temporary file's name shows whose it is, yet stays far below any
// file system's name limit however long the output's name is.
constexpr std::size_t temp_name_stem_length = 24;

constexpr int no_fd = -1;

struct descriptor {
  int fd = no_fd;
  descriptor() = default;
  explicit descriptor(int value) : fd(value) {}
  descriptor(const descriptor&) = delete;
  descriptor& operator=(const descriptor&) = delete;
  descriptor(descriptor&& other) noexcept : fd(std::exchange(other.fd, no_fd)) {}
  descriptor& operator=(descriptor&& other) noexcept {
    std::swap(fd, other.fd);
    return *this;
  }
  ~descriptor() {
    if (fd >= 0) {
      ::close(fd);
    }
  }
  [[nodiscard]] bool valid() const { return fd >= 0; }
  // Closes now and tells whether everything written reached the file system.
  bool close() { return ::close(std::exchange(fd, no_fd)) == 0; }
};

// The folder that holds the file open as `fd`, and the file's name in it,
// as the kernel knows them; nothing when the file has no name any more.
bool locate(int fd, const std::string& path, std::string& folder, std::string& name) {
  std::error_code error;
  fs::path where = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
  if (error || !where.is_absolute()) {
    // No /proc: the path itself, its links resolved. What is found is used
    // only once it proves to hold the very file opened.
    where = fs::canonical(path, error);
    if (error) {
      return false;
    }
  }
  folder = where.parent_path().string();
  name = where.filename().string();
  return !name.empty();
}

int open_folder(const std::string& folder) {
#ifdef O_PATH
  return open_retrying(folder.c_str(), O_PATH | O_DIRECTORY);
#else
  return open_retrying(folder.c_str(), O_RDONLY | O_DIRECTORY);
#endif
}

// Whether the folder lets us put another file in place of `file`: a sticky
// folder (such as /tmp) lets only the file's or the folder's owner do that.
bool may_replace_in(const struct stat& folder, const struct stat& file) {
  const uid_t me = ::geteuid();
  const bool sticky = (folder.st_mode & S_ISVTX) != 0;
  return !sticky || me == 0 || me == file.st_uid || me == folder.st_uid;
}

// Creates the temporary file in `folder`, readable and writable by its
// owner alone (less when the final mode is less).
int create_temporary(int folder, const std::string& target_name, mode_t final_mode,
                     std::string& temp_name) {
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < max_temp_name_tries; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%08llx.tmp",
                  static_cast<unsigned long long>(random() & 0xFFFFFFFFU));
    // Appended piece by piece: GCC 12 wrongly warns (-Wrestrict) about
    // "." + std::string in optimised builds.
    std::string name(1, '.');
    name.append(target_name, 0, temp_name_stem_length);
    name += suffix;
    temp_name = std::move(name);
    const int fd =
        ::openat(folder, temp_name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                 final_mode & 0600);
    if (fd >= 0 || errno != EEXIST) {
      return fd;
    }
  }
  return no_fd;
}

// Puts `temp_name` in the place of `target_name` if that name still holds
// `target`. Where the file system can swap two names at once, the swap is
// checked afterwards and undone when it caught another file.
bool replace(int folder, const std::string& temp_name, const std::string& target_name,
             const struct stat& target) {
#ifdef RENAME_EXCHANGE
  if (::renameat2(folder, temp_name.c_str(), folder, target_name.c_str(), RENAME_EXCHANGE) == 0) {
    struct stat swapped {};
    if (::fstatat(folder, temp_name.c_str(), &swapped, AT_SYMLINK_NOFOLLOW) != 0 ||
        !posix::same_file(swapped, target)) {
      ::renameat2(folder, temp_name.c_str(), folder, target_name.c_str(), RENAME_EXCHANGE);
      return false;
    }
    ::unlinkat(folder, temp_name.c_str(), 0);
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
    return false;
  }
#endif
  struct stat current {};
  if (::fstatat(folder, target_name.c_str(), &current, AT_SYMLINK_NOFOLLOW) != 0 ||
      !posix::same_file(current, target)) {
    return false;
  }
  return ::renameat(folder, temp_name.c_str(), folder, target_name.c_str()) == 0;
}

}  // namespace

struct output_file::state {
  descriptor out;     // where the table is written
  descriptor target;  // the file replaced, held open until then
  descriptor folder;  // the folder of the file replaced or created
  struct stat target_status {};
  struct stat out_status {};
  std::string target_name;  // within `folder`
  std::string temp_name;    // empty unless replacing
  bool created = false;     // the output did not exist: remove it on failure
  bool failed = false;
  bool committed = false;
};

output_file::output_file() = default;

output_file::~output_file() {
  if (!state_ || state_->committed) {
    return;
  }
  state_->out = descriptor();
  if (!state_->temp_name.empty()) {
    posix::remove_if_same(state_->folder.fd, state_->temp_name.c_str(), state_->out_status);
  } else if (state_->created && state_->folder.valid()) {
    posix::remove_if_same(state_->folder.fd, state_->target_name.c_str(), state_->out_status);
  }
  posix::keep_on_signal();
}

bool output_file::open(const std::string& path) {
  state_ = std::make_unique<state>();
  state& s = *state_;

  if (const std::optional<int> own = posix::own_descriptor_named(path)) {
    // The path must still be usable by the kernel's rules and reach the
    // descriptor's own file; then the table goes to the descriptor as it is.
    struct stat by_path {};
    struct stat by_fd {};
    const int mode = ::fcntl(*own, F_GETFL);
    if (::stat(path.c_str(), &by_path) != 0 || ::fstat(*own, &by_fd) != 0 ||
        !posix::same_file(by_path, by_fd) || mode < 0 || (mode & O_ACCMODE) == O_RDONLY) {
      return false;
    }
    s.out = descriptor(::fcntl(*own, F_DUPFD_CLOEXEC, 0));
    // What was said so far comes before the table.
    std::fflush(nullptr);
    return s.out.valid();
  }

  s.target = descriptor(open_retrying(path.c_str(), O_WRONLY | O_NOCTTY));
  if (!s.target.valid() && errno == ENOENT) {
    s.target =
        descriptor(open_retrying(path.c_str(), O_WRONLY | O_NOCTTY | O_CREAT | O_EXCL, 0666));
    if (!s.target.valid() && errno == EEXIST) {
      // A link to a file that does not exist yet: created where it points,
      // if the kernel lets us follow it.
      s.target = descriptor(open_retrying(path.c_str(), O_WRONLY | O_NOCTTY | O_CREAT, 0666));
    }
    s.created = s.target.valid();
  }
  if (!s.target.valid() || ::fstat(s.target.fd, &s.target_status) != 0) {
    return false;
  }
  s.out_status = s.target_status;
  if (!S_ISREG(s.target_status.st_mode)) {
    s.out = std::move(s.target);  // a device or a FIFO
    return true;
  }

  std::string folder_path;
  struct stat folder_status {};
  struct stat found {};
  if (locate(s.target.fd, path, folder_path, s.target_name)) {
    s.folder = descriptor(open_folder(folder_path));
  }
  const bool found_in_folder =
      s.folder.valid() && ::fstat(s.folder.fd, &folder_status) == 0 &&
      ::fstatat(s.folder.fd, s.target_name.c_str(), &found, AT_SYMLINK_NOFOLLOW) == 0 &&
      posix::same_file(found, s.target_status);
  if (!found_in_folder) {
    s.folder = descriptor();
  }

  if (!s.created && found_in_folder && may_replace_in(folder_status, s.target_status)) {
    s.out = descriptor(
        create_temporary(s.folder.fd, s.target_name, s.target_status.st_mode & 07777, s.temp_name));
    if (s.out.valid() && ::fstat(s.out.fd, &s.out_status) == 0) {
      posix::remove_on_signal(s.folder.fd, s.temp_name.c_str(), s.out_status, s.target_status);
      return true;
    }
    s.out = descriptor();
    s.temp_name.clear();
  }

  // In place: a new file, or one whose folder takes no temporary file.
  if (s.created && s.folder.valid()) {
    posix::remove_on_signal(s.folder.fd, s.target_name.c_str(), s.target_status, {});
  } else if (!s.created && ::ftruncate(s.target.fd, 0) != 0) {
    return false;
  }
  s.out = std::move(s.target);
  return true;
}

bool output_file::write(std::span<const unsigned char> bytes) {
  if (!state_->failed && !posix::write_all(state_->out.fd, bytes)) {
    state_->failed = true;
  }
  return !state_->failed;
}

bool output_file::commit() {
  state& s = *state_;
  if (!s.temp_name.empty() && !s.failed) {
    // The old file's owner where allowed (only a privileged user may give a
    // file away), then its permissions: never wider than they end up.
    if (::fchown(s.out.fd, s.target_status.st_uid, s.target_status.st_gid) != 0) {
      // Keep our own.
    }
    ::fchmod(s.out.fd, s.target_status.st_mode & 07777);
  }
  const bool closed = s.out.close();
  if (s.failed || !closed) {
    return false;
  }
  if (!s.temp_name.empty() && !replace(s.folder.fd, s.temp_name, s.target_name, s.target_status)) {
    return false;
  }
  s.committed = true;
  posix::keep_on_signal();
  return true;
}

}  // namespace dbgparse::platform
