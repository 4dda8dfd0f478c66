// What the programs' messages need from the system on Windows.
// First: the other Windows headers need what <windows.h> defines.
#include "win32_support.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "platform.h"

namespace dbgparse::platform {
namespace {

// Units handed to one WriteConsoleW: the consoles of Windows 7 and older
// refuse a write much larger than 64 KiB, messages and listing lines are
// far shorter.
constexpr std::size_t most_units_per_console_write = 16384;

// The console that `file` writes to, or null when it goes to a file, a
// pipe or nowhere.
HANDLE console_of(std::FILE* file) {
  const std::intptr_t os_handle = ::_get_osfhandle(::_fileno(file));
  if (os_handle == -1 || os_handle == -2) {
    return nullptr;
  }
  const auto handle = reinterpret_cast<HANDLE>(os_handle);  // NOLINT: the C runtime's own type
  DWORD mode = 0;
  return ::GetConsoleMode(handle, &mode) != 0 ? handle : nullptr;
}

// UTF-8 as the console shows it: a byte that is no part of a character
// shows as U+FFFD, and the characters around it as they are.
std::wstring console_text(std::string_view text) {
  if (text.empty() || text.size() > INT_MAX) {
    return {};
  }
  const int length = static_cast<int>(text.size());
  const int count = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  if (count <= 0) {
    return {};
  }
  std::wstring wide(static_cast<std::size_t>(count), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), count);
  return wide;
}

bool is_high_surrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// Gives the console the whole text as wide characters: bytes written to it
// are read in its code page, and some consoles (wine's, those of Windows 7
// and 8) take them a few at a time, showing a character split in two as
// two wrong ones.
bool write_console(HANDLE console, std::string_view text) {
  const std::wstring wide = console_text(text);
  std::size_t done = 0;
  while (done < wide.size()) {
    std::size_t count = std::min(wide.size() - done, most_units_per_console_write);
    if (done + count < wide.size() && is_high_surrogate(wide[done + count - 1])) {
      --count;  // the pair stays whole
    }
    DWORD written = 0;
    if (::WriteConsoleW(console, wide.data() + done, static_cast<DWORD>(count), &written,
                        nullptr) == 0 ||
        written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

}  // namespace

bool write_text(standard_stream stream, std::string_view text) {
  std::FILE* const file = stream == standard_stream::output ? stdout : stderr;
  const HANDLE console = console_of(file);
  if (console == nullptr) {
    // The C runtime buffers standard error when it goes to a file, as it
    // does not on other systems: a message goes out at once, in its place
    // among the lines of standard output.
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return (stream == standard_stream::output || std::fflush(file) == 0) && written;
  }
  // Anything still in the C library's buffer goes first.
  return std::fflush(file) == 0 && write_console(console, text);
}

void write_standard_error_as_bytes() {
  // The messages end in LF alone, as the listing's lines keep their CR LF.
  std::fflush(stderr);
  ::_setmode(::_fileno(stderr), _O_BINARY);
}

std::string failure_reason() {
  const DWORD code = ::GetLastError();
  if (code == 0) {
    return {};
  }
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  const std::unique_ptr<wchar_t, decltype(&::LocalFree)> owned(text, &::LocalFree);
  std::wstring wide(text != nullptr ? text : L"", length);
  // The system's sentence ends in a full stop and a line end; the message
  // carries it in the middle of a line of its own.
  while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ' ||
                           wide.back() == L'.')) {
    wide.pop_back();
  }
  if (wide.empty()) {
    return {};
  }
  const int wide_length = static_cast<int>(wide.size());
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, narrow.data(), size, nullptr,
                        nullptr);
  return narrow;
}

}  // namespace dbgparse::platform
