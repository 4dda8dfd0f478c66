#include "win32_support.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace dbgparse::platform::windows {
namespace {

constexpr std::size_t max_final_path = 32768;

// As Windows 10's headers define them; older headers lack them.
constexpr DWORD rename_flag_replace_if_exists = 0x1;
constexpr DWORD rename_flag_posix_semantics = 0x2;
constexpr auto file_rename_info_ex = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
constexpr auto file_id_info_class = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);

// FILE_ID_INFO, which older headers lack.
struct file_id_info {
  std::uint64_t volume;
  std::array<unsigned char, 16> id;
};

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

}  // namespace

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

unique_handle open_existing(const std::wstring& path, DWORD access) {
  return adopt(::CreateFileW(path.c_str(), access, share_all, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
}

unique_handle reopen(HANDLE file, DWORD access) {
  return adopt(::ReOpenFile(file, access, share_all, 0));
}

std::optional<file_identity> identify(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (file == nullptr || ::GetFileInformationByHandle(file, &information) == 0) {
    return std::nullopt;
  }
  file_identity identity;
  identity.attributes = information.dwFileAttributes;
  file_id_info id{};
  if (::GetFileInformationByHandleEx(file, file_id_info_class, &id, sizeof(id)) != 0) {
    identity.volume = id.volume;
    identity.id = id.id;
  } else {
    identity.volume = information.dwVolumeSerialNumber;
    const std::uint64_t index =
        (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
    std::memcpy(identity.id.data(), &index, sizeof(index));
  }
  return identity;
}

bool still_names(const std::wstring& path, const file_identity& expected) {
  const unique_handle now =
      adopt(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  const std::optional<file_identity> found = identify(now.get());
  return found && *found == expected;
}

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

bool remove_on_close(HANDLE file, bool remove) {
  FILE_DISPOSITION_INFO disposition{static_cast<BOOLEAN>(remove)};
  return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof(disposition)) != 0;
}

bool rename_open_file(HANDLE file, const std::wstring& path, rename_semantics semantics) {
  // The system takes the name as it stands, in the native form: \??\ for
  // the \\?\ that final paths begin with.
  const std::wstring_view win32_prefix = L"\\\\?\\";
  if (!path.starts_with(win32_prefix)) {
    return false;
  }
  const std::wstring native = L"\\??\\" + path.substr(win32_prefix.size());
  const std::size_t name_bytes = native.size() * sizeof(wchar_t);
  const std::size_t size = offsetof(FILE_RENAME_INFO, FileName) + name_bytes + sizeof(wchar_t);
  // Storage aligned as the structure's handle member needs.
  std::vector<std::uint64_t> storage((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
  auto* const rename = reinterpret_cast<FILE_RENAME_INFO*>(storage.data());
  // The flags of the extended form share their place with ReplaceIfExists.
  const DWORD flags = semantics == rename_semantics::posix
                          ? rename_flag_replace_if_exists | rename_flag_posix_semantics
                          : rename_flag_replace_if_exists;
  std::memcpy(storage.data(), &flags, sizeof(flags));
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(name_bytes);
  std::copy(native.begin(), native.end(), rename->FileName);
  const FILE_INFO_BY_HANDLE_CLASS kind =
      semantics == rename_semantics::posix ? file_rename_info_ex : FileRenameInfo;
  return ::SetFileInformationByHandle(file, kind, rename, static_cast<DWORD>(size)) != 0;
}

bool names_the_console(const std::wstring& path) {
  // The system's full name for a device name is \\.\NAME, whatever the
  // path around it (C:\x\con on the systems that still read it so).
  const DWORD length = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (length == 0) {
    return false;
  }
  std::wstring full(length, L'\0');
  const DWORD written = ::GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
  if (written == 0 || written >= length) {
    return false;
  }
  full.resize(written);
  const std::wstring_view device_prefix = L"\\\\.\\";
  if (!full.starts_with(device_prefix)) {
    return false;
  }
  const std::wstring_view device = std::wstring_view(full).substr(device_prefix.size());
  return std::ranges::any_of(std::array<std::wstring_view, 3>{L"CON", L"CONIN$", L"CONOUT$"},
                             [device](std::wstring_view console) {
                               return ::CompareStringOrdinal(
                                          device.data(), static_cast<int>(device.size()),
                                          console.data(), static_cast<int>(console.size()),
                                          TRUE) == CSTR_EQUAL;
                             });
}

}  // namespace dbgparse::platform::windows
