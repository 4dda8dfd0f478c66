// What a Ctrl-C, a Ctrl-Break or the closing of the console window must undo
// before the process ends: a half-written file is removed and the console
// gets its code page back. The process then exits with the status the system
// gives a process ended by Ctrl-C; at the pause, Ctrl-C and Ctrl-Break are
// keys that end it instead.
//
// This is the one piece of process-wide state on this side: the console's
// handler runs on a thread of its own and has nowhere else to find it.
#pragma once

#include <mutex>

#include "win32_support.h"

namespace dbgparse::platform::windows {

// Switches the console's output to UTF-8, remembering its code page to give
// it back on every way out, and installs the handler for console events.
void install_console_event_cleanup();

// While the lock is held, a console event waits; once the handler has
// begun, the lock is never had again, so a commit that waits for it does
// not go on.
[[nodiscard]] std::unique_lock<std::mutex> hold_console_events();

// Files that are ours alone until the run succeeds: the temporary file, and
// an output this run created (either may be null). Called with the lock held.
void remove_on_console_event(HANDLE temporary, HANDLE creation);
void keep_on_console_event();

// From the pause on, Ctrl-C and Ctrl-Break end the pause, not the process:
// by then every file is in its place, and the run ends with its own status.
void treat_interrupts_as_keys();

}  // namespace dbgparse::platform::windows
