// Process-level tests of what depends on the platform: file names outside
// ASCII on every platform, and on Windows the cases that POSIX tests by means
// Windows lacks (a read-only file, a device, a file held open by another
// program, names that differ only in case or separators).
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "program_fixture.h"

#ifdef _WIN32
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>
#endif

namespace {

namespace fs = std::filesystem;
using test_support::banner;
using test_support::bytes_of;
using test_support::failure_status;
using test_support::golden;
using test_support::read_file;
using test_support::run_result;
using test_support::write_file;

class platform_program : public test_support::program_fixture {
#ifdef _WIN32
 protected:
  // Converts names.dbg into out.qb, which holds `older` and which another
  // program holds open for reading, sharing it as `share` lets others.
  run_result run_with_output_held(const std::string& older, DWORD share) {
    write_file(path(u8"out.qb"), older);
    const HANDLE holder = ::CreateFileW(path(u8"out.qb").c_str(), GENERIC_READ, share, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(holder, INVALID_HANDLE_VALUE) << "the output could not be held";
    const run_result result = run({"names.dbg", "out.qb"});
    ::CloseHandle(holder);
    return result;
  }
#endif
};

struct name_case {
  std::string script;
  std::u8string input;
  std::u8string output;
};

const name_case non_ascii_names[] = {
    {"Cyrillic", u8"контрольные суммы.dbg", u8"таблица.qb"},
    {"Japanese", u8"チェックサム.dbg", u8"表.qb"},
    {"Latin with accents", u8"sommes de contrôle é.dbg", u8"tâble.qb"},
};

TEST_F(platform_program, converts_files_named_outside_ascii) {
  for (const name_case& n : non_ascii_names) {
    const std::string input = bytes_of(n.input);
    const std::string output = bytes_of(n.output);
    struct mode {
      std::string name;
      std::vector<std::string> arguments;
      std::string standard_input;
      std::string written;
    };
    const mode modes[] = {
        {"one argument", {input}, "", input + ".qb"},
        {"two arguments", {input, output}, "", output},
        // Typed names end at white space, so the answers here have none.
        {"answers to the questions", {}, output + "\n" + output + "\n", output},
    };
    for (const mode& m : modes) {
      fs::remove_all(folder_);
      fs::create_directories(folder_);
      const std::string source = m.arguments.empty() ? output : input;
      write_file(folder_ / fs::path(std::u8string(source.begin(), source.end())),
                 golden("sample.dbg"));
      const run_result result = run(m.arguments, m.standard_input);
      const std::string label = n.script + ", " + m.name;
      EXPECT_EQ(result.exit_status, 0) << label << ": " << result.output;
      EXPECT_EQ(result.output.substr(0, banner.size()), banner) << label;
      EXPECT_TRUE(result.output.ends_with("Finished!\n")) << label << ": " << result.output;
      EXPECT_EQ(read_file(folder_ / fs::path(std::u8string(m.written.begin(), m.written.end()))),
                golden("sample.qb"))
          << label;
      EXPECT_EQ(files(), (std::set<std::string>{source, m.written})) << label;
    }
  }
}

// Explorer's "Copy as path" and a file dragged into the console window give
// a path in double quotes, which no Windows file name holds; POSIX keeps
// them, as they may be part of a name there.
TEST_F(platform_program, takes_typed_paths_in_double_quotes) {
  struct answer {
    std::string typed;
    std::string input;
    std::string output;
  };
#ifdef _WIN32
  const answer answers[] = {
      {"\"my names.dbg\" \"my table.qb\"\n", "my names.dbg", "my table.qb"},
      {"\"names.dbg\"\r\n  \"table.qb\" left over\r\n", "names.dbg", "table.qb"},
      {"names.dbg \"a table.qb", "names.dbg", "a table.qb"},
  };
#else
  const answer answers[] = {{"\"names.dbg\" table\"s.qb\n", "\"names.dbg\"", "table\"s.qb"}};
#endif
  for (const answer& a : answers) {
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    write_file(folder_ / a.input, golden("sample.dbg"));
    const run_result result = run({}, a.typed);
    EXPECT_EQ(result.output,
              banner + "Enter the filename: \nEnter the file to save as: \nFinished!\n")
        << a.typed;
    EXPECT_EQ(read_file(folder_ / a.output), golden("sample.qb")) << a.typed;
  }
}

TEST_F(platform_program, names_a_missing_file_outside_ascii_in_utf8) {
  for (const name_case& n : non_ascii_names) {
    const std::string input = bytes_of(n.input);
    const run_result result = run_apart({input});
    EXPECT_EQ(result.output,
              banner + "Error checking size of " + input + " are you sure it exists?\n")
        << n.script;
    EXPECT_TRUE(test_support::says_why(result.error, input, "No such file or directory"))
        << n.script;
    EXPECT_EQ(result.exit_status, failure_status) << n.script;
    EXPECT_TRUE(files().empty()) << n.script;
  }
}

// Past 2 GiB a 32-bit file size no longer holds; the file is sparse, so the
// test costs memory but hardly any disk.
TEST_F(platform_program, converts_an_input_of_more_than_2_gib) {
  const std::string head = "[Checksums]\r\n0x0000002A near\r\n";
  const std::string tail = "0xDEADBEEF far\r\n";
  constexpr std::uint64_t tail_offset = (std::uint64_t{1} << 31) + 5;
  write_file(path(u8"short.dbg"), head + tail);
  ASSERT_EQ(run({"short.dbg"}).exit_status, 0);
  {
    std::ofstream big(path(u8"big.dbg"), std::ios::binary);
    big << head;
    big.seekp(static_cast<std::streamoff>(tail_offset));
    big << tail;
  }
  ASSERT_EQ(fs::file_size(path(u8"big.dbg")), tail_offset + tail.size());
  const run_result result = run({"big.dbg"});
  if (sizeof(void*) < 8 && result.exit_status != 0) {
    // A 32-bit program may find no room for 2 GiB in its address space: it
    // then says so, and writes nothing.
    EXPECT_EQ(result.output, banner + "Not enough memory for big.dbg!\n");
    EXPECT_EQ(result.exit_status, failure_status);
    EXPECT_FALSE(fs::exists(path(u8"big.dbg.qb")));
    return;
  }
  EXPECT_EQ(result.output, banner + "Finished!\n");
  EXPECT_EQ(result.exit_status, 0);
  // The zero bytes between the lines add nothing to the table.
  EXPECT_EQ(read_file(path(u8"big.dbg.qb")), read_file(path(u8"short.dbg.qb")));
}

#ifdef _WIN32

TEST_F(platform_program, refuses_a_read_only_output) {
  write_file(path(u8"names.dbg"), golden("sample.dbg"));
  write_file(path(u8"out.qb"), "old");
  fs::permissions(path(u8"out.qb"),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  ASSERT_NE(::GetFileAttributesW(path(u8"out.qb").c_str()) & FILE_ATTRIBUTE_READONLY, 0U);
  const run_result result = run_apart({"names.dbg", "out.qb"});
  EXPECT_EQ(result.output, banner + "Couldn't open out.qb!\n");
  EXPECT_TRUE(test_support::says_why(result.error, "out.qb", "it is marked read-only", true));
  EXPECT_EQ(result.exit_status, failure_status);
  EXPECT_EQ(read_file(path(u8"out.qb")), "old");
  EXPECT_EQ(files(), (std::set<std::string>{"names.dbg", "out.qb"}));
}

TEST_F(platform_program, writes_the_null_device_in_place) {
  write_file(path(u8"names.dbg"), golden("sample.dbg"));
  for (const std::string device : {"NUL", "nul"}) {
    const run_result result = run({"names.dbg", device});
    EXPECT_EQ(result.output, banner + "Finished!\n") << device;
    EXPECT_EQ(result.exit_status, 0) << device;
    EXPECT_EQ(files(), std::set<std::string>{"names.dbg"}) << device;
  }
}

// Names that Windows takes for the input file itself.
TEST_F(platform_program, replaces_the_input_under_another_spelling_of_its_name) {
  for (const std::string output : {"NAMES.DBG", ".\\names.dbg", "sub\\..\\names.dbg"}) {
    fs::remove_all(folder_);
    fs::create_directories(path(u8"sub"));
    write_file(path(u8"names.dbg"), golden("sample.dbg"));
    const run_result result = run({"names.dbg", output});
    EXPECT_EQ(result.output, banner + "Finished!\n") << output;
    EXPECT_EQ(result.exit_status, 0) << output;
    EXPECT_EQ(read_file(path(u8"names.dbg")), golden("sample.qb")) << output;
    EXPECT_EQ(files().size(), 2U) << output << ": a temporary file was left";
  }
}

TEST_F(platform_program, writes_an_output_that_another_program_holds_open) {
  // Another program holds the old output open. Letting it be written but not
  // deleted, nothing can be renamed over it: it is written in place, as a
  // plain open would. Letting it be deleted too, it is replaced where the
  // system can do so while it is open, else written in place. Either way
  // the table arrives and no temporary file is left, whether the older file
  // is longer than the new table or shorter, its space then grown (reserved
  // where the system can, written all the same where it cannot).
  const std::string longer = "an older table, longer than the new one is " + std::string(400, '.');
  const std::string shorter = "an older table";
  write_file(path(u8"names.dbg"), golden("sample.dbg"));
  for (const std::string& older : {longer, shorter}) {
    for (const DWORD share : {DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE},
                              DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE}}) {
      const std::string label =
          ((share & FILE_SHARE_DELETE) != 0 ? "delete shared" : "not delete shared") +
          std::string(older == shorter ? ", shorter" : ", longer");
      const run_result result = run_with_output_held(older, share);
      EXPECT_EQ(result.output, banner + "Finished!\n") << label;
      EXPECT_EQ(result.exit_status, 0) << label;
      EXPECT_EQ(read_file(path(u8"out.qb")), golden("sample.qb")) << label;
      EXPECT_EQ(files(), (std::set<std::string>{"names.dbg", "out.qb"}))
          << label << ": a temporary file was left";
    }
  }
}

TEST_F(platform_program, leaves_an_output_held_without_letting_it_be_written) {
  // Another program holds the old output open without letting others write
  // it (as most viewers do): the output cannot even be opened for writing,
  // whether or not the holder lets it be deleted, so it is refused and left
  // as it was.
  const std::string older = "an older table";
  write_file(path(u8"names.dbg"), golden("sample.dbg"));
  for (const DWORD share :
       {DWORD{FILE_SHARE_READ}, DWORD{FILE_SHARE_READ | FILE_SHARE_DELETE}, DWORD{0}}) {
    const std::string label = "sharing " + std::to_string(share);
    const run_result result = run_with_output_held(older, share);
    EXPECT_EQ(result.output.substr(0, banner.size() + 22), banner + "Couldn't open out.qb!\n")
        << label << ": " << result.output;
    EXPECT_EQ(result.exit_status, failure_status) << label;
    EXPECT_EQ(read_file(path(u8"out.qb")), older) << label;
    EXPECT_EQ(files(), (std::set<std::string>{"names.dbg", "out.qb"}))
        << label << ": a temporary file was left";
  }
}

// A stream of a file shares the file's name and ID: replacing it by a
// renamed file would replace the whole file, so it is written in place.
TEST_F(platform_program, writes_an_alternate_data_stream_in_place) {
  write_file(path(u8"names.dbg"), golden("sample.dbg"));
  for (const bool existing : {true, false}) {
    fs::remove(path(u8"t.qb"));
    if (existing) {
      write_file(path(u8"t.qb"), "the file's own contents");
    }
    const run_result result = run({"names.dbg", "t.qb:extra"});
    EXPECT_EQ(result.output, banner + "Finished!\n");
    if (existing) {
      EXPECT_EQ(read_file(path(u8"t.qb")), "the file's own contents") << "the file was replaced";
    }
    const HANDLE stream = ::CreateFileW(path(u8"t.qb:extra").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (stream == INVALID_HANDLE_VALUE || fs::exists(path(u8"t.qb:extra"))) {
      if (stream != INVALID_HANDLE_VALUE) {
        ::CloseHandle(stream);
      }
      GTEST_SKIP() << "no alternate data streams here (wine keeps none): " << result.output;
    }
    ::CloseHandle(stream);
    EXPECT_EQ(read_file(path(u8"t.qb:extra")), golden("sample.qb"));
    EXPECT_EQ(read_file(path(u8"t.qb")), existing ? "the file's own contents" : "");
    EXPECT_EQ(files(), (std::set<std::string>{"names.dbg", "t.qb"}));
  }
}

bool is_reparse_point(const fs::path& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

TEST_F(platform_program, writes_through_a_symbolic_link_and_keeps_it) {
  write_file(path(u8"names.dbg"), golden("sample.dbg"));
  fs::create_directories(path(u8"tables"));
  write_file(path(u8"tables/target.qb"), "old");
  // Wine reports success but makes no link.
  if (::CreateSymbolicLinkW(path(u8"link.qb").c_str(), L"tables\\target.qb",
                            SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) == 0 ||
      !is_reparse_point(path(u8"link.qb"))) {
    GTEST_SKIP() << "no symbolic link could be made here: Windows needs a privilege or "
                    "developer mode for one, and wine makes none";
  }
  const run_result result = run({"names.dbg", "link.qb"});
  EXPECT_EQ(result.output, banner + "Finished!\n");
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_TRUE(is_reparse_point(path(u8"link.qb")));
  EXPECT_EQ(read_file(path(u8"tables/target.qb")), golden("sample.qb"));
  EXPECT_EQ(files(), (std::set<std::string>{"link.qb", "names.dbg", "tables"}));
}

TEST_F(platform_program, refuses_outputs_that_cannot_be_opened) {
  write_file(path(u8"names.dbg"), golden("sample.dbg"));
  for (const std::string output : {"nowhere\\out.qb", ""}) {
    const run_result result = run_apart({"names.dbg", output});
    EXPECT_EQ(result.output, banner + "Couldn't open " + output + "!\n") << output;
    // The system's words: "Path not found" under wine.
    EXPECT_TRUE(test_support::says_why(result.error, output, "")) << output;
    EXPECT_EQ(result.exit_status, failure_status) << output;
    EXPECT_EQ(files(), std::set<std::string>{"names.dbg"}) << output;
  }
}

#endif

#ifdef _WIN32

// What the output is opened as, and what is replaced: the console, standard
// output, names at the length limits, a file planted under the output.

// Gives the test process a console that the programs it starts share; false
// where none can be had.
bool share_a_console() {
  const HANDLE probe = ::CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    ::CloseHandle(probe);
    return true;
  }
  ::FreeConsole();
  return ::AllocConsole() != 0;
}

// Whether what is written to the console arrives there; wine's console
// without a display takes no writes.
bool console_takes_writes() {
  const HANDLE console =
      ::CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
  DWORD written = 0;
  const bool wrote = console != INVALID_HANDLE_VALUE &&
                     ::WriteFile(console, "\r", 1, &written, nullptr) != 0 && written == 1;
  ::CloseHandle(console);
  return wrote;
}

TEST_F(platform_program, writes_the_console_as_it_is) {
  if (!share_a_console()) {
    GTEST_SKIP() << "no console could be had for the program";
  }
  const bool writable = console_takes_writes();
  write_file(path(u8"names.dbg"), golden("sample.dbg"));
  for (const std::string console : {"CON", "con", "CONOUT$", "\\\\.\\CON", "\\\\.\\CONOUT$"}) {
    const run_result result = run({"names.dbg", console});
    EXPECT_EQ(files(), std::set<std::string>{"names.dbg"}) << console << ": a file was made";
    if (writable) {
      EXPECT_EQ(result.output, banner + "Finished!\n") << console;
      EXPECT_EQ(result.exit_status, 0) << console;
    }
  }
  if (!writable) {
    GTEST_SKIP() << "the console takes no writes here (wine without a display): only checked "
                    "that no file was made in its place";
  }
}

// Runs dbgparse in `folder` without a console (as a service or a program
// started detached runs), its standard output and error into log.txt
// there; gives the exit status and what was logged.
std::pair<DWORD, std::string> run_without_console(const fs::path& folder,
                                                  const std::wstring& arguments) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const fs::path log_path = folder / "log.txt";
  const HANDLE log = ::CreateFileW(log_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  const HANDLE nothing = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       &inherit, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nothing;
  startup.hStdOutput = startup.hStdError = log;
  PROCESS_INFORMATION child{};
  std::wstring command = L"\"" + fs::path(DBGPARSE_EXE).wstring() + L"\" " + arguments;
  const BOOL started =
      ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr,
                       folder.c_str(), &startup, &child);
  ::CloseHandle(log);
  ::CloseHandle(nothing);
  DWORD status = 1;
  if (started != 0) {
    ::WaitForSingleObject(child.hProcess, INFINITE);
    ::GetExitCodeProcess(child.hProcess, &status);
    ::CloseHandle(child.hProcess);
    ::CloseHandle(child.hThread);
  }
  EXPECT_NE(started, 0);
  std::string logged = read_file(log_path);
  fs::remove(log_path);
  return {status, logged};
}

TEST_F(platform_program, refuses_the_console_where_there_is_none) {
  // The console's names name no file the caller gave when the process has
  // no console: as the input or the output they cannot be opened, as
  // /dev/stdin and its kind cannot when the stream was closed, and nothing
  // is made or replaced.
  write_file(path(u8"names.dbg"), golden("sample.dbg"));
  write_file(path(u8"kept.qb"), "an older table");
  struct console_name {
    std::wstring arguments;
    std::string refused;
  };
  const console_name names[] = {
      {L"names.dbg CON", "CON"},
      {L"names.dbg CONOUT$", "CONOUT$"},
      {L"CON kept.qb", "CON"},
      {L"CONIN$ kept.qb", "CONIN$"},
      {L"names.dbg \\\\.\\CONOUT$", "\\\\.\\CONOUT$"},
      {L"con kept.qb", "con"},
      {L"\\\\.\\CONIN$ kept.qb", "\\\\.\\CONIN$"},
  };
  for (const console_name& n : names) {
    const auto [status, logged] = run_without_console(folder_, n.arguments);
    const std::string label(n.arguments.begin(), n.arguments.end());
    EXPECT_EQ(logged.substr(0, banner.size() + n.refused.size() + 16),
              banner + "Couldn't open " + n.refused + "!\n")
        << label << ": " << logged;
    EXPECT_EQ(status, static_cast<DWORD>(failure_status)) << label;
    EXPECT_EQ(read_file(path(u8"kept.qb")), "an older table") << label;
    EXPECT_EQ(files(), (std::set<std::string>{"names.dbg", "kept.qb"})) << label;
  }
}

TEST_F(platform_program, gives_the_console_its_code_page_back) {
  constexpr UINT us_english = 437;
  if (!share_a_console() || ::SetConsoleOutputCP(us_english) == 0 ||
      ::GetConsoleOutputCP() != us_english) {
    GTEST_SKIP() << "no console whose code page can be set could be had";
  }
  write_file(path(u8"names.dbg"), golden("sample.dbg"));
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"names.dbg", "out.qb"}, std::vector<std::string>{"missing.dbg"}}) {
    run(arguments);
    EXPECT_EQ(::GetConsoleOutputCP(), us_english) << arguments[0];
  }
}

// The program's standard input is the console and its standard output a
// file; a PAUSE run nonetheless would print its prompt into that file, or
// wait for a key no one presses.
TEST_F(platform_program, does_not_pause_when_standard_output_is_no_console) {
  if (!share_a_console()) {
    GTEST_SKIP() << "no console could be had for the program";
  }
  write_file(path(u8"names.dbg"), golden("sample.dbg"));
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE keyboard =
      ::CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
  const HANDLE log = ::CreateFileW(path(u8"log.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                   &inherit, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(keyboard, INVALID_HANDLE_VALUE);
  ASSERT_NE(log, INVALID_HANDLE_VALUE);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = keyboard;
  startup.hStdOutput = log;
  startup.hStdError = log;
  PROCESS_INFORMATION child{};
  std::wstring command = L"\"" + fs::path(DBGPARSE_EXE).wstring() + L"\" names.dbg out.qb";
  const BOOL started = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        folder_.c_str(), &startup, &child);
  ::CloseHandle(keyboard);
  ::CloseHandle(log);
  ASSERT_NE(started, 0);
  const bool ended = ::WaitForSingleObject(child.hProcess, 30000) == WAIT_OBJECT_0;
  if (!ended) {
    ::TerminateProcess(child.hProcess, 1);
  }
  ::CloseHandle(child.hProcess);
  ::CloseHandle(child.hThread);
  EXPECT_TRUE(ended) << "waited for a key";
  EXPECT_EQ(read_file(path(u8"log.txt")), banner + "Finished!\n");
}

TEST_F(platform_program, writes_a_named_pipe_as_it_is) {
  write_file(path(u8"names.dbg"), golden("sample.dbg"));
  const std::string name = "\\\\.\\pipe\\dbgparse_test_" + std::to_string(::GetCurrentProcessId());
  const HANDLE pipe = ::CreateNamedPipeA(name.c_str(), PIPE_ACCESS_INBOUND,
                                         PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 1 << 16, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  std::string received;
  std::thread reader([&] {
    if (::ConnectNamedPipe(pipe, nullptr) != 0 || ::GetLastError() == ERROR_PIPE_CONNECTED) {
      char piece[4096];
      DWORD got = 0;
      while (::ReadFile(pipe, piece, sizeof(piece), &got, nullptr) != 0 && got > 0) {
        received.append(piece, got);
      }
    }
  });
  const run_result result = run({"names.dbg", name});
  // Should the program not have connected, a client of our own ends the wait.
  ::CloseHandle(::CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  reader.join();
  ::CloseHandle(pipe);
  EXPECT_EQ(result.output, banner + "Finished!\n");
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(received, golden("sample.qb"));
  EXPECT_EQ(files(), std::set<std::string>{"names.dbg"});
}

// The harness's file for the program's standard output, named as it names it.
fs::path harness_standard_output() {
  return fs::temp_directory_path() /
         ("dbgparse_test_" + std::to_string(::GetCurrentProcessId()) + "_stdout");
}

TEST_F(platform_program, refuses_the_file_its_own_standard_output_goes_to) {
  // The table would end up after the messages, in a file that no program
  // reads as a table: the output is refused before anything is converted,
  // and the file keeps the messages. The harness opens those files as
  // cmd.exe does for `>`, letting no one else write them.
  write_file(path(u8"names.dbg"), golden("sample.dbg"));
  const std::string exact = bytes_of(harness_standard_output().u8string());
  std::string other_case = exact;
  std::transform(other_case.begin(), other_case.end(), other_case.begin(), [](char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  });
  std::string error_file = exact;
  error_file.replace(error_file.size() - 6, 6, "stderr");
  const std::string why =
      "the program's own standard output or error goes to this file; give the output another "
      "name";
  for (const std::string& output : {exact, other_case, error_file}) {
    const run_result result = run_apart({"names.dbg", output});
    EXPECT_EQ(result.output, banner + "Couldn't open " + output + "!\n") << output;
    EXPECT_TRUE(test_support::says_why(result.error, output, why, true)) << output;
    EXPECT_EQ(result.exit_status, failure_status) << output;
    EXPECT_EQ(files(), std::set<std::string>{"names.dbg"}) << output;
  }
}

// Which file a name reaches; 0 when none.
std::uint64_t file_index(const fs::path& name) {
  const HANDLE file = ::CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  BY_HANDLE_FILE_INFORMATION information{};
  const bool known =
      file != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(file, &information) != 0;
  ::CloseHandle(file);
  return known ? (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow : 0;
}

TEST_F(platform_program, replaces_an_existing_output_by_a_new_file) {
  // Rewriting the old file in place would lose it if the run failed.
  write_file(path(u8"names.dbg"), golden("sample.dbg"));
  write_file(path(u8"out.qb"), "old");
  const std::uint64_t before = file_index(path(u8"out.qb"));
  ASSERT_NE(before, 0U);
  const run_result result = run({"names.dbg", "out.qb"});
  EXPECT_EQ(result.output, banner + "Finished!\n");
  EXPECT_EQ(read_file(path(u8"out.qb")), golden("sample.qb"));
  EXPECT_NE(file_index(path(u8"out.qb")), before);
  EXPECT_EQ(files(), (std::set<std::string>{"names.dbg", "out.qb"}));
}

bool has_temporary_file(const fs::path& folder, std::uintmax_t at_least = 0) {
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder, ignored)) {
    if (entry.path().extension() == ".tmp" && entry.file_size(ignored) >= at_least && !ignored) {
      return true;
    }
  }
  return false;
}

// While the table is written, moves the output aside and plants another
// file under its name; true when that happened before the table was put in
// place.
bool plant_during_the_write(const fs::path& folder) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!has_temporary_file(folder)) {
    if (std::chrono::steady_clock::now() > give_up) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (::MoveFileW((folder / "out.qb").c_str(), (folder / "moved.qb").c_str()) == 0) {
    return false;
  }
  write_file(folder / "out.qb", "planted");
  return has_temporary_file(folder);
}

TEST_F(platform_program, replaces_only_the_file_it_opened) {
  // A line of "0x" alone gives a table 22 times its size: a long write.
  std::string input = "[Checksums]\r\n";
  for (int i = 0; i < (4 << 20); ++i) {
    input += "0x";
  }
  write_file(path(u8"names.dbg"), input + " x\r\n");
  struct output {
    std::string name;
    bool existed;
  };
  for (const output& o : {output{"an existing output", true}, output{"a new output", false}}) {
    fs::remove(path(u8"moved.qb"));
    fs::remove(path(u8"out.qb"));
    if (o.existed) {
      write_file(path(u8"out.qb"), "old");
    }
    bool planted_in_time = false;
    std::thread planter([&] { planted_in_time = plant_during_the_write(folder_); });
    const run_result result = run_apart({"names.dbg", "out.qb"});
    planter.join();
    if (!planted_in_time) {
      GTEST_SKIP() << o.name << ": the table was in place before another file could be planted";
    }
    // The input draws millions of warnings; the dialogue is what counts.
    EXPECT_EQ(test_support::without_warnings(result.output, "names.dbg"),
              banner + "Couldn't write out.qb!\n")
        << o.name;
    EXPECT_TRUE(test_support::says_why(test_support::without_warnings(result.error, "names.dbg"),
                                       "out.qb",
                                       "the name no longer leads to the file opened at the start: "
                                       "it was removed or replaced during the run",
                                       true))
        << o.name;
    EXPECT_EQ(result.exit_status, failure_status) << o.name;
    // Compared as a whole: a replaced file would be a table too long to print.
    EXPECT_TRUE(read_file(path(u8"out.qb")) == "planted") << o.name << ": replaced";
    // The file this run made for a new output is marked for removal too,
    // but wine does not remove one that was renamed since: not checked.
    if (o.existed) {
      EXPECT_EQ(read_file(path(u8"moved.qb")), "old") << o.name;
    }
    EXPECT_FALSE(has_temporary_file(folder_)) << o.name;
  }
}

// Starts the program in `folder` with its standard streams on NUL, without
// waiting for it.
PROCESS_INFORMATION start_program(const fs::path& folder, const std::wstring& arguments) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE nul =
      ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
  PROCESS_INFORMATION child{};
  std::wstring command = L"\"" + fs::path(DBGPARSE_EXE).wstring() + L"\" " + arguments;
  const BOOL started = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        folder.c_str(), &startup, &child);
  ::CloseHandle(nul);
  EXPECT_NE(started, 0);
  return child;
}

TEST_F(platform_program, a_hard_kill_leaves_no_temporary_file_and_no_new_output) {
  std::string input = "[Checksums]\r\n";
  for (int i = 0; i < (4 << 20); ++i) {
    input += "0x";
  }
  int killed = 0;
  for (const bool existing : {true, false}) {
    const std::string name = existing ? "an existing output" : "a new output";
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    write_file(path(u8"names.dbg"), input + " x\r\n");
    if (existing) {
      write_file(path(u8"out.qb"), "old");
    }
    const PROCESS_INFORMATION child = start_program(folder_, L"names.dbg out.qb");
    // Killed once the table is being written: the moment between creating
    // the file and marking it is too short for a user's kill to hit.
    while (!has_temporary_file(folder_, 1) &&
           ::WaitForSingleObject(child.hProcess, 1) == WAIT_TIMEOUT) {
    }
    // As Task Manager's End task and taskkill /F end a process.
    const bool in_time = ::TerminateProcess(child.hProcess, 1) != 0;
    ::WaitForSingleObject(child.hProcess, INFINITE);
    DWORD status = 0;
    ::GetExitCodeProcess(child.hProcess, &status);
    ::CloseHandle(child.hProcess);
    ::CloseHandle(child.hThread);
    if (!in_time || status != 1) {
      continue;  // it had ended by itself
    }
    ++killed;
    EXPECT_FALSE(has_temporary_file(folder_)) << name;
    if (existing) {
      EXPECT_EQ(read_file(path(u8"out.qb")), "old") << name;
    } else {
      EXPECT_FALSE(fs::exists(path(u8"out.qb"))) << name << ": left as a new output";
    }
  }
  if (killed == 0) {
    GTEST_SKIP() << "the program always ended before it could be killed";
  }
}

// The whole of a file, read through `file` from its start.
std::string read_through(HANDLE file) {
  std::string bytes(4096, '\0');
  OVERLAPPED start{};
  DWORD got = 0;
  if (::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, &start) == 0) {
    got = 0;
  }
  bytes.resize(got);
  return bytes;
}

TEST_F(platform_program, waits_for_its_turn_to_write_a_file_in_place) {
  // Held open without letting it be deleted, the output is written in place,
  // under a lock on the whole file that every run writing it so takes. While
  // another holds that lock, the run waits and the old file stays as it
  // was; once it is released the table arrives whole. A run that did not
  // wait would end at once, having failed or written into the old file.
  const std::string older = "an older table, longer than the new one is " + std::string(400, '.');
  write_file(path(u8"names.dbg"), golden("sample.dbg"));
  write_file(path(u8"out.qb"), older);
  const HANDLE holder =
      ::CreateFileW(path(u8"out.qb").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  OVERLAPPED whole{};
  ASSERT_NE(::LockFileEx(holder, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole), 0);
  const PROCESS_INFORMATION child = start_program(folder_, L"names.dbg out.qb");
  constexpr DWORD long_enough_to_end = 2000;
  const DWORD waited = ::WaitForSingleObject(child.hProcess, long_enough_to_end);
  const std::string meanwhile = read_through(holder);
  OVERLAPPED again{};
  ::UnlockFileEx(holder, 0, MAXDWORD, MAXDWORD, &again);
  ::WaitForSingleObject(child.hProcess, INFINITE);
  DWORD status = 1;
  ::GetExitCodeProcess(child.hProcess, &status);
  ::CloseHandle(child.hProcess);
  ::CloseHandle(child.hThread);
  ::CloseHandle(holder);
  EXPECT_EQ(waited, static_cast<DWORD>(WAIT_TIMEOUT)) << "the run did not wait for the lock";
  EXPECT_EQ(meanwhile, older);
  EXPECT_EQ(status, 0U);
  EXPECT_EQ(read_file(path(u8"out.qb")), golden("sample.qb"));
  EXPECT_EQ(files(), (std::set<std::string>{"names.dbg", "out.qb"}));
}

// The bytes of one of the program's resources; empty when it has none.
std::string resource_of(const fs::path& program, LPCWSTR type) {
  const HMODULE image = ::LoadLibraryExW(program.c_str(), nullptr,
                                         LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  const HRSRC found =
      image == nullptr ? nullptr : ::FindResourceW(image, MAKEINTRESOURCEW(1), type);
  const HGLOBAL loaded = found == nullptr ? nullptr : ::LoadResource(image, found);
  std::string bytes;
  if (loaded != nullptr) {
    bytes.assign(static_cast<const char*>(::LockResource(loaded)), ::SizeofResource(image, found));
  }
  if (image != nullptr) {
    ::FreeLibrary(image);
  }
  return bytes;
}

TEST_F(platform_program, declares_long_paths_and_its_version) {
  const std::string manifest = resource_of(DBGPARSE_EXE, MAKEINTRESOURCEW(24));
  for (const std::string declared : {"true</longPathAware>", "supportedOS", "asInvoker"}) {
    EXPECT_NE(manifest.find(declared), std::string::npos) << declared << " in " << manifest;
  }
  const std::string version = resource_of(DBGPARSE_EXE, MAKEINTRESOURCEW(16));
  for (const std::u16string_view key : {u"FileDescription", u"FileVersion", u"ProductVersion"}) {
    const std::string utf16(reinterpret_cast<const char*>(key.data()), key.size() * 2);
    EXPECT_NE(version.find(utf16), std::string::npos) << "no version information";
  }
}

TEST_F(platform_program, writes_outputs_whose_names_reach_the_length_limits) {
  write_file(path(u8"names.dbg"), golden("sample.dbg"));
  // A path of MAX_PATH - 1 characters whose last name is short, so that
  // a temporary name beside it must not be longer.
  const std::wstring base = fs::absolute(folder_).wstring() + L"\\";
  const std::wstring short_name = L"\\t.qb";
  ASSERT_LT(base.size() + short_name.size() + 10, std::size_t{MAX_PATH}) << "too deep a folder";
  const std::wstring filler(MAX_PATH - 1 - base.size() - short_name.size(), L'd');
  fs::create_directories(folder_ / filler);
  struct limit {
    std::string name;
    fs::path output;
    std::ptrdiff_t files_beside;  // the output included
  };
  const limit limits[] = {
      {"a name of 255 characters", L"\\\\?\\" + base + std::wstring(255, L'n'), 3},
      {"a path of MAX_PATH - 1 characters", base + filler + short_name, 1},
      {"a path past MAX_PATH", base + filler + L"\\" + std::wstring(20, L'p') + L".qb", 2},
  };
  // The input by a \\?\ path, which the C runtime's stat refuses.
  const std::string input = bytes_of(fs::path(L"\\\\?\\" + base + L"names.dbg").u8string());
  for (const limit& l : limits) {
    const run_result result = run({input, bytes_of(l.output.u8string())});
    EXPECT_EQ(result.output, banner + "Finished!\n") << l.name;
    EXPECT_EQ(result.exit_status, 0) << l.name;
    EXPECT_EQ(read_file(l.output), golden("sample.qb")) << l.name;
    EXPECT_EQ(std::distance(fs::directory_iterator(l.output.parent_path()), {}), l.files_beside)
        << l.name << ": a temporary file was left";
  }
}

#endif

}  // namespace
