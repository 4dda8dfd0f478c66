// Windows side of the console program: UTF-8 at the interface, wide-character
// file and console calls underneath, a temporary file moved into place, and
// the command processor's own PAUSE.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <shellapi.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <random>
#include <utility>

#include "platform.h"

namespace dbgparse::platform {
namespace {

// ReadFile and WriteFile take a 32-bit count; large files go in pieces.
constexpr DWORD max_io_chunk = DWORD{1} << 30;
constexpr int max_temp_name_tries = 100;
constexpr std::size_t max_final_path = 32768;
constexpr wchar_t console_end_of_file = L'\x1a';  // Ctrl+Z, then Enter

struct handle_closer {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using unique_handle = std::unique_ptr<void, handle_closer>;

unique_handle adopt(HANDLE handle) {
  return unique_handle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

// White space as the C library's formatted input skips it.
bool is_space(unsigned code) { return code == ' ' || (code >= '\t' && code <= '\r'); }

std::wstring to_wide(const std::string& text, UINT code_page, DWORD flags) {
  const int length = static_cast<int>(text.size());
  const int count = ::MultiByteToWideChar(code_page, flags, text.data(), length, nullptr, 0);
  if (count <= 0) {
    return {};
  }
  std::wstring wide(static_cast<std::size_t>(count), L'\0');
  ::MultiByteToWideChar(code_page, flags, text.data(), length, wide.data(), count);
  return wide;
}

// UTF-8 to UTF-16. Bytes that are no valid UTF-8 (a name piped in by a
// program that writes the ANSI code page) are read in that code page.
// Empty for an empty or absurdly long text, which no file has as its name.
std::wstring widen(const std::string& text) {
  if (text.empty() || text.size() > INT_MAX) {
    return {};
  }
  std::wstring wide = to_wide(text, CP_UTF8, MB_ERR_INVALID_CHARS);
  return wide.empty() ? to_wide(text, CP_ACP, 0) : wide;
}

std::string narrow(const std::wstring& wide) {
  if (wide.empty() || wide.size() > INT_MAX) {
    return {};
  }
  const int length = static_cast<int>(wide.size());
  const int count =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (count <= 0) {
    return {};
  }
  std::string text(static_cast<std::size_t>(count), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, text.data(), count, nullptr, nullptr);
  return text;
}

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
  word = narrow(wide);
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

bool read_all(HANDLE file, unsigned char* data, std::size_t capacity, std::size_t& count) {
  count = 0;
  while (count < capacity) {
    const auto piece = static_cast<DWORD>(std::min<std::size_t>(capacity - count, max_io_chunk));
    DWORD got = 0;
    if (::ReadFile(file, data + count, piece, &got, nullptr) == 0) {
      return false;
    }
    if (got == 0) {
      break;  // the file got shorter: convert what arrived
    }
    count += got;
  }
  return true;
}

bool write_all(HANDLE file, std::span<const unsigned char> bytes) {
  while (!bytes.empty()) {
    const auto piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), max_io_chunk));
    DWORD written = 0;
    if (::WriteFile(file, bytes.data(), piece, &written, nullptr) == 0 || written == 0) {
      return false;
    }
    bytes = bytes.subspan(written);
  }
  return true;
}

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

unique_handle open_existing(const std::wstring& path, DWORD access) {
  return adopt(::CreateFileW(path.c_str(), access, share_all, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The read-only attribute forbids writing even to those whom the file's
// permissions would let write.
bool is_read_only(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information{};
  return ::GetFileInformationByHandle(file, &information) != 0 &&
         (information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// A symbolic link is replaced by way of the file it names, so the link stays.
std::wstring replacement_target(HANDLE file, const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return path;
  }
  std::wstring final_path(max_final_path, L'\0');
  const DWORD length = ::GetFinalPathNameByHandleW(file, final_path.data(), max_final_path,
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= max_final_path) {
    return path;
  }
  final_path.resize(length);
  return final_path;
}

// Creates a new file beside `target` with a name no one else uses.
unique_handle create_temporary(const std::filesystem::path& target, std::wstring& temp_path) {
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < max_temp_name_tries; ++attempt) {
    const std::wstring name = L"." + target.filename().wstring() + L"." +
                              std::to_wstring(random() % 1000000000) + L".tmp";
    temp_path = (target.parent_path() / name).wstring();
    unique_handle file = adopt(::CreateFileW(temp_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                             nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file || ::GetLastError() != ERROR_FILE_EXISTS) {
      return file;
    }
  }
  return nullptr;
}

}  // namespace

void prepare_console() {
  // Names outside ASCII are printed as UTF-8 and shown as such; the lines
  // end in a bare LF, as on every other platform.
  ::SetConsoleOutputCP(CP_UTF8);
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
    result.push_back(narrow(wide.get()[i]));
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

std::optional<std::uint64_t> file_size(const std::string& path) {
  const std::wstring wide = widen(path);
  struct _stat64 status {};
  if (wide.empty() || ::_wstat64(wide.c_str(), &status) != 0) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(std::max<__int64>(status.st_size, 0));
}

read_result read_input(const std::string& path, std::uint64_t expected_size, input_bytes& input) {
  const std::wstring wide = widen(path);
  // Without backup semantics a folder does not open, as fopen refuses it.
  const unique_handle file = wide.empty() ? nullptr : open_existing(wide, GENERIC_READ);
  if (!file) {
    return read_result::cannot_open;
  }
  if (expected_size > SIZE_MAX) {
    return read_result::no_memory;
  }
  const auto capacity = static_cast<std::size_t>(expected_size);
  // Left uninitialised: the read fills what is used.
  std::shared_ptr<unsigned char[]> memory(
      new (std::nothrow) unsigned char[capacity == 0 ? 1 : capacity]);
  if (!memory) {
    return read_result::no_memory;
  }
  std::size_t count = 0;
  if (!read_all(file.get(), memory.get(), capacity, count)) {
    return read_result::cannot_open;
  }
  input.bytes = std::span<const unsigned char>(memory.get(), count);
  input.owner = std::move(memory);
  return read_result::ok;
}

struct output_file::state {
  unique_handle file;
  std::wstring temp_path;    // empty when writing in place
  std::wstring target_path;  // the file that the temporary one replaces
  bool failed = false;
};

output_file::output_file() = default;

output_file::~output_file() {
  if (!state_) {
    return;
  }
  state_->file.reset();
  if (!state_->temp_path.empty()) {
    ::DeleteFileW(state_->temp_path.c_str());
  }
}

bool output_file::open(const std::string& path) {
  state_ = std::make_unique<state>();
  const std::wstring wide = widen(path);
  if (wide.empty()) {
    return false;
  }
  // Opening the existing file for writing refuses now, as a plain open would,
  // a read-only file, a folder or a file locked by another program.
  unique_handle existing = open_existing(wide, GENERIC_WRITE);
  if (!existing && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
    return false;
  }
  if (existing && ::GetFileType(existing.get()) != FILE_TYPE_DISK) {
    // A device (NUL, CON) or a pipe cannot be replaced; it is written as it is.
    state_->file = std::move(existing);
    return true;
  }
  if (existing && is_read_only(existing.get())) {
    return false;
  }
  state_->target_path = existing ? replacement_target(existing.get(), wide) : wide;
  existing.reset();
  state_->file = create_temporary(state_->target_path, state_->temp_path);
  if (!state_->file) {
    state_->temp_path.clear();
    return false;
  }
  return true;
}

bool output_file::write(std::span<const unsigned char> bytes) {
  if (!state_->failed && !write_all(state_->file.get(), bytes)) {
    state_->failed = true;
  }
  return !state_->failed;
}

bool output_file::commit() {
  const bool closed = ::CloseHandle(state_->file.release()) != 0;
  if (state_->failed || !closed) {
    return false;
  }
  if (state_->temp_path.empty()) {
    return true;
  }
  if (::MoveFileExW(state_->temp_path.c_str(), state_->target_path.c_str(),
                    MOVEFILE_REPLACE_EXISTING) == 0) {
    return false;
  }
  state_->temp_path.clear();
  return true;
}

void pause() {
  std::fflush(stdout);
  // The command processor prints its own prompt and waits for a key; what it
  // returns does not matter.
  [[maybe_unused]] const int ignored = std::system("PAUSE");
}

}  // namespace dbgparse::platform
