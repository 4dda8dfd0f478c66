// Small helpers around Win32 handles, names and files that the Windows side's
// files share: UTF-8 at the interface, UTF-16 underneath.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace dbgparse::platform::windows {

// ReadFile and WriteFile take a 32-bit count; large files go in pieces.
inline constexpr DWORD max_io_chunk = DWORD{1} << 30;

inline constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

struct handle_closer {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using unique_handle = std::unique_ptr<void, handle_closer>;

inline unique_handle adopt(HANDLE handle) {
  return unique_handle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

// UTF-8 to UTF-16. Bytes that are no valid UTF-8 (a name piped in by a
// program that writes the ANSI code page) are read in that code page.
// Empty for an empty or absurdly long text, which no file has as its name.
std::wstring widen(const std::string& text);
std::string narrow(const std::wstring& wide);

bool write_all(HANDLE file, std::span<const unsigned char> bytes);

unique_handle open_existing(const std::wstring& path, DWORD access);

// Another handle to the same file with other rights, or null where they are
// refused (by the file's permissions, or by another program's share mode).
unique_handle reopen(HANDLE file, DWORD access);

// Which file a handle reaches, whatever name it was opened by: the volume
// and the 128-bit file ID where the system gives one (Windows 8 and later;
// on ReFS the 64-bit file index is not unique), else the 64-bit index.
struct file_identity {
  std::uint64_t volume = 0;
  std::array<unsigned char, 16> id{};
  DWORD attributes = 0;
  bool operator==(const file_identity& other) const {
    return volume == other.volume && id == other.id;
  }
};

std::optional<file_identity> identify(HANDLE file);

// True when `path` still names the file `expected`, not a link or another
// file planted there since it was opened.
bool still_names(const std::wstring& path, const file_identity& expected);

// The full name of the file a handle reaches (links and short names
// resolved), in the \\?\ form that no MAX_PATH limits.
std::wstring final_path(HANDLE file);

// Marks an open file to be removed when its last handle closes, however the
// process ends, or takes that mark off again (`remove` false); the handle
// needs the DELETE right. False when the system refused.
bool remove_on_close(HANDLE file, bool remove = true);

// Gives the open file `file` the name `path` (a final path, \\?\ form),
// replacing the file of that name. The handle needs the DELETE right. With
// POSIX semantics (Windows 10 1809 and later, on NTFS) the file replaced may
// be open in another program that lets it be deleted; without, it may not
// be open at all.
enum class rename_semantics { windows, posix };
bool rename_open_file(HANDLE file, const std::wstring& path, rename_semantics semantics);

// Whether `path` names the console (CON, CONIN$, CONOUT$, in any case and
// in any form the system reads as one of them, such as \\.\CON), which is
// no file on any disk: where the process has no console it cannot be
// opened, yet it is there, as a closed /dev/stdin is elsewhere.
bool names_the_console(const std::wstring& path);

}  // namespace dbgparse::platform::windows
