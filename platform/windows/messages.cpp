// What the programs' messages need from the system on Windows.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform.h"

namespace dbgparse::platform {

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
