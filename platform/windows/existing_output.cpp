// What an existing output holds, looked at before it is replaced.
// First: the other Windows headers need what <windows.h> defines.
#include "win32_support.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform.h"

namespace dbgparse::platform {

std::optional<std::vector<unsigned char>> other_file_start(const std::string& path,
                                                           const std::string& input,
                                                           std::size_t window) {
  const std::wstring wide = windows::widen(path);
  // Without backup semantics a folder does not open; a device or a pipe
  // opens but is no file on disk, and is not read.
  windows::unique_handle file = wide.empty() ? nullptr : windows::open_existing(wide, GENERIC_READ);
  const bool readable = static_cast<bool>(file);
  // A file we may not read, or that another program holds shut to readers,
  // is still another file, of which no byte is known. Not so a name in the
  // device namespace (\\.\pipe\..., \\.\CON): opening a pipe again
  // would take the connection that the run's own open is to have.
  const DWORD why = readable ? 0 : ::GetLastError();
  const bool device_name = wide.rfind(LR"(\\.\)", 0) == 0 || wide.rfind(L"//./", 0) == 0;
  if (!readable && !wide.empty() && !device_name &&
      (why == ERROR_ACCESS_DENIED || why == ERROR_SHARING_VIOLATION)) {
    file = windows::open_existing(wide, FILE_READ_ATTRIBUTES);
  }
  if (!file || ::GetFileType(file.get()) != FILE_TYPE_DISK) {
    return std::nullopt;
  }
  const std::wstring input_wide = windows::widen(input);
  const windows::unique_handle source =
      input_wide.empty() ? nullptr : windows::open_existing(input_wide, FILE_READ_ATTRIBUTES);
  const std::optional<windows::file_identity> identity = windows::identify(file.get());
  if (!identity || identity == windows::identify(source.get())) {
    return std::nullopt;
  }
  std::vector<unsigned char> start(readable ? window : 0);
  std::size_t count = 0;
  while (count < start.size()) {
    const auto piece =
        static_cast<DWORD>(std::min<std::size_t>(start.size() - count, windows::max_io_chunk));
    DWORD got = 0;
    if (::ReadFile(file.get(), start.data() + count, piece, &got, nullptr) == 0 || got == 0) {
      break;
    }
    count += got;
  }
  start.resize(count);
  return start;
}

std::string opened_name(const std::string& path) {
  std::string_view name = path;
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
    name.remove_suffix(1);
  }
  return std::string(name);
}

}  // namespace dbgparse::platform
