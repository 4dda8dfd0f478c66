// Reading the input whole (read_whole.h), from a file's handle.
// First: the other Windows headers need what <windows.h> defines.
#include "win32_support.h"

#include <algorithm>
#include <cstdint>

#include "platform.h"
#include "read_whole.h"

namespace dbgparse::platform {
namespace {

using windows::max_io_chunk;
using windows::unique_handle;

// Reads `file` to its end, into memory of `capacity` bytes first.
read_result read_handle(HANDLE file, std::size_t capacity, input_bytes& input) {
  return read_whole(
      capacity,
      [file](unsigned char* into, std::size_t room, std::size_t& got) {
        DWORD done = 0;
        const bool read =
            ::ReadFile(file, into, static_cast<DWORD>(std::min<std::size_t>(room, max_io_chunk)),
                       &done, nullptr) != 0;
        got = done;
        // A pipe ends with its writer gone.
        return read || ::GetLastError() == ERROR_BROKEN_PIPE;
      },
      input);
}

// Whether anything answers to `path` at all. Through Win32 rather than the
// C runtime's stat, which refuses paths in the \\?\ form and stops at
// MAX_PATH.
bool exists(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA status{};
  return ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &status) != 0;
}

}  // namespace

read_result read_input(const std::string& path, input_bytes& input) {
  const std::wstring wide = windows::widen(path);
  // Without backup semantics a folder does not open, as fopen refuses it.
  const unique_handle file = wide.empty() ? nullptr : windows::open_existing(wide, GENERIC_READ);
  if (!file) {
    // Not there at all, or there and refused; the open's reason is kept.
    // The console is there even where the process has none to open.
    const DWORD reason = ::GetLastError();
    const bool there = !wide.empty() && (exists(wide) || windows::names_the_console(wide));
    if (there) {
      ::SetLastError(reason);
    }
    return there ? read_result::cannot_read : read_result::not_found;
  }
  LARGE_INTEGER size{};
  return read_handle(
      file.get(),
      ::GetFileSizeEx(file.get(), &size) == 0
          ? min_input_growth
          : first_input_capacity(static_cast<std::uint64_t>(std::max<LONGLONG>(size.QuadPart, 0))),
      input);
}

read_result read_standard_input(input_bytes& input) {
  return read_handle(::GetStdHandle(STD_INPUT_HANDLE), min_input_growth, input);
}

}  // namespace dbgparse::platform
