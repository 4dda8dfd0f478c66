// Paths that reach the file the process's own standard output or standard
// error goes to (`dbgparse a.dbg log.txt > log.txt`): such an output is
// refused, as the table would end up among the messages.
#pragma once

#include <string>

#include "win32_support.h"

namespace dbgparse::platform::windows {

// Whether `output` is the same file as our standard output or error.
bool is_own_stream(HANDLE output);

// The same for the file `path` names, opened for its attributes alone,
// which no share mode refuses: cmd.exe opens a redirection file without
// letting others write it, so an open for writing fails before the file
// can be recognised. Only for a path whose open for writing was refused
// for sharing: such an open of a named pipe would connect to it.
bool is_own_stream_named(const std::wstring& path);

}  // namespace dbgparse::platform::windows
