// A worker thread that no event ending the run reaches. On Linux it starts
// with every signal held back and keeps them so, so that one that ends the
// run reaches the main thread, where the temporary file is known to the
// handler. On Windows console events reach the handler's own thread, never
// this one, and nothing is to be held back.
#include <system_error>

#include "platform.h"

#ifndef _WIN32
#include "signal_cleanup.h"
#endif

namespace dbgparse::platform {

bool worker_thread::start(std::function<void()> work) {
#ifndef _WIN32
  // The new thread inherits the held mask; this thread's own comes back
  // when `held` goes.
  const posix::signals_held held;
#endif
  try {
    thread_ = std::thread(std::move(work));
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

}  // namespace dbgparse::platform
