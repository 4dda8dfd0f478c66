#include "own_stream.h"

namespace dbgparse::platform::windows {

std::optional<unique_handle> own_stream(HANDLE output) {
  const std::optional<file_identity> output_identity = identify(output);
  for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const HANDLE stream = ::GetStdHandle(which);
    const std::optional<file_identity> stream_identity = identify(stream);
    HANDLE copy = nullptr;
    if (output_identity && stream_identity && *output_identity == *stream_identity &&
        ::DuplicateHandle(::GetCurrentProcess(), stream, ::GetCurrentProcess(), &copy, 0, FALSE,
                          DUPLICATE_SAME_ACCESS) != 0) {
      return unique_handle(copy);
    }
  }
  return std::nullopt;
}

}  // namespace dbgparse::platform::windows
