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

std::optional<unique_handle> own_stream_named(const std::wstring& path) {
  const unique_handle named =
      adopt(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return named ? own_stream(named.get()) : std::nullopt;
}

}  // namespace dbgparse::platform::windows
