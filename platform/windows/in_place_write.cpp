// First: the other Windows headers need what <windows.h> defines.
#include "win32_support.h"

#include "in_place_write.h"

namespace dbgparse::platform::windows {
namespace {

// Whether an error says that the file system (or the system under it, as
// wine, which answers ERROR_CALL_NOT_IMPLEMENTED) has no such feature,
// rather than that it refused this file: Linux's EOPNOTSUPP.
bool unsupported(DWORD error) {
  return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
         error == ERROR_INVALID_PARAMETER || error == ERROR_CALL_NOT_IMPLEMENTED;
}

// Reserves the space for `length` bytes beyond what the file holds, its end
// and contents unchanged. A file system that cannot is written all the same.
bool reserve(HANDLE file, std::size_t length) {
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(file, &size) == 0) {
    return false;
  }
  if (length <= static_cast<unsigned long long>(size.QuadPart)) {
    return true;  // the file's own clusters suffice
  }
  FILE_ALLOCATION_INFO allocation{};
  allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(length);
  return ::SetFileInformationByHandle(file, FileAllocationInfo, &allocation, sizeof allocation) !=
             0 ||
         unsupported(::GetLastError());
}

}  // namespace

bool write_held_table(output_record& out, HANDLE file, const std::wstring& path,
                      const file_identity& identity) {
  OVERLAPPED whole{};
  const bool locked =
      ::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) != 0;
  if (!locked && !unsupported(::GetLastError())) {
    return out.fail();
  }
  // Another run may have held the lock while the name went elsewhere.
  bool written = path.empty() || still_names(path, identity);
  if (!written) {
    out.fail(output_failures::name_moved);
  } else if (!reserve(file, out.table.size())) {
    written = out.fail(output_failures::no_room(failure_reason()));
  } else {
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(out.table.size());
    const LARGE_INTEGER start{};
    // From the write on, a failure (an I/O error, the process ended) can
    // leave part of it.
    written =
        (::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != 0 && write_all(file, out.table) &&
         ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN) != 0 && ::SetEndOfFile(file) != 0) ||
        out.fail();
  }
  if (locked) {
    OVERLAPPED again{};
    ::UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &again);
  }
  return written;
}

}  // namespace dbgparse::platform::windows
