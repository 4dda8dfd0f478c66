// The console side on Windows: the wide command line, words typed at the
// console or read from a redirected standard input, and the command
// processor's own PAUSE.
// First: the other Windows headers need what <windows.h> defines.
#include "win32_support.h"

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "console_events.h"
#include "platform.h"

namespace dbgparse::platform {
namespace {

constexpr wchar_t console_end_of_file = L'\x1a';  // Ctrl+Z, then Enter

// White space as the C library's formatted input skips it.
bool is_space(unsigned code) { return code == ' ' || (code >= '\t' && code <= '\r'); }

// One UTF-16 unit typed at the console; false at the end of input.
bool read_console_unit(HANDLE input, wchar_t& unit) {
  DWORD got = 0;
  return ::ReadConsoleW(input, &unit, 1, &got, nullptr) != 0 && got == 1 &&
         unit != console_end_of_file;
}

// The console hands over whole lines; the rest of a line stays with it for
// the next read. Enter gives CR LF: both are taken, so that the pause
// afterwards waits for a fresh key.
bool read_console_word(HANDLE input, std::string& word) {
  wchar_t unit = 0;
  do {
    if (!read_console_unit(input, unit)) {
      return false;
    }
  } while (is_space(unit));
  std::wstring wide;
  do {
    wide.push_back(unit);
    if (!read_console_unit(input, unit)) {
      break;
    }
  } while (!is_space(unit));
  if (unit == L'\r') {
    read_console_unit(input, unit);
  }
  word = windows::narrow(wide);
  return true;
}

// One byte from a redirected standard input; false at its end.
bool read_byte(HANDLE input, char& byte) {
  DWORD got = 0;
  return ::ReadFile(input, &byte, 1, &got, nullptr) != 0 && got == 1;
}

// Byte by byte, so that nothing after the word is taken from a shared pipe.
bool read_byte_word(HANDLE input, std::string& word) {
  char byte = 0;
  do {
    if (!read_byte(input, byte)) {
      return false;
    }
  } while (is_space(static_cast<unsigned char>(byte)));
  word.clear();
  do {
    word.push_back(byte);
  } while (read_byte(input, byte) && !is_space(static_cast<unsigned char>(byte)));
  return true;
}

bool is_console(DWORD which) {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(which), &mode) != 0;
}

}  // namespace

void prepare_console() {
  // Names outside ASCII are printed as UTF-8 and shown as such; the lines
  // end in a bare LF, as on every other platform.
  windows::install_console_event_cleanup();
  std::fflush(stdout);
  ::_setmode(::_fileno(stdout), _O_BINARY);
  // A drive without a medium is a failed open, not a dialog box.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

std::vector<std::string> arguments(int argc, char** argv) {
  // The narrow argv holds the ANSI code page's lossy version of each name;
  // the wide command line is what was actually given.
  int count = 0;
  const std::unique_ptr<LPWSTR, decltype(&::LocalFree)> wide(
      ::CommandLineToArgvW(::GetCommandLineW(), &count), &::LocalFree);
  if (!wide) {
    return {argv, argv + std::max(argc, 0)};
  }
  std::vector<std::string> result;
  result.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    result.push_back(windows::narrow(wide.get()[i]));
  }
  return result;
}

bool read_word(std::string& word) {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD mode = 0;
  if (::GetConsoleMode(input, &mode) != 0) {
    return read_console_word(input, word);
  }
  return read_byte_word(input, word);
}

void pause() {
  std::fflush(stdout);
  // Only someone at the console can press a key; with either stream
  // redirected no one sees the prompt, so nothing waits. The command
  // processor prints its own prompt; what it returns does not matter.
  if (is_console(STD_INPUT_HANDLE) && is_console(STD_OUTPUT_HANDLE)) {
    [[maybe_unused]] const int ignored = std::system("PAUSE");
  }
}

}  // namespace dbgparse::platform
