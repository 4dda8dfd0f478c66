#include "console_events.h"

#include <atomic>
#include <cstdlib>

namespace dbgparse::platform::windows {
namespace {

struct cleanup_state {
  std::mutex guard;
  HANDLE temporary = nullptr;
  HANDLE creation = nullptr;
  // The console's code page belongs to the console, not to this process: it
  // is given back on every way out, so that the next program in the window
  // shows text as before.
  UINT code_page_before = 0;
  // Set once the pause begins, and never cleared: the handler runs on a
  // thread of its own, which may start only after the pause has ended.
  std::atomic<bool> pausing{false};
};

cleanup_state& cleanup() {
  static cleanup_state state;  // NOLINT: reachable from the console's handler only this way
  return state;
}

void restore_console_code_page() {
  if (cleanup().code_page_before != 0) {
    ::SetConsoleOutputCP(cleanup().code_page_before);
  }
}

BOOL WINAPI on_console_event(DWORD event) {
  // At the pause, Ctrl-C and Ctrl-Break are keys like any other, as they are
  // on other systems: they end the command processor's PAUSE (it takes the
  // event too), and the run ends with its own status. Everything is in its
  // place by then.
  if (cleanup().pausing && (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)) {
    return TRUE;
  }
  // Never released: a commit that waits for it must not go on.
  cleanup().guard.lock();
  for (const HANDLE file : {cleanup().temporary, cleanup().creation}) {
    if (file != nullptr) {
      remove_on_close(file);
    }
  }
  restore_console_code_page();
  // The status the system gives a process ended by Ctrl-C.
  ::ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace

void install_console_event_cleanup() {
  cleanup().code_page_before = ::GetConsoleOutputCP();
  if (cleanup().code_page_before != 0) {
    std::atexit(restore_console_code_page);
  }
  ::SetConsoleOutputCP(CP_UTF8);
  ::SetConsoleCtrlHandler(on_console_event, TRUE);
}

std::unique_lock<std::mutex> hold_console_events() {
  return std::unique_lock<std::mutex>(cleanup().guard);
}

void remove_on_console_event(HANDLE temporary, HANDLE creation) {
  cleanup().temporary = temporary;
  cleanup().creation = creation;
}

void keep_on_console_event() { remove_on_console_event(nullptr, nullptr); }

void treat_interrupts_as_keys() { cleanup().pausing = true; }

}  // namespace dbgparse::platform::windows
