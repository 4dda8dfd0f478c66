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

// The same for the file `path` names, opened for its attributes alone,
// which no share mode refuses: cmd.exe opens a redirection file without
// letting others write it, so an open for writing fails before the file
// can be recognised. Only for a path whose open for writing was refused
// for sharing: such an open of a named pipe would connect to it.
std::optional<unique_handle> own_stream_named(const std::wstring& path);

}  // namespace dbgparse::platform::windows
