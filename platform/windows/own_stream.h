// Paths that reach the file the process's own standard output or standard
// error goes to (`dbgparse a.dbg log.txt > log.txt`): such an output is
// refused, as the table would end up among the messages.
#pragma once

#include <string>

#include "win32_support.h"

namespace dbgparse::platform::windows {

// Whether the output `path`, opened for writing as `opened` (null when that
// open failed with `open_error`), is the same file as our standard output or
// error. Where the open was refused for sharing, the file is opened for its
// attributes alone, which no share mode refuses: cmd.exe opens a
// redirection file without letting others write it. Only then: such an
// open of a named pipe would connect to it.
bool is_own_stream(HANDLE opened, DWORD open_error, const std::wstring& path);

}  // namespace dbgparse::platform::windows
