#include "in_place_write.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

#include "file_io.h"
#include "signal_cleanup.h"

namespace dbgparse::platform::posix {
namespace {

// Waits for the exclusive lock on the file, which every run writing it in
// place takes. A file system without such locks is written all the same.
bool lock(int fd) {
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno == EINVAL || errno == EOPNOTSUPP) {
      return true;
    }
    if (errno != EINTR) {
      return false;
    }
  }
  return true;
}

// Whether `length` bytes from a file's start are within the file size limit.
bool within_size_limit(std::size_t length) {
  rlimit limit{};
  return ::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
         length <= limit.rlim_cur;
}

// Reserves the space for `length` bytes from the file's start beyond what the
// file holds, its size and contents unchanged. A file system that cannot
// reserve space (or, copy-on-write, cannot promise it by reserving) is written
// all the same.
bool reserve(int fd, std::size_t length) {
  if (length == 0) {
    return true;
  }
  while (::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(length)) != 0) {
    if (errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL) {
      return true;
    }
    if (errno != EINTR) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool write_held_table(output_record& out, int fd, int folder, const std::string& name,
                      const struct stat& file) {
  if (!lock(fd)) {
    return out.fail();
  }
  // Another run may have held the lock while the name went elsewhere.
  if (!still_named(folder, name, file)) {
    return out.fail(output_failures::name_moved);
  }
  if (!within_size_limit(out.table.size())) {
    return out.fail(
        "the table is larger than the file size limit (ulimit -f) allows; the file is left as it "
        "was");
  }
  if (!reserve(fd, out.table.size())) {
    return out.fail(output_failures::no_room(failure_reason()));
  }
  // A signal that ends the run waits from the first byte written to the
  // file's cut, so that it finds the old file or the whole table, never the
  // table over the start of the old file (as Windows holds console events
  // through the same write). From here on only an I/O error can leave part
  // of it.
  const signals_held held;
  return (::lseek(fd, 0, SEEK_SET) == 0 && write_all(fd, out.table) &&
          ::ftruncate(fd, static_cast<off_t>(out.table.size())) == 0) ||
         out.fail();
}

}  // namespace dbgparse::platform::posix
