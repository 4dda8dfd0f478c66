#include "carried_attributes.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dbgparse::platform::posix {
namespace {

// The access list, which decides who may use the file.
constexpr std::string_view access_list = "system.posix_acl_access";

// What a refusal to read or set an attribute means: this user may not carry
// it (or the file system cannot), as opposed to the system failing.
carried when_refused() {
  return errno == EPERM || errno == EACCES || errno == ENOTSUP ? carried::not_allowed
                                                               : carried::failed;
}

// The names of the attributes of `fd` that this process can see; empty
// where the file system has none.
std::optional<std::vector<std::string>> attribute_names(int fd) {
  std::vector<char> list;
  for (;;) {
    const ssize_t size = ::flistxattr(fd, nullptr, 0);
    if (size < 0) {
      return (errno == ENOTSUP) ? std::optional(std::vector<std::string>{}) : std::nullopt;
    }
    list.resize(static_cast<std::size_t>(size));
    const ssize_t got = ::flistxattr(fd, list.data(), list.size());
    if (got >= 0) {
      list.resize(static_cast<std::size_t>(got));
      break;
    }
    if (errno != ERANGE) {  // ERANGE: one was added meanwhile
      return std::nullopt;
    }
  }
  std::vector<std::string> names;
  for (auto start = list.begin(); start != list.end();) {
    const auto end = std::find(start, list.end(), '\0');
    names.emplace_back(start, end);
    start = end == list.end() ? end : end + 1;
  }
  // The access list last, once everything else is in place.
  std::stable_partition(names.begin(), names.end(),
                        [](const std::string& name) { return name != access_list; });
  return names;
}

// The attribute's value; nothing (errno set, ENODATA when it is not there).
std::optional<std::string> attribute_value(int fd, const std::string& name) {
  for (;;) {
    const ssize_t size = ::fgetxattr(fd, name.c_str(), nullptr, 0);
    if (size < 0) {
      return std::nullopt;
    }
    std::string value(static_cast<std::size_t>(size), '\0');
    const ssize_t got = ::fgetxattr(fd, name.c_str(), value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<std::size_t>(got));
      return value;
    }
    if (errno != ERANGE) {
      return std::nullopt;
    }
  }
}

carried carry_attributes(int original, int copy) {
  const std::optional<std::vector<std::string>> names = attribute_names(original);
  const std::optional<std::vector<std::string>> copy_names = attribute_names(copy);
  if (!names || !copy_names) {
    return when_refused();
  }
  // What the new file got by itself (an access list inherited from the
  // folder's default one) and the old one lacks would grant more.
  for (const std::string& name : *copy_names) {
    if (std::find(names->begin(), names->end(), name) == names->end() &&
        ::fremovexattr(copy, name.c_str()) != 0 && errno != ENODATA) {
      return when_refused();
    }
  }
  for (const std::string& name : *names) {
    const std::optional<std::string> value = attribute_value(original, name);
    if (!value) {
      if (errno == ENODATA) {
        continue;  // removed meanwhile
      }
      return when_refused();
    }
    // A label the system gave the new file already is not set again: that
    // may need a privilege that giving a new value needs.
    if (attribute_value(copy, name) == value) {
      continue;
    }
    if (::fsetxattr(copy, name.c_str(), value->data(), value->size(), 0) != 0) {
      return when_refused();
    }
  }
  return carried::all;
}

}  // namespace

carried carry_owner_and_attributes(int original, const struct stat& status, int copy) {
  struct stat mine {};
  if (::fstat(copy, &mine) != 0) {
    return carried::failed;
  }
  // Only a privileged user may give a file away, or to a group it is not in.
  if ((mine.st_uid != status.st_uid || mine.st_gid != status.st_gid) &&
      ::fchown(copy, status.st_uid, status.st_gid) != 0) {
    return when_refused();
  }
  return carry_attributes(original, copy);
}

}  // namespace dbgparse::platform::posix
