// What a signal that ends the process must undo: a half-written file is
// removed and a terminal left in raw mode gets its settings back. The
// signal then ends the process as it would have without the handler, so
// that the parent sees a process killed by it.
//
// This is the one piece of process-wide state in the program: a signal
// handler has nowhere else to find it.
#pragma once

#include <sys/stat.h>
#include <termios.h>
#include <csignal>

namespace dbgparse::platform::posix {

// Installs the handler for every signal whose default action ends the
// process (SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGALRM, SIGUSR1, SIGXCPU, the
// real-time signals...), leaving alone a signal that the parent asked us to
// ignore and those of a crash. SIGXFSZ is left to the caller, which ignores it.
void install_signal_cleanup();

// Holds back every signal while it lives, so that a file created in its
// scope is known to the handler before any signal can end the process.
class signals_held {
 public:
  signals_held();
  signals_held(const signals_held&) = delete;
  signals_held& operator=(const signals_held&) = delete;
  ~signals_held();

 private:
  sigset_t previous_{};
};

// A file that is ours alone until the run succeeds: `name` in the folder
// open as `folder`, while that name still holds `file` (or `other_file`,
// which lets a caller cover the instant in which two files trade names).
void remove_on_signal(int folder, const char* name, const struct stat& file,
                      const struct stat& other_file);
void keep_on_signal();

// Settings to put back on the terminal `fd` if a signal ends the process.
void restore_terminal_on_signal(int fd, const termios& settings);
void leave_terminal_on_signal();

}  // namespace dbgparse::platform::posix
