// The process's own streams, as paths and outputs reach them. A path that
// names one of its open descriptors, such as /dev/stdout or /dev/fd/3, is
// that descriptor: writing to it means writing to the descriptor as it is
// (appending where it appends), never opening the file anew. Any other path
// that reaches the file its standard output or error goes to
// (`dbgparse a.dbg log.txt > log.txt`) is no output at all.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>

namespace dbgparse::platform::posix {

// The descriptor that `path` names, directly or through symbolic links, or
// nothing. Only looks at names: whether the path may be used at all is left
// to the kernel.
std::optional<int> own_descriptor_named(const std::string& path);

// Whether `path`, used as the kernel uses it, reaches the file open as `fd`.
bool reaches(const std::string& path, int fd);

// Whether `file` is the regular file our own standard output or error goes
// to: writing the table there would put it in the messages' place, or
// among them.
bool is_own_stream(const struct stat& file);

// A standard stream that the parent closed would otherwise be the number
// the next open file gets, and our messages would land in the output: each
// is held by /dev/null, opened the other way round, so that using it fails
// just as a closed one would. First thing in the process.
void hold_closed_standard_streams();

// Whether `fd` is a standard stream that the process was started without,
// held as above: a path that names it names no file the caller gave.
bool is_held_closed_stream(int fd);

}  // namespace dbgparse::platform::posix
