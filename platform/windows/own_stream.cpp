#include "own_stream.h"

namespace dbgparse::platform::windows {

bool is_own_stream(HANDLE output) {
  const std::optional<file_identity> output_identity = identify(output);
  for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const std::optional<file_identity> stream_identity = identify(::GetStdHandle(which));
    if (output_identity && stream_identity && *output_identity == *stream_identity) {
      return true;
    }
  }
  return false;
}

bool is_own_stream_named(const std::wstring& path) {
  const unique_handle named =
      adopt(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return named && is_own_stream(named.get());
}

}  // namespace dbgparse::platform::windows
