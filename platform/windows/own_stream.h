// Paths that reach the file the process's own standard output or standard
// error goes to (`dbgparse a.dbg log.txt > log.txt`): writing to one means
// writing through that stream, after the messages already there, never
// truncating or replacing the file.
#pragma once

#include <optional>

#include "win32_support.h"

namespace dbgparse::platform::windows {

// A handle of our own to the standard stream that reaches the same file as
// `output`, or nothing.
std::optional<unique_handle> own_stream(HANDLE output);

}  // namespace dbgparse::platform::windows
