// Reading the input whole. The size from the file's status is only a first
// guess: a pipe reports none, and a file may grow before it is read, so the
// read goes on to the end of the data whatever it said.
// First: the other Windows headers need what <windows.h> defines.
#include "win32_support.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "platform.h"

namespace dbgparse::platform {
namespace {

using windows::max_io_chunk;
using windows::unique_handle;

// Growth below this would cost a copy per few reads of a pipe.
constexpr std::size_t min_input_growth = std::size_t{1} << 16;

using input_buffer = std::shared_ptr<unsigned char[]>;

// Doubles the buffer, keeping the `used` bytes read so far.
bool grow(input_buffer& memory, std::size_t& capacity, std::size_t used) {
  if (capacity > SIZE_MAX / 2) {
    return false;
  }
  const std::size_t larger = std::max(capacity * 2, min_input_growth);
  input_buffer bigger(new (std::nothrow) unsigned char[larger]);
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
      return ::GetLastError() == ERROR_BROKEN_PIPE ? read_result::ok : read_result::cannot_open;
    }
    if (got == 0) {
      return read_result::ok;
    }
    count += got;
  }
}

}  // namespace

std::optional<std::uint64_t> file_size(const std::string& path) {
  // Through Win32 rather than the C runtime's stat, which refuses paths in
  // the \\?\ form and stops at MAX_PATH.
  const std::wstring wide = windows::widen(path);
  WIN32_FILE_ATTRIBUTE_DATA status{};
  if (wide.empty() || ::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &status) == 0) {
    return std::nullopt;
  }
  return (std::uint64_t{status.nFileSizeHigh} << 32) | status.nFileSizeLow;
}

read_result read_input(const std::string& path, std::uint64_t expected_size, input_bytes& input) {
  const std::wstring wide = windows::widen(path);
  // Without backup semantics a folder does not open, as fopen refuses it.
  const unique_handle file = wide.empty() ? nullptr : windows::open_existing(wide, GENERIC_READ);
  if (!file) {
    return read_result::cannot_open;
  }
  if (expected_size >= SIZE_MAX) {
    return read_result::no_memory;
  }
  input_buffer memory;
  std::size_t count = 0;
  const read_result result =
      read_to_end(file.get(), static_cast<std::size_t>(expected_size) + 1, memory, count);
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
      read_to_end(::GetStdHandle(STD_INPUT_HANDLE), std::size_t{1} << 16, memory, count);
  if (result == read_result::ok) {
    input.bytes = std::span<const unsigned char>(memory.get(), count);
    input.owner = std::move(memory);
  }
  return result;
}

}  // namespace dbgparse::platform
