// Writing an existing file in place, once the whole table is held in
// memory: under an exclusive lock on the file that every run writing it so
// takes, with its name checked, the file size limit checked and the space
// reserved (where the file system can reserve it), the table goes over the
// old contents, which are cut to its length. Any failure before that write
// leaves the old file as it was.
#pragma once

#include <sys/stat.h>

#include <string>

#include "output_record.h"

namespace dbgparse::platform::posix {

// Puts `out.table` over the contents of the file open as `fd`, which the
// name `name` in `folder` must still hold (`file`). The lock is held until
// the file is closed.
bool write_held_table(output_record& out, int fd, int folder, const std::string& name,
                      const struct stat& file);

}  // namespace dbgparse::platform::posix
