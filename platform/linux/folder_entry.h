// Where a path leads: the folder that holds its last name, open, and that
// name, once trailing symbolic links are followed. Working from the folder
// rather than from a path keeps every later step on the same folder, and
// reaches folders whose full path is too long or passes through a folder
// that may not be searched.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>

#include "file_io.h"

namespace dbgparse::platform::posix {

struct folder_entry {
  descriptor folder;                  // open for lookups only
  std::string name;                   // within `folder`
  std::optional<struct stat> status;  // of the name itself; nothing when it is free
};

// The entry that `path` names. A link is followed only where the kernel
// would follow it (fs.protected_symlinks decides, as for open()). Nothing,
// with errno set, when the path cannot be followed.
std::optional<folder_entry> entry_named(const std::string& path);

// Opens `path` (relative to `folder`) as a folder to look names up in.
int open_folder(int folder, const char* path);

}  // namespace dbgparse::platform::posix
