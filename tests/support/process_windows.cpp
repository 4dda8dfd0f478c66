// Windows version of the child-process runner: CreateProcessW with the
// standard streams redirected to files, arguments quoted the way the child's
// command-line parser splits them again.
#include <windows.h>

#include <climits>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>

#include "child_process.h"

namespace test_support {
namespace {

struct handle_closer {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using unique_handle = std::unique_ptr<void, handle_closer>;

std::wstring widen(const std::string& text) {
  if (text.empty() || text.size() > INT_MAX) {
    return {};
  }
  const int length = static_cast<int>(text.size());
  const int count = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(count), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), count);
  return wide;
}

// Quotes one argument so that CommandLineToArgvW and the C runtime give it
// back unchanged: backslashes count only in front of a quote.
std::wstring quote(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    quoted.push_back(c);
    backslashes = 0;
  }
  quoted.append(backslashes * 2, L'\\');
  quoted.push_back(L'"');
  return quoted;
}

std::filesystem::path scratch_file(const char* role) {
  return std::filesystem::temp_directory_path() /
         ("dbgparse_test_" + std::to_string(::GetCurrentProcessId()) + "_" + role);
}

unique_handle open_inheritable(const std::filesystem::path& path, DWORD access, DWORD share,
                               DWORD creation) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE handle = ::CreateFileW(path.wstring().c_str(), access, share, &inherit, creation,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    throw std::runtime_error("cannot set up the child's standard streams");
  }
  return unique_handle(handle);
}

// Starts the child and waits for it; returns its exit code.
DWORD run_child(std::wstring command_line, const std::filesystem::path& working_directory,
                HANDLE input, HANDLE output, HANDLE error) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = error;
  PROCESS_INFORMATION child{};
  const std::wstring folder = working_directory.wstring();
  // Wine now and then refuses a start while its server is busy with another
  // process; a few tries, a moment apart, tell that from a program that
  // cannot start.
  for (int tries = 1;; ++tries) {
    if (::CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                         folder.empty() ? nullptr : folder.c_str(), &startup, &child) != 0) {
      break;
    }
    if (tries == 3) {
      throw std::runtime_error("cannot start the program (error " +
                               std::to_string(::GetLastError()) + ")");
    }
    ::Sleep(500);
  }
  const unique_handle process(child.hProcess);
  const unique_handle thread(child.hThread);
  ::WaitForSingleObject(child.hProcess, INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(child.hProcess, &code);
  return code;
}

}  // namespace

run_result run_program(const std::filesystem::path& program, const run_options& options) {
  if (options.file_size_limit) {
    throw std::invalid_argument("a file size limit cannot be set on Windows");
  }
  const std::filesystem::path input_path = scratch_file("stdin");
  const std::filesystem::path output_path = scratch_file("stdout");
  const std::filesystem::path error_path = scratch_file("stderr");
  std::ofstream(input_path, std::ios::binary) << options.standard_input;

  std::wstring command_line = quote(std::filesystem::absolute(program).wstring());
  for (const std::string& argument : options.arguments) {
    command_line += L' ' + quote(widen(argument));
  }

  run_result result;
  {
    const unique_handle input = open_inheritable(input_path, GENERIC_READ,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    // As cmd.exe opens a file for `>`: others may read it, not write it.
    const unique_handle output =
        open_inheritable(output_path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
    const unique_handle error =
        options.error_apart
            ? open_inheritable(error_path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS)
            : nullptr;
    // Windows exit codes are 32 bits wide: -1 arrives with all of them set.
    result.exit_status =
        static_cast<int>(run_child(command_line, options.working_directory, input.get(),
                                   output.get(), error ? error.get() : output.get()));
  }
  if (options.error_apart) {
    std::ifstream error(error_path, std::ios::binary);
    result.error.assign(std::istreambuf_iterator<char>(error), std::istreambuf_iterator<char>());
    error.close();
    std::filesystem::remove(error_path);
  }
  std::ifstream captured(output_path, std::ios::binary);
  result.output.assign(std::istreambuf_iterator<char>(captured), std::istreambuf_iterator<char>());
  captured.close();
  std::filesystem::remove(input_path);
  std::filesystem::remove(output_path);
  return result;
}

}  // namespace test_support
