#include "signal_cleanup.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>

#include "file_io.h"

namespace dbgparse::platform::posix {
namespace {

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads these atomics");

// Written by the program, read by the handler. Each part is published by
// storing its descriptor last, and withdrawn by storing -1 first, so the
// handler never sees a half-written part.
struct pending_removal {
  std::atomic<int> folder{-1};
  char name[NAME_MAX + 1]{};
  struct stat files[2]{};
};

struct saved_terminal {
  std::atomic<int> fd{-1};
  termios settings{};
};

struct cleanup_state {
  pending_removal removal;
  saved_terminal terminal;
};

constinit cleanup_state cleanup;  // NOLINT: reachable from a signal handler only this way

extern "C" void end_on_signal(int number) {
  const int folder = cleanup.removal.folder.load();
  if (folder >= 0) {
    for (const struct stat& file : cleanup.removal.files) {
      remove_if_same(folder, cleanup.removal.name, file);
    }
  }
  const int terminal = cleanup.terminal.fd.load();
  if (terminal >= 0) {
    ::tcsetattr(terminal, TCSANOW, &cleanup.terminal.settings);
  }
  // Then the process ends of the signal itself, not with a status that
  // merely looks like it: a shell stops its loop only for a child killed by
  // SIGINT, and a supervisor tells a kill from an exit. The signal is held
  // while its handler runs, so it waits until let through here.
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  ::sigaction(number, &default_action, nullptr);
  ::raise(number);
  sigset_t only_this{};
  sigemptyset(&only_this);
  sigaddset(&only_this, number);
  ::pthread_sigmask(SIG_UNBLOCK, &only_this, nullptr);
  // Not reached but for a signal whose default action lets the process go on.
  ::_exit(128 + number);
}

// The signals whose default action ends the process, with or without a core
// dump, and that may come from outside the program; SIGKILL cannot be
// caught, and SIGXFSZ is ignored so that a write past the file size limit
// fails and is reported instead. The signals of a fault in the program
// itself (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT) are left alone: a crash
// stays a crash, with its core dump or its sanitizer's report, even though
// it may leave the temporary file behind.
constexpr int ending_signals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGTRAP,   SIGUSR1, SIGUSR2, SIGPIPE,
    SIGALRM,   SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

// One call sets the handler and tells what was there before; a signal that
// was ignored (SIGHUP under nohup, say) gets that back, to stay immune as
// asked. The caller holds every signal meanwhile, so one arriving in between
// waits, and is dropped when the ignoring comes back.
void install_cleanup_for(int number) {
  struct sigaction action {};
  action.sa_handler = end_on_signal;
  sigfillset(&action.sa_mask);  // one cleanup at a time
  struct sigaction previous {};
  if (::sigaction(number, &action, &previous) == 0 && previous.sa_handler == SIG_IGN) {
    ::sigaction(number, &previous, nullptr);
  }
}

}  // namespace

void install_signal_cleanup() {
  const signals_held held;
  for (const int number : ending_signals) {
    install_cleanup_for(number);
  }
#ifdef SIGRTMIN
  // Real-time signals end the process too; SIGRTMIN is computed at run time,
  // past the few that the C library keeps for itself.
  for (int number = SIGRTMIN; number <= SIGRTMAX; ++number) {
    install_cleanup_for(number);
  }
#endif
}

signals_held::signals_held() {
  sigset_t all{};
  sigfillset(&all);
  ::pthread_sigmask(SIG_BLOCK, &all, &previous_);
}

signals_held::~signals_held() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

void remove_on_signal(int folder, const char* name, const struct stat& file,
                      const struct stat& other_file) {
  cleanup.removal.folder.store(-1);
  std::strncpy(cleanup.removal.name, name, NAME_MAX);
  cleanup.removal.files[0] = file;
  cleanup.removal.files[1] = other_file;
  cleanup.removal.folder.store(folder);
}

void keep_on_signal() { cleanup.removal.folder.store(-1); }

void restore_terminal_on_signal(int fd, const termios& settings) {
  cleanup.terminal.fd.store(-1);
  cleanup.terminal.settings = settings;
  cleanup.terminal.fd.store(fd);
}

void leave_terminal_on_signal() { cleanup.terminal.fd.store(-1); }

}  // namespace dbgparse::platform::posix
