// The output file. The path is first opened as any program would open it,
// so the kernel alone judges links, permissions and loops. What that open
// reached is then written:
// - one of our own descriptors (/dev/stdout, /dev/fd/N): as it is;
// - the file our own standard output or error goes to: not at all;
// - a device or a FIFO: in place;
// - a new file: through a private temporary file beside it that takes the
//   name only if the name is still free when the table is complete;
// - an existing file: through a private temporary file beside it that takes
//   its place only when complete, or in place where its folder or the file
//   itself allows no such replacement, decided before converting
//   (in_place_write.h).
// A run writes only into a file that it created itself or one that it
// replaces whole, and removes only what it created.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <utility>

#include "carried_attributes.h"
#include "file_io.h"
#include "folder_entry.h"
#include "in_place_write.h"
#include "output_record.h"
#include "own_stream.h"
#include "platform.h"
#include "signal_cleanup.h"

namespace dbgparse::platform {
namespace {

using posix::descriptor;
using posix::folder_entry;
using posix::open_retrying;

// How often the path is opened again when its name is taken by another run
// between the open that found no file and the creation of one.
constexpr int max_open_attempts = 16;
constexpr int max_temp_name_tries = 100;
// The temporary file's name shows whose it is, yet stays far below any
// file system's name limit however long the output's name is.
constexpr std::size_t temp_name_stem_length = 24;
// A new file gets what any program's new file gets: 0666 less the umask, or
// what the folder's default access list says.
constexpr mode_t new_file_mode = 0666;

// Whether the folder lets us put another file in place of `file`: a sticky
// folder (such as /tmp) lets only the file's or the folder's owner do that.
bool may_replace_in(const struct stat& folder, const struct stat& file) {
  const uid_t me = ::geteuid();
  const bool sticky = (folder.st_mode & S_ISVTX) != 0;
  return !sticky || me == 0 || me == file.st_uid || me == folder.st_uid;
}

// An append-only or immutable folder takes new names but lets none be
// renamed or removed: a temporary file there could never go again.
bool refuses_renames(int folder) {
  struct statx status {};
  if (::statx(folder, "", AT_EMPTY_PATH, 0, &status) != 0) {
    return false;
  }
  return (status.stx_attributes & (STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE)) != 0;
}

// A file mounted over its name (a bind mount, as `docker -v file:file`
// makes) cannot be renamed over.
bool is_mount_point(int file, int folder) {
  struct statx file_status {};
  struct statx folder_status {};
  if (::statx(file, "", AT_EMPTY_PATH, STATX_MNT_ID, &file_status) != 0 ||
      ::statx(folder, "", AT_EMPTY_PATH, STATX_MNT_ID, &folder_status) != 0) {
    return false;
  }
  if ((file_status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0) {
    return (file_status.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  }
  if ((file_status.stx_mask & folder_status.stx_mask & STATX_MNT_ID) != 0) {
    return file_status.stx_mnt_id != folder_status.stx_mnt_id;
  }
  return file_status.stx_dev_major != folder_status.stx_dev_major ||
         file_status.stx_dev_minor != folder_status.stx_dev_minor;
}

// A refusal that means the folder may not be written by this user; any
// other failure to create a file there is the system's (descriptors,
// inodes, space, memory) and ends the run before anything is touched.
bool refused_by_folder(int error) { return error == EACCES || error == EPERM || error == EROFS; }

// Creates `name` in `folder` as the file that a signal must remove, known
// to the handler before any signal can end the process. `other_file` is what
// the name may hold once the file has traded names with the one it replaces.
int create_owned(int folder, const std::string& name, mode_t mode, struct stat& status,
                 const struct stat& other_file) {
  const posix::signals_held held;
  const int fd = ::openat(folder, name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode);
  if (fd < 0) {
    return fd;
  }
  if (::fstat(fd, &status) != 0) {
    const int error = errno;
    ::unlinkat(folder, name.c_str(), 0);
    ::close(fd);
    errno = error;
    return -1;
  }
  posix::remove_on_signal(folder, name.c_str(), status, other_file);
  return fd;
}

// Creates the temporary file in `folder` under a free name.
int create_temporary(int folder, const std::string& target_name, mode_t mode,
                     std::string& temp_name, struct stat& status, const struct stat& other_file) {
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
    const int fd = create_owned(folder, temp_name, mode, status, other_file);
    if (fd >= 0 || errno != EEXIST) {
      return fd;
    }
  }
  errno = EEXIST;
  return -1;
}

// How putting the temporary file in the output's place went: `name_changed`
// when the name no longer held what it was to replace, so that the run
// decided not to; `failed` when the system refused (errno says why).
enum class placing { done, name_changed, failed };

// Puts `temp_name` in the place of `target_name` if that name still holds
// `target`. Where the file system can swap two names at once, the swap is
// checked afterwards and undone when it caught another file.
placing replace(int folder, const std::string& temp_name, const std::string& target_name,
                const struct stat& target) {
#ifdef RENAME_EXCHANGE
  if (::renameat2(folder, temp_name.c_str(), folder, target_name.c_str(), RENAME_EXCHANGE) == 0) {
    struct stat swapped {};
    if (::fstatat(folder, temp_name.c_str(), &swapped, AT_SYMLINK_NOFOLLOW) != 0 ||
        !posix::same_file(swapped, target)) {
      ::renameat2(folder, temp_name.c_str(), folder, target_name.c_str(), RENAME_EXCHANGE);
      return placing::name_changed;
    }
    ::unlinkat(folder, temp_name.c_str(), 0);
    return placing::done;
  }
  if (errno == ENOENT) {
    return placing::name_changed;  // nothing left to swap with
  }
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
    return placing::failed;
  }
#endif
  struct stat current {};
  if (::fstatat(folder, target_name.c_str(), &current, AT_SYMLINK_NOFOLLOW) != 0 ||
      !posix::same_file(current, target)) {
    return placing::name_changed;
  }
  return ::renameat(folder, temp_name.c_str(), folder, target_name.c_str()) == 0 ? placing::done
                                                                                 : placing::failed;
}

// Gives `temp_name` the name `target_name` only while that name is free: a
// file that another run put there meanwhile stays as it is.
placing publish(int folder, const std::string& temp_name, const std::string& target_name) {
#ifdef RENAME_NOREPLACE
  if (::renameat2(folder, temp_name.c_str(), folder, target_name.c_str(), RENAME_NOREPLACE) == 0) {
    return placing::done;
  }
  if (errno == EEXIST) {
    return placing::name_changed;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
    return placing::failed;
  }
#endif
  // A hard link refuses a taken name just as well.
  if (::linkat(folder, temp_name.c_str(), folder, target_name.c_str(), 0) == 0) {
    ::unlinkat(folder, temp_name.c_str(), 0);
    return placing::done;
  }
  if (errno == EEXIST) {
    return placing::name_changed;
  }
  if (errno != EPERM && errno != ENOTSUP) {
    return placing::failed;
  }
  // A file system with neither: the name is checked just before.
  struct stat taken {};
  if (::fstatat(folder, target_name.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0) {
    return placing::name_changed;
  }
  if (errno != ENOENT) {
    return placing::failed;
  }
  return ::renameat(folder, temp_name.c_str(), folder, target_name.c_str()) == 0 ? placing::done
                                                                                 : placing::failed;
}

// The parts of an output being written; output_file::state is this.
struct output_parts : output_record {
  descriptor out;     // where the table is written
  descriptor target;  // the file replaced, held open until then
  descriptor folder;  // the folder of the file replaced or created
  struct stat target_status {};
  struct stat out_status {};
  std::string target_name;  // within `folder`
  std::string temp_name;    // empty unless written through a temporary file
  bool created = false;     // the name was free: what it holds now is ours
  bool check_name = false;  // written in place: the name must still hold it
};

enum class opening { done, failed, name_taken };

// Writes the existing file in place, at commit: nothing of it is touched
// before then.
bool go_in_place(output_parts& s) {
  s.out = std::move(s.target);
  s.out_status = s.target_status;
  s.check_name = true;
  s.in_place = true;
  return true;
}

// Whether the existing file must be written in place: its folder or the
// file itself lets no other file take its name.
bool must_write_in_place(const output_parts& s) {
  struct stat folder_status {};
  return ::fstat(s.folder.get(), &folder_status) != 0 ||
         !may_replace_in(folder_status, s.target_status) || refuses_renames(s.folder.get()) ||
         is_mount_point(s.target.get(), s.folder.get());
}

// The path opened an existing file, now `s.target`.
bool open_existing(output_parts& s, const std::string& path) {
  if (::fstat(s.target.get(), &s.target_status) != 0) {
    return false;
  }
  s.out_status = s.target_status;
  if (!S_ISREG(s.target_status.st_mode)) {
    s.out = std::move(s.target);  // a device or a FIFO
    return true;
  }
  if (posix::is_own_stream(s.target_status)) {
    return s.fail(output_failures::own_stream);
  }
  std::optional<folder_entry> entry = posix::entry_named(path);
  if (!entry && errno != ENOENT && errno != ENOTDIR) {
    return false;
  }
  if (!entry || !entry->status || !posix::same_file(*entry->status, s.target_status)) {
    // Removed or replaced since it was opened: the table would go nowhere.
    // Nothing is touched and the writing fails.
    s.out = std::move(s.target);
    s.fail(output_failures::name_moved);
    return true;
  }
  s.folder = std::move(entry->folder);
  s.target_name = std::move(entry->name);
  if (must_write_in_place(s)) {
    return go_in_place(s);
  }

  s.out = descriptor(create_temporary(s.folder.get(), s.target_name, s.target_status.st_mode & 0600,
                                      s.temp_name, s.out_status, s.target_status));
  if (!s.out.valid()) {
    s.temp_name.clear();
    // A folder this user may not write takes no temporary file; any other
    // failure leaves the file as it is.
    return refused_by_folder(errno) && go_in_place(s);
  }
  const posix::carried outcome =
      posix::carry_owner_and_attributes(s.target.get(), s.target_status, s.out.get());
  if (outcome == posix::carried::all) {
    return true;
  }
  const int reason = errno;
  s.out = descriptor();
  posix::remove_if_same(s.folder.get(), s.temp_name.c_str(), s.out_status);
  posix::keep_on_signal();
  s.temp_name.clear();
  errno = reason;
  // What could not be carried over would be lost, or granted to others.
  return outcome == posix::carried::not_allowed && go_in_place(s);
}

// The path leads to the free name `entry`.
opening open_new(output_parts& s, folder_entry entry) {
  s.folder = std::move(entry.folder);
  s.target_name = std::move(entry.name);
  if (refuses_renames(s.folder.get())) {
    // Created in place, as nothing could take its name later.
    s.out =
        descriptor(create_owned(s.folder.get(), s.target_name, new_file_mode, s.out_status, {}));
    if (!s.out.valid()) {
      return errno == EEXIST ? opening::name_taken : opening::failed;
    }
    s.created = true;
    s.check_name = true;
    return opening::done;
  }
  s.out = descriptor(create_temporary(s.folder.get(), s.target_name, new_file_mode, s.temp_name,
                                      s.out_status, {}));
  if (!s.out.valid()) {
    s.temp_name.clear();
    return opening::failed;
  }
  s.created = true;
  return opening::done;
}

bool open_output(output_parts& s, const std::string& path) {
  if (const std::optional<int> own = posix::own_descriptor_named(path)) {
    // The path must still be usable by the kernel's rules and reach the
    // descriptor's own file; then the table goes to the descriptor as it is.
    const int mode = ::fcntl(*own, F_GETFL);
    // A stream we were started without, held by /dev/null, is no output.
    if (posix::is_held_closed_stream(*own) || !posix::reaches(path, *own) || mode < 0 ||
        (mode & O_ACCMODE) == O_RDONLY) {
      errno = EBADF;
      return false;
    }
    s.out = descriptor(::fcntl(*own, F_DUPFD_CLOEXEC, 0));
    // What was said so far comes before the table.
    std::fflush(nullptr);
    return s.out.valid();
  }

  for (int attempt = 0; attempt < max_open_attempts; ++attempt) {
    s.target = descriptor(open_retrying(path.c_str(), O_WRONLY | O_NOCTTY));
    if (s.target.valid()) {
      return open_existing(s, path);
    }
    if (errno != ENOENT) {
      return false;
    }
    // Nothing there: a new file, at the end of the path's links. Should the
    // name be taken meanwhile, by another run perhaps, the path is opened
    // again from the start, and what took the name is never written as if
    // it were ours.
    std::optional<folder_entry> entry = posix::entry_named(path);
    if (!entry) {
      // The empty path names no entry at all: why is the open's to tell.
      errno = path.empty() ? ENOENT : errno;
      return false;
    }
    if (!entry->status) {
      switch (open_new(s, std::move(*entry))) {
        case opening::done:
          return true;
        case opening::failed:
          return false;
        case opening::name_taken:
          break;
      }
    }
  }
  return s.fail(output_failures::name_taken_at_each_try);
}

bool commit_output(output_parts& s) {
  if (s.failed || (s.in_place && !posix::write_held_table(s, s.out.get(), s.folder.get(),
                                                          s.target_name, s.out_status))) {
    return false;
  }
  if (!s.temp_name.empty() && !s.created) {
    // The owner and the rest were carried over before writing; now the
    // permission bits, set-user-ID and the like among them.
    ::fchmod(s.out.get(), s.target_status.st_mode & 07777);
  }
  // A file written in place must still be where its name leads, or the
  // table went nowhere.
  if (s.check_name && !posix::still_named(s.folder.get(), s.target_name, s.out_status)) {
    return s.fail(output_failures::name_moved);
  }
  // An existing output is replaced only by a table already on the disk, so
  // that after a crash or a power loss its name holds the old table or the
  // new one, never an empty or short file: the rename that replaces it may
  // reach the disk before the data otherwise.
  if (!s.temp_name.empty() && !s.created && ::fdatasync(s.out.get()) != 0) {
    return s.fail();
  }
  if (!s.out.close()) {
    return s.fail();
  }
  if (!s.temp_name.empty()) {
    const placing placed =
        s.created ? publish(s.folder.get(), s.temp_name, s.target_name)
                  : replace(s.folder.get(), s.temp_name, s.target_name, s.target_status);
    if (placed == placing::name_changed) {
      return s.fail(s.created ? output_failures::name_taken : output_failures::name_moved);
    }
    if (placed == placing::failed) {
      return s.fail();
    }
  }
  return true;
}

}  // namespace

struct output_file::state : output_parts {};

output_file::output_file() = default;

output_file::~output_file() {
  if (!state_ || state_->committed) {
    return;
  }
  state& s = *state_;
  s.out = descriptor();
  if (!s.temp_name.empty()) {
    posix::remove_if_same(s.folder.get(), s.temp_name.c_str(), s.out_status);
  } else if (s.created) {
    posix::remove_if_same(s.folder.get(), s.target_name.c_str(), s.out_status);
  }
  posix::keep_on_signal();
}

bool output_file::open(const std::string& path) {
  state_ = std::make_unique<state>();
  return open_output(*state_, path) || (state_->failure.reason.empty() && state_->fail());
}

bool output_file::write(std::span<const unsigned char> bytes) {
  state& s = *state_;
  if (s.failed || s.in_place) {
    return s.hold(bytes);
  }
  return posix::write_all(s.out.get(), bytes) || s.fail();
}

bool output_file::commit() {
  state& s = *state_;
  if (!commit_output(s)) {
    return false;
  }
  s.committed = true;
  posix::keep_on_signal();
  return true;
}

const output_failure& output_file::failure() const { return state_->failure; }

}  // namespace dbgparse::platform
