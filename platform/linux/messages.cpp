// What the programs' messages need from the system on POSIX systems.
#include <cerrno>
#include <string>
#include <system_error>

#include "platform.h"

namespace dbgparse::platform {

void write_standard_error_as_bytes() {
  // Bytes are bytes here: nothing to set.
}

std::string failure_reason() {
  const int code = errno;
  return code == 0 ? std::string() : std::generic_category().message(code);
}

}  // namespace dbgparse::platform
