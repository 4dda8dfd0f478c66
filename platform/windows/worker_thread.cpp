// A worker thread. Console events reach the handler's own thread, never
// this one, and the handler removes what the run made: nothing to hold back.
#include <system_error>

#include "platform.h"

namespace dbgparse::platform {

bool worker_thread::start(std::function<void()> work) {
  try {
    thread_ = std::thread(std::move(work));
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

}  // namespace dbgparse::platform
