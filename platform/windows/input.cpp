// Reading the input whole. The size from the file's status is only a first
// guess: a pipe reports none, and a file may grow before it is read, so the
// read goes on to the end of the data whatever it said.
// First: the other Windows headers need what <windows.h> defines.
#include "win32_support.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "input_growth.h"
#include "platform.h"

namespace dbgparse::platform {
namespace {

using windows::max_io_chunk;
using windows::unique_handle;

using input_buffer = std::shared_ptr<unsigned char[]>;

// Grows the buffer, keeping the `used` bytes read so far.
bool grow(input_buffer& memory, std::size_t& capacity, std::size_t used) {
  const std::size_t larger = grown_input_capacity(capacity, used);
  input_buffer bigger(larger == 0 ? nullptr : new (std::nothrow) unsigned char[larger]);
  if (!bigger) {
    return false;
  }
  std::copy_n(memory.get(), used, bigger.get());
  memory = std::move(bigger);
  capacity = larger;
  return true;
}

// Reads to the end of the file, whatever its status said: `capacity` is a
// first guess that holds a file which kept its size, one byte of room
// included to see its end. Left uninitialised: the read fills what is used.
read_result read_to_end(HANDLE file, std::size_t capacity, input_buffer& memory,
                        std::size_t& count) {
  memory.reset(new (std::nothrow) unsigned char[capacity]);
  if (!memory) {
    return read_result::no_memory;
  }
  count = 0;
  for (;;) {
    if (count == capacity && !grow(memory, capacity, count)) {
      return read_result::no_memory;
    }
    const auto piece = static_cast<DWORD>(std::min<std::size_t>(capacity - count, max_io_chunk));
    DWORD got = 0;
    if (::ReadFile(file, memory.get() + count, piece, &got, nullptr) == 0) {
      // A pipe ends with its writer gone.
      return ::GetLastError() == ERROR_BROKEN_PIPE ? read_result::ok : read_result::cannot_read;
    }
    if (got == 0) {
      return read_result::ok;
    }
    count += got;
  }
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
  const std::size_t capacity =
      ::GetFileSizeEx(file.get(), &size) == 0
          ? min_input_growth
          : first_input_capacity(static_cast<std::uint64_t>(std::max<LONGLONG>(size.QuadPart, 0)));
  if (capacity == 0) {
    return read_result::no_memory;
  }
  input_buffer memory;
  std::size_t count = 0;
  const read_result result = read_to_end(file.get(), capacity, memory, count);
  if (result == read_result::ok) {
    input.bytes = std::span<const unsigned char>(memory.get(), count);
    input.owner = std::move(memory);
  }
  return result;
}

read_result read_standard_input(input_bytes& input) {
  input_buffer memory;
  std::size_t count = 0;
  const read_result result =
      read_to_end(::GetStdHandle(STD_INPUT_HANDLE), min_input_growth, memory, count);
  if (result == read_result::ok) {
    input.bytes = std::span<const unsigned char>(memory.get(), count);
    input.owner = std::move(memory);
  }
  return result;
}

}  // namespace dbgparse::platform
