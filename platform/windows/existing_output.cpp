// What an existing output holds, looked at before it is replaced.
// First: the other Windows headers need what <windows.h> defines.
#include "win32_support.h"

#include <algorithm>
#include <string>

#include "platform.h"

namespace dbgparse::platform {

bool other_file_holds(const std::string& path, const std::string& input, std::string_view text,
                      std::size_t window) {
  const std::wstring wide = windows::widen(path);
  // Without backup semantics a folder does not open; a device or a pipe
  // opens but is no file on disk, and is not read.
  const windows::unique_handle file =
      wide.empty() ? nullptr : windows::open_existing(wide, GENERIC_READ);
  if (!file || ::GetFileType(file.get()) != FILE_TYPE_DISK) {
    return false;
  }
  const std::wstring input_wide = windows::widen(input);
  const windows::unique_handle source =
      input_wide.empty() ? nullptr : windows::open_existing(input_wide, FILE_READ_ATTRIBUTES);
  const std::optional<windows::file_identity> identity = windows::identify(file.get());
  if (!identity || identity == windows::identify(source.get())) {
    return false;
  }
  std::string start(window, '\0');
  std::size_t count = 0;
  while (count < window) {
    const auto piece =
        static_cast<DWORD>(std::min<std::size_t>(window - count, windows::max_io_chunk));
    DWORD got = 0;
    if (::ReadFile(file.get(), start.data() + count, piece, &got, nullptr) == 0 || got == 0) {
      break;
    }
    count += got;
  }
  start.resize(count);
  return start.find(text) != std::string::npos;
}

}  // namespace dbgparse::platform
