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

// Reads one word through `next` (which gives the next unit, false at the
// end of input): white space skipped first, then up to the next white
// space. A word that begins with a double quote, as Explorer's "Copy as
// path" and a file dragged into the console window give it, runs to the
// closing quote or the line's end instead, and loses its quotes: no Windows
// file name holds one. `last` is the unit after the word, when there was one.
template <typename Unit, typename Next>
bool read_word_through(Next next, std::basic_string<Unit>& word, Unit& last) {
  Unit unit = 0;
  do {
    if (!next(unit)) {
      return false;
    }
  } while (is_space(static_cast<unsigned>(unit)));
  word.clear();
  bool more = true;
  if (unit == Unit{'"'}) {
    while ((more = next(unit)) && unit != Unit{'"'} && unit != Unit{'\r'} && unit != Unit{'\n'}) {
      word.push_back(unit);
    }
    if (!more || unit != Unit{'"'}) {
      last = more ? unit : Unit{0};  // the line or the input ended first
      return true;
    }
    more = next(unit);  // past the closing quote
  }
  while (more && !is_space(static_cast<unsigned>(unit))) {
    word.push_back(unit);
    more = next(unit);
  }
  last = more ? unit : Unit{0};
  return true;
}

// One UTF-16 unit typed at the console; false at the end of input.
bool read_console_unit(HANDLE input, wchar_t& unit) {
  DWORD got = 0;
  return ::ReadConsoleW(input, &unit, 1, &got, nullptr) != 0 && got == 1 &&
         unit != console_end_of_file;
}

// Whether the console holds the rest of a line that an answer came from,
// which the pause must not take for a key. The one piece of state the
// console side keeps: the console keeps that rest for this process.
bool& rest_of_line_pending() {
  static bool pending = false;  // NOLINT: the console's own state, mirrored
  return pending;
}

// The console hands over whole lines; the rest of a line stays with it for
// the next read. Enter gives CR LF: both are taken, so that the pause
// afterwards waits for a fresh key.
bool read_console_word(HANDLE input, std::string& word) {
  std::wstring wide;
  wchar_t last = 0;
  const auto next = [input](wchar_t& unit) { return read_console_unit(input, unit); };
  const bool read = read_word_through(next, wide, last);
  if (last == L'\r') {
    read_console_unit(input, last);
  }
  rest_of_line_pending() = read && last != L'\r' && last != L'\n' && last != 0;
  word = windows::narrow(wide);
  return read;
}

// Takes what is left of the line an answer came from, and anything typed
// since, so that only a key pressed at the pause ends it.
void drop_typed_input(HANDLE input) {
  wchar_t unit = 0;
  while (rest_of_line_pending() && read_console_unit(input, unit) && unit != L'\n') {
  }
  rest_of_line_pending() = false;
  ::FlushConsoleInputBuffer(input);
}

// One byte from a redirected standard input; false at its end.
bool read_byte(HANDLE input, char& byte) {
  DWORD got = 0;
  return ::ReadFile(input, &byte, 1, &got, nullptr) != 0 && got == 1;
}

// Byte by byte, so that nothing after the word is taken from a shared pipe.
bool read_byte_word(HANDLE input, std::string& word) {
  char last = 0;
  return read_word_through([input](char& byte) { return read_byte(input, byte); }, word, last);
}

bool is_console(DWORD which) {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(which), &mode) != 0;
}

}  // namespace

void prepare_process() {
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
    drop_typed_input(::GetStdHandle(STD_INPUT_HANDLE));
    windows::treat_interrupts_as_keys();
    [[maybe_unused]] const int ignored = std::system("PAUSE");
  }
}

}  // namespace dbgparse::platform
