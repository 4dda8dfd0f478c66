// What the programs' messages need from the system on POSIX systems.
#include <cerrno>
#include <cstdio>
#include <string>
#include <system_error>

#include "platform.h"

namespace dbgparse::platform {

bool write_text(standard_stream stream, std::string_view text) {
  // A terminal takes the bytes as they are, whatever pieces they come in.
  std::FILE* const file = stream == standard_stream::output ? stdout : stderr;
  return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

void write_standard_error_as_bytes() {
  // Bytes are bytes here: nothing to set.
}

std::string failure_reason() {
  const int code = errno;
  return code == 0 ? std::string() : std::generic_category().message(code);
}

}  // namespace dbgparse::platform
