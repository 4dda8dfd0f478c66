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

#include <aclapi.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <optional>
#include <random>
#include <utility>

#include "platform.h"

namespace dbgparse::platform {
namespace {

// ReadFile and WriteFile take a 32-bit count; large files go in pieces.
constexpr DWORD max_io_chunk = DWORD{1} << 30;
constexpr int max_temp_name_tries = 100;
constexpr std::size_t max_final_path = 32768;
// Growth below this would cost a copy per few reads of a pipe.
constexpr std::size_t min_input_growth = std::size_t{1} << 16;
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

// Another handle to the same file with other rights, or null where they are
// refused (by the file's permissions, or by another program's share mode).
unique_handle reopen(HANDLE file, DWORD access) {
  return adopt(::ReOpenFile(file, access, share_all, 0));
}

// Which file a handle reaches, whatever name it was opened by.
struct file_identity {
  DWORD volume = 0;
  DWORD index_high = 0;
  DWORD index_low = 0;
  DWORD attributes = 0;
  bool operator==(const file_identity& other) const {
    return volume == other.volume && index_high == other.index_high && index_low == other.index_low;
  }
};

std::optional<file_identity> identify(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (file == nullptr || ::GetFileInformationByHandle(file, &information) == 0) {
    return std::nullopt;
  }
  return file_identity{information.dwVolumeSerialNumber, information.nFileIndexHigh,
                       information.nFileIndexLow, information.dwFileAttributes};
}

// True when `path` still names the file `expected`, not a link or another
// file planted there since it was opened.
bool still_names(const std::wstring& path, const file_identity& expected) {
  const unique_handle now =
      adopt(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  const std::optional<file_identity> found = identify(now.get());
  return found && *found == expected;
}

// The full name of the file a handle reaches (links and short names
// resolved), in the \\?\ form that no MAX_PATH limits.
std::wstring final_path(HANDLE file) {
  std::wstring path(max_final_path, L'\0');
  const DWORD length = ::GetFinalPathNameByHandleW(file, path.data(), max_final_path,
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= max_final_path) {
    return {};
  }
  path.resize(length);
  return path;
}

// Marks an open file to be removed when its last handle closes; the handle
// needs the DELETE right.
void remove_on_close(HANDLE file) {
  FILE_DISPOSITION_INFO disposition{TRUE};
  ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition));
}

// An output that is the very file standard output or standard error goes
// to (`dbgparse a.dbg log.txt > log.txt`) is written through that stream,
// after the messages already there, not truncated and not replaced.
std::optional<unique_handle> own_stream(HANDLE output) {
  const std::optional<file_identity> output_identity = identify(output);
  for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const HANDLE stream = ::GetStdHandle(which);
    const std::optional<file_identity> stream_identity = identify(stream);
    HANDLE copy = nullptr;
    if (output_identity && stream_identity && *output_identity == *stream_identity &&
        ::DuplicateHandle(::GetCurrentProcess(), stream, ::GetCurrentProcess(), &copy, 0, FALSE,
                          DUPLICATE_SAME_ACCESS) != 0) {
      return unique_handle(copy);
    }
  }
  return std::nullopt;
}

// A name of fixed length, so that the temporary file fits wherever the
// output's own name just fits.
std::wstring temporary_name(std::mt19937& random) {
  constexpr wchar_t digits[] = L"0123456789abcdef";
  std::wstring name = L"~dbg00000000.tmp";
  for (std::size_t i = 4; i < 12; ++i) {
    name[i] = digits[random() % 16];
  }
  return name;
}

// A security descriptor that the system allocated, freed with LocalFree.
using security_descriptor = std::unique_ptr<void, decltype(&::LocalFree)>;

// The replaced file's access list, so that its replacement is readable by
// no one who could not read it.
std::optional<security_descriptor> access_list_of(HANDLE file) {
  const unique_handle readable = reopen(file, READ_CONTROL);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!readable || ::GetSecurityInfo(readable.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                     nullptr, nullptr, nullptr, nullptr, &descriptor) != 0) {
    return std::nullopt;
  }
  return security_descriptor(descriptor, &::LocalFree);
}

// Creates a new file in `folder` with the access list and the attributes of
// the file it is to replace.
unique_handle create_temporary(const std::wstring& folder, HANDLE replaced,
                               std::wstring& temp_path) {
  const std::optional<security_descriptor> access = access_list_of(replaced);
  const std::optional<file_identity> identity = identify(replaced);
  if (!access || !identity) {
    return nullptr;
  }
  SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), access->get(), FALSE};
  constexpr DWORD kept_attributes =
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  const DWORD attributes = (identity->attributes & kept_attributes) | FILE_ATTRIBUTE_NORMAL;
  std::mt19937 random(std::random_device{}());
  for (int attempt = 0; attempt < max_temp_name_tries; ++attempt) {
    temp_path = folder + temporary_name(random);
    unique_handle file =
        adopt(::CreateFileW(temp_path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, &security,
                            CREATE_NEW, attributes, nullptr));
    if (file || ::GetLastError() != ERROR_FILE_EXISTS) {
      return file;
    }
  }
  return nullptr;
}

// What a Ctrl-C, a Ctrl-Break or the closing of the console window must
// remove before the process ends: the temporary file, and an output that
// this run created. Guarded, as the console's handler runs on a thread of
// its own.
std::mutex interrupt_guard;
HANDLE unfinished_temporary = nullptr;
HANDLE unfinished_creation = nullptr;

// The console's code page belongs to the console, not to this process: it
// is given back on every way out, so that the next program in the window
// shows text as before.
UINT console_code_page_before = 0;

void restore_console_code_page() {
  if (console_code_page_before != 0) {
    ::SetConsoleOutputCP(console_code_page_before);
  }
}

BOOL WINAPI on_console_interrupt(DWORD /*event*/) {
  // Never released: a commit that waits for it must not go on.
  interrupt_guard.lock();
  for (const HANDLE file : {unfinished_temporary, unfinished_creation}) {
    if (file != nullptr) {
      remove_on_close(file);
    }
  }
  restore_console_code_page();
  // The status the system gives a process ended by Ctrl-C.
  ::ExitProcess(STATUS_CONTROL_C_EXIT);
}

bool is_console(DWORD which) {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(which), &mode) != 0;
}

}  // namespace

void prepare_console() {
  // Names outside ASCII are printed as UTF-8 and shown as such; the lines
  // end in a bare LF, as on every other platform.
  console_code_page_before = ::GetConsoleOutputCP();
  if (console_code_page_before != 0) {
    std::atexit(restore_console_code_page);
  }
  ::SetConsoleOutputCP(CP_UTF8);
  std::fflush(stdout);
  ::_setmode(::_fileno(stdout), _O_BINARY);
  // A drive without a medium is a failed open, not a dialog box.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  ::SetConsoleCtrlHandler(on_console_interrupt, TRUE);
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

namespace {

// Everything an open output holds; the helpers below work on it.
struct output_state {
  unique_handle file;       // where the table goes
  unique_handle target;     // the output as opened, held until it is replaced
  unique_handle removable;  // the output with the DELETE right, when it has it
  file_identity target_identity;
  std::wstring target_path;  // the output's final name, when it is to be replaced
  std::wstring temp_path;    // empty when writing in place
  bool created = false;      // the output did not exist before this run
  bool failed = false;
  bool committed = false;
};

}  // namespace

struct output_file::state : output_state {};

namespace {

// Writes in place from the start, as a plain open for writing would.
bool truncate_in_place(output_state& out) {
  const LARGE_INTEGER start{};
  if (::SetFilePointerEx(out.target.get(), start, nullptr, FILE_BEGIN) == 0 ||
      ::SetEndOfFile(out.target.get()) == 0) {
    return false;
  }
  out.file = std::move(out.target);
  return true;
}

// The table goes to a temporary file beside the output when one can be made
// there and the output may be renamed over; otherwise in place. Decided
// before anything is converted.
bool prepare_replacement(output_state& out) {
  out.removable = reopen(out.target.get(), DELETE);
  const std::optional<file_identity> identity = identify(out.target.get());
  out.target_path = final_path(out.target.get());
  const std::size_t folder_end = out.target_path.rfind(L'\\');
  if (!identity || folder_end == std::wstring::npos) {
    out.target_path.clear();
    return truncate_in_place(out);
  }
  out.target_identity = *identity;
  if (out.removable) {
    out.file = create_temporary(out.target_path.substr(0, folder_end + 1), out.target.get(),
                                out.temp_path);
  }
  if (!out.file) {
    out.temp_path.clear();
    return truncate_in_place(out);
  }
  return true;
}

// Removes what a failed run leaves: the temporary file, and the output when
// this run created it. Called with interrupt_guard held.
void discard(output_state& out) {
  unfinished_temporary = nullptr;
  unfinished_creation = nullptr;
  if (!out.temp_path.empty()) {
    if (out.file) {
      remove_on_close(out.file.get());
      out.file.reset();
    } else {
      ::DeleteFileW(out.temp_path.c_str());  // closed, and not moved into place
    }
    out.temp_path.clear();
  }
  if (out.created) {
    if (out.removable) {
      remove_on_close(out.removable.get());
    } else if (!out.target_path.empty() && still_names(out.target_path, out.target_identity)) {
      ::DeleteFileW(out.target_path.c_str());
    }
    out.created = false;
  }
}

// Closes the table's file and, for a replacement, renames it over the
// output, but only while the output's name still reaches the file opened at
// the start. Our own handles to the output go first: a file that is open
// cannot be renamed over.
bool finish(output_state& out) {
  const bool closed = ::CloseHandle(out.file.release()) != 0;
  if (out.temp_path.empty() || !closed) {
    return closed;
  }
  if (!still_names(out.target_path, out.target_identity)) {
    return false;
  }
  out.target.reset();
  out.removable.reset();
  return ::MoveFileExW(out.temp_path.c_str(), out.target_path.c_str(), MOVEFILE_REPLACE_EXISTING) !=
         0;
}

}  // namespace

output_file::output_file() = default;

output_file::~output_file() {
  if (!state_) {
    return;
  }
  const std::lock_guard lock(interrupt_guard);
  if (!state_->committed) {
    discard(*state_);
  }
}

bool output_file::open(const std::string& path) {
  state_ = std::make_unique<state>();
  output_state& out = *state_;
  const std::wstring wide = widen(path);
  // The output is opened as given first, as a plain open for writing would,
  // which refuses a read-only file, a folder or a file locked by another
  // program; only then is it replaced, and only the very file opened here.
  out.target = wide.empty() ? nullptr
                            : adopt(::CreateFileW(wide.c_str(), GENERIC_WRITE, share_all, nullptr,
                                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out.target) {
    return false;
  }
  const bool created = ::GetLastError() != ERROR_ALREADY_EXISTS;
  // Messages printed so far come before anything written to the console or
  // to standard output itself.
  std::fflush(stdout);
  if (std::optional<unique_handle> stream = own_stream(out.target.get())) {
    out.file = std::move(*stream);
    return true;
  }
  if (::GetFileType(out.target.get()) != FILE_TYPE_DISK) {
    // A device (NUL, the console) or a pipe: written as it is.
    out.file = std::move(out.target);
    return true;
  }
  // Windows refuses to write a read-only file even to an administrator;
  // wine, run by root, would not.
  const std::optional<file_identity> identity = identify(out.target.get());
  if (identity && (identity->attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return false;
  }
  const std::lock_guard lock(interrupt_guard);
  out.created = created;
  if (!prepare_replacement(out)) {
    discard(out);
    return false;
  }
  unfinished_temporary = out.temp_path.empty() ? nullptr : out.file.get();
  unfinished_creation = out.created ? out.removable.get() : nullptr;
  return true;
}

bool output_file::write(std::span<const unsigned char> bytes) {
  if (!state_->failed && !write_all(state_->file.get(), bytes)) {
    state_->failed = true;
  }
  return !state_->failed;
}

bool output_file::commit() {
  output_state& out = *state_;
  const std::lock_guard lock(interrupt_guard);
  if (out.failed || !finish(out)) {
    discard(out);
    return false;
  }
  unfinished_temporary = nullptr;
  unfinished_creation = nullptr;
  out.committed = true;
  return true;
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
