// Paths that name one of the process's own open descriptors, such as
// /dev/stdout or /dev/fd/3: writing to one means writing to the descriptor
// as it is (appending where it appends), never opening the file anew.
#pragma once

#include <optional>
#include <string>

namespace dbgparse::platform::posix {

// The descriptor that `path` names, directly or through symbolic links, or
// nothing. Only looks at names: whether the path may be used at all is left
// to the kernel.
std::optional<int> own_descriptor_named(const std::string& path);

// Whether `fd` is a standard stream that the process was started without,
// which prepare_process() holds with /dev/null opened the other way round
// (console.cpp): a path that names it names no file the caller gave.
bool is_held_closed_stream(int fd);

}  // namespace dbgparse::platform::posix
