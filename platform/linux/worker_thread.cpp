// A worker thread that every signal passes by: it starts with them all
// held back and never takes them, so that one that ends the run reaches the
// main thread, where the temporary file is known to the handler.
#include <system_error>

#include "platform.h"
#include "signal_cleanup.h"

namespace dbgparse::platform {

bool worker_thread::start(std::function<void()> work) {
  // The new thread inherits the held mask and keeps it; this thread's own
  // comes back when `held` goes.
  const posix::signals_held held;
  try {
    thread_ = std::thread(std::move(work));
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

}  // namespace dbgparse::platform
