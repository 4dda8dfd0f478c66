#include "own_stream.h"

namespace dbgparse::platform::windows {

bool is_own_stream(HANDLE opened, DWORD open_error, const std::wstring& path) {
  const unique_handle named =
      opened != nullptr || open_error != ERROR_SHARING_VIOLATION
          ? nullptr
          : adopt(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  const std::optional<file_identity> output_identity =
      identify(opened != nullptr ? opened : named.get());
  for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const std::optional<file_identity> stream_identity = identify(::GetStdHandle(which));
    if (output_identity && stream_identity && *output_identity == *stream_identity) {
      return true;
    }
  }
  return false;
}

}  // namespace dbgparse::platform::windows
