#include "folder_entry.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

namespace dbgparse::platform::posix {
namespace {

namespace fs = std::filesystem;

constexpr int max_link_depth = 40;

#ifdef O_PATH
constexpr int lookup_only = O_PATH;
#else
constexpr int lookup_only = O_RDONLY;
#endif

// A name that can stand for a file of its own, not for a folder.
bool names_a_file(const std::string& name) { return !name.empty() && name != "." && name != ".."; }

std::optional<std::string> link_target(int folder, const std::string& name) {
  std::vector<char> target(256);
  for (;;) {
    const ssize_t length = ::readlinkat(folder, name.c_str(), target.data(), target.size());
    if (length < 0) {
      return std::nullopt;
    }
    if (static_cast<std::size_t>(length) < target.size()) {
      return std::string(target.data(), static_cast<std::size_t>(length));
    }
    target.resize(target.size() * 2);
  }
}

// Whether the kernel lets this process follow the link `name` in `folder`,
// asked by following it: a link that it refuses gives EACCES, a link that
// leads nowhere ENOENT.
bool kernel_follows(int folder, const std::string& name) {
  const int fd = ::openat(folder, name.c_str(), lookup_only | O_CLOEXEC | O_NOCTTY);
  if (fd >= 0) {
    ::close(fd);
    return true;
  }
  return errno == ENOENT;
}

// Moves `entry` to the name `path` relative to its folder.
bool move_to(folder_entry& entry, const fs::path& path) {
  std::string name = path.filename().string();
  if (!names_a_file(name)) {
    errno = EISDIR;
    return false;
  }
  const fs::path parent = path.parent_path();
  if (!parent.empty()) {
    descriptor folder(open_folder(entry.folder.get(), parent.c_str()));
    if (!folder.valid()) {
      return false;
    }
    entry.folder = std::move(folder);
  }
  entry.name = std::move(name);
  return true;
}

}  // namespace

int open_folder(int folder, const char* path) {
  int fd = -1;
  do {
    fd = ::openat(folder, path, lookup_only | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

std::optional<folder_entry> entry_named(const std::string& path) {
  folder_entry entry;
  entry.folder = descriptor(open_folder(AT_FDCWD, "."));
  if (!entry.folder.valid() || !move_to(entry, path)) {
    return std::nullopt;
  }
  for (int depth = 0; depth < max_link_depth; ++depth) {
    struct stat status {};
    if (::fstatat(entry.folder.get(), entry.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) {
        return std::nullopt;
      }
      return entry;
    }
    entry.status = status;
    if (!S_ISLNK(status.st_mode)) {
      return entry;
    }
    if (!kernel_follows(entry.folder.get(), entry.name)) {
      return std::nullopt;
    }
    const std::optional<std::string> target = link_target(entry.folder.get(), entry.name);
    if (!target) {
      return std::nullopt;
    }
    // An absolute target starts from the root, whatever the folder.
    if (!move_to(entry, *target)) {
      return std::nullopt;
    }
    entry.status.reset();
  }
  errno = ELOOP;
  return std::nullopt;
}

}  // namespace dbgparse::platform::posix
