// The output file. The path is first opened as given, as a plain open for
// writing would open it, so the system alone judges read-only files,
// folders and files locked by other programs. What that open reached is
// then written:
// - the file our own standard output or error goes to: not at all;
// - a device (NUL, the console) or a pipe: as it is;
// - a file on disk: through a temporary file beside it that takes its place
//   only when complete, or in place where none can be made or renamed over
//   (in_place_write.h).
// First: the other Windows headers need what <windows.h> defines.
#include "win32_support.h"

#include <aclapi.h>
#include <winioctl.h>

#include <cstdio>
#include <random>
#include <string_view>
#include <utility>

#include "console_events.h"
#include "in_place_write.h"
#include "output_record.h"
#include "own_stream.h"
#include "platform.h"

namespace dbgparse::platform {
namespace {

using windows::file_identity;
using windows::identify;
using windows::remove_on_close;
using windows::reopen;
using windows::unique_handle;

constexpr int max_temp_name_tries = 100;

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

// What else of the replaced file its replacement keeps, where the system
// lets it: compression, and the owner (which only a user with the restore
// privilege may give away). Failing that, the file is as a new one would be.
void keep_compression_and_owner(HANDLE temp, HANDLE replaced, DWORD replaced_attributes) {
  if ((replaced_attributes & FILE_ATTRIBUTE_COMPRESSED) != 0) {
    USHORT format = COMPRESSION_FORMAT_DEFAULT;
    DWORD returned = 0;
    ::DeviceIoControl(temp, FSCTL_SET_COMPRESSION, &format, sizeof(format), nullptr, 0, &returned,
                      nullptr);
  }
  const unique_handle readable = reopen(replaced, READ_CONTROL);
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (readable && ::GetSecurityInfo(readable.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                    &owner, nullptr, nullptr, nullptr, &descriptor) == 0) {
    const security_descriptor held(descriptor, &::LocalFree);
    const unique_handle ownable = reopen(temp, WRITE_OWNER);
    if (ownable) {
      ::SetSecurityInfo(ownable.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, owner, nullptr,
                        nullptr, nullptr);
    }
  }
}

// How the file system here renames: tried on the fresh temporary file,
// which is renamed with POSIX semantics to another free name beside it.
windows::rename_semantics renaming_in(const std::wstring& folder, HANDLE temp,
                                      std::wstring& temp_path, std::mt19937& random) {
  const std::wstring other = windows::final_path(temp);
  const std::size_t folder_end = other.rfind(L'\\');
  if (folder_end == std::wstring::npos) {
    return windows::rename_semantics::windows;
  }
  const std::wstring probe = other.substr(0, folder_end + 1) + temporary_name(random);
  if (!windows::rename_open_file(temp, probe, windows::rename_semantics::posix)) {
    return windows::rename_semantics::windows;
  }
  temp_path = folder + probe.substr(folder_end + 1);
  return windows::rename_semantics::posix;
}

// Creates a new file in `folder` with the access list and the attributes of
// the file it is to replace, and finds how it can be renamed over it.
unique_handle create_temporary(const std::wstring& folder, HANDLE replaced, std::wstring& temp_path,
                               windows::rename_semantics& semantics) {
  const std::optional<security_descriptor> access = access_list_of(replaced);
  const std::optional<file_identity> identity = identify(replaced);
  if (!access || !identity) {
    return nullptr;
  }
  SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), access->get(), FALSE};
  // Encryption is asked for at creation, as only a new file can be given it.
  constexpr DWORD kept_attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_ENCRYPTED;
  const DWORD attributes = (identity->attributes & kept_attributes) | FILE_ATTRIBUTE_NORMAL;
  std::mt19937 random(std::random_device{}());
  for (int attempt = 0; attempt < max_temp_name_tries; ++attempt) {
    temp_path = folder + temporary_name(random);
    unique_handle file =
        windows::adopt(::CreateFileW(temp_path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                     FILE_SHARE_READ, &security, CREATE_NEW, attributes, nullptr));
    if (file) {
      keep_compression_and_owner(file.get(), replaced, identity->attributes);
      semantics = renaming_in(folder, file.get(), temp_path, random);
      // Removed by the system however the process ends, a hard kill
      // included, unless the mark is taken off as it takes its place.
      remove_on_close(file.get());
      return file;
    }
    if (::GetLastError() != ERROR_FILE_EXISTS) {
      return nullptr;
    }
  }
  return nullptr;
}

// Everything an open output holds; the helpers below work on it.
struct output_state : output_record {
  unique_handle file;       // where the table goes
  unique_handle target;     // the output as opened, held until it is replaced
  unique_handle removable;  // the output with the DELETE right, when it has it
  file_identity target_identity;
  std::wstring target_path;  // the output's final name, when it is to be replaced
  std::wstring temp_path;    // empty when writing in place
  windows::rename_semantics renaming = windows::rename_semantics::windows;
  bool created = false;  // the output did not exist before this run
};

// Writes the output in place: a file this run created as it comes, an
// existing one only once the table is complete, nothing of it touched before.
bool go_in_place(output_state& out) {
  out.file = std::move(out.target);
  out.in_place = !out.created;
  return true;
}

// Whether the path names an alternate data stream of a file (t.qb:extra):
// its last name holds a colon other than a drive's. A stream shares its
// file's name and ID, so a temporary file renamed into its place would
// replace the whole file; it is written in place instead.
bool names_a_stream(const std::wstring& path) {
  const std::size_t folder_end = path.find_last_of(L"\\/");
  std::wstring_view name(path);
  if (folder_end != std::wstring::npos) {
    name.remove_prefix(folder_end + 1);
  } else if (name.size() >= 2 && name[1] == L':') {
    name.remove_prefix(2);  // a drive's own folder: C:t.qb
  }
  return name.find(L':') != std::wstring_view::npos;
}

// Whether another program has the file open for reading, as viewers,
// editors and scanners do: the probe lets no one else read it, and none of
// our own handles to it may read.
bool held_by_another(HANDLE target) {
  const unique_handle probe =
      windows::adopt(::ReOpenFile(target, FILE_READ_DATA, FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0));
  return !probe && ::GetLastError() == ERROR_SHARING_VIOLATION;
}

// A rename refused because some program has the output open for a moment
// (a virus scanner, the search indexer) is tried again a few times.
constexpr int rename_tries = 10;
constexpr DWORD rename_retry_milliseconds = 50;

bool rename_with_retries(output_state& out) {
  for (int attempt = 1;; ++attempt) {
    if (windows::rename_open_file(out.file.get(), out.target_path, out.renaming)) {
      return true;
    }
    const DWORD error = ::GetLastError();
    if (attempt == rename_tries ||
        (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)) {
      return false;
    }
    ::Sleep(rename_retry_milliseconds);
  }
}

// The table goes to a temporary file beside the output when one can be made
// there and the output may be renamed over (by POSIX semantics when another
// program holds it open); otherwise in place. Decided before anything is
// converted.
bool prepare_replacement(output_state& out, const std::wstring& path) {
  out.removable = reopen(out.target.get(), DELETE);
  if (out.created && out.removable) {
    // Removed however the process ends, until it holds the table.
    remove_on_close(out.removable.get());
  }
  if (names_a_stream(path)) {
    return go_in_place(out);
  }
  const std::optional<file_identity> identity = identify(out.target.get());
  out.target_path = windows::final_path(out.target.get());
  const std::size_t folder_end = out.target_path.rfind(L'\\');
  if (!identity || folder_end == std::wstring::npos) {
    out.target_path.clear();
    return go_in_place(out);
  }
  out.target_identity = *identity;
  if (out.removable) {
    out.file = create_temporary(out.target_path.substr(0, folder_end + 1), out.target.get(),
                                out.temp_path, out.renaming);
  }
  if (out.file && out.renaming == windows::rename_semantics::windows &&
      held_by_another(out.target.get())) {
    out.file.reset();  // marked for removal: gone with its handle
  }
  if (!out.file) {
    out.temp_path.clear();
    return go_in_place(out);
  }
  return true;
}

// Removes what a failed run leaves: the temporary file, and the output when
// this run created it. Called with console events held.
void discard(output_state& out) {
  windows::keep_on_console_event();
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
    } else if (!out.target_path.empty() &&
               windows::still_names(out.target_path, out.target_identity)) {
      ::DeleteFileW(out.target_path.c_str());
    }
    out.created = false;
  }
}

// Closes the table's file and, for a replacement, gives it the output's
// name, but only while that name still reaches the file opened at the
// start. The marks that would remove our files come off only now. Our own
// handles to the output go first: a file that is open cannot be renamed over.
bool finish(output_state& out) {
  // A new output marked for removal could not be opened by its name.
  if (out.created && out.removable && !remove_on_close(out.removable.get(), false)) {
    return out.fail();
  }
  if (out.temp_path.empty()) {
    if (out.in_place &&
        !windows::write_held_table(out, out.file.get(), out.target_path, out.target_identity)) {
      return false;
    }
    return ::CloseHandle(out.file.release()) != 0 || out.fail();
  }
  if (!windows::still_names(out.target_path, out.target_identity)) {
    return out.fail(output_failures::name_moved);
  }
  // An existing output is replaced only by a table already on the disk, so
  // that after a crash or a power loss its name holds the old table or the
  // new one, never an empty or short file.
  if (!out.created && ::FlushFileBuffers(out.file.get()) == 0) {
    return out.fail();
  }
  out.target.reset();
  out.removable.reset();
  if (!remove_on_close(out.file.get(), false) || !rename_with_retries(out)) {
    return out.fail();
  }
  out.temp_path.clear();  // now the output's own name
  return ::CloseHandle(out.file.release()) != 0 || out.fail();
}

}  // namespace

struct output_file::state : output_state {};

output_file::output_file() = default;

output_file::~output_file() {
  if (!state_) {
    return;
  }
  const std::unique_lock events = windows::hold_console_events();
  if (!state_->committed) {
    discard(*state_);
  }
}

bool output_file::open(const std::string& path) {
  state_ = std::make_unique<state>();
  output_state& out = *state_;
  const std::wstring wide = windows::widen(path);
  // The output is opened as given first, as a plain open for writing would,
  // which refuses a read-only file, a folder or a file locked by another
  // program; only then is it replaced, and only the very file opened here.
  out.target =
      wide.empty()
          ? nullptr
          : windows::adopt(::CreateFileW(wide.c_str(), GENERIC_WRITE, windows::share_all, nullptr,
                                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  const DWORD open_error = wide.empty() ? ERROR_PATH_NOT_FOUND : ::GetLastError();
  // Messages printed so far come before anything written to the console.
  std::fflush(stdout);
  if (windows::is_own_stream(out.target.get(), open_error, wide)) {
    out.target.reset();
    return out.fail(output_failures::own_stream);
  }
  if (!out.target) {
    ::SetLastError(open_error);
    return out.fail();
  }
  const bool created = open_error != ERROR_ALREADY_EXISTS;
  if (::GetFileType(out.target.get()) != FILE_TYPE_DISK) {
    // A device (NUL, the console) or a pipe: written as it is.
    out.file = std::move(out.target);
    return true;
  }
  // Windows refuses to write a read-only file even to an administrator;
  // wine, run by root, would not.
  const std::optional<file_identity> identity = identify(out.target.get());
  if (identity && (identity->attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return out.fail("it is marked read-only");
  }
  const std::unique_lock events = windows::hold_console_events();
  out.created = created;
  if (!prepare_replacement(out, wide)) {
    out.fail();
    discard(out);
    return false;
  }
  windows::remove_on_console_event(out.temp_path.empty() ? nullptr : out.file.get(),
                                   out.created ? out.removable.get() : nullptr);
  return true;
}

bool output_file::write(std::span<const unsigned char> bytes) {
  output_state& out = *state_;
  if (out.failed || out.in_place) {
    return out.hold(bytes);
  }
  return windows::write_all(out.file.get(), bytes) || out.fail();
}

bool output_file::commit() {
  output_state& out = *state_;
  const std::unique_lock events = windows::hold_console_events();
  if (out.failed || !finish(out)) {
    discard(out);
    return false;
  }
  windows::keep_on_console_event();
  out.committed = true;
  return true;
}

const output_failure& output_file::failure() const { return state_->failure; }

}  // namespace dbgparse::platform
