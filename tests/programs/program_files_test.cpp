// Process-level tests of the program on hostile ground, on POSIX systems:
// links planted by another user, the standard streams and pipes as files,
// signals halfway through a write, long names, folders that take no
// temporary file, and when the pause may wait. Races and system failures
// are brought about at a chosen system call with strace, which also holds
// the program there (with SIGSTOP) while the test changes its files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <sys/socket.h>
#include <sys/xattr.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "program_fixture.h"

namespace {

namespace fs = std::filesystem;
using test_support::banner;
using test_support::golden;
using test_support::read_file;
using test_support::run_options;
using test_support::run_program;
using test_support::run_result;
using test_support::says_why;
using test_support::write_file;

constexpr unsigned nobody = 65534;

#ifdef __SANITIZE_ADDRESS__
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

class hostile_ground : public test_support::program_fixture {
 protected:
  // Runs a shell command line in the test's folder; $DBGPARSE is the program,
  // `traced` runs strace, and $TRACED_ASAN is the sanitizer's options under
  // it (for a command that execs strace itself, to pass on how it ends).
  run_result shell(const std::string& command, std::optional<unsigned> user = std::nullopt,
                   bool error_apart = false) {
    run_options options;
    options.error_apart = error_apart;
    // LeakSanitizer cannot work under strace.
    options.arguments = {"-c",
                         "DBGPARSE='" + program_.string() + "'; QBDUMP='" QBDUMP_EXE "'; " +
                             "TRACED_ASAN=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\"; "
                             "traced() { ASAN_OPTIONS=\"$TRACED_ASAN\" strace -qq \"$@\"; }; " +
                             command};
    options.working_directory = folder_;
    options.user_id = user;
    return run_program("/bin/sh", options);
  }
  // The same with standard error kept apart, in the result's `error`.
  run_result shell_apart(const std::string& command, std::optional<unsigned> user = std::nullopt) {
    return shell(command, user, true);
  }

  // Another user to plant files or run the program, when we are root and
  // that user can reach the test's folder; otherwise the reason why not.
  std::optional<std::string> no_other_user() {
    if (::geteuid() != 0) {
      return "another user's files need root to set up";
    }
    fs::permissions(folder_, fs::perms::all | fs::perms::sticky_bit);
    // The build folder may be private (a clone in a home folder): the other
    // user runs a copy of the program from the test's folder.
    program_ = path("dbgparse");
    fs::copy_file(DBGPARSE_EXE, program_);
    if (shell("test -x \"$DBGPARSE\"", nobody).exit_status != 0) {
      return "user " + std::to_string(nobody) + " cannot reach " + folder_.string();
    }
    return std::nullopt;
  }

  // Why strace cannot bring about faults here, or nothing.
  std::optional<std::string> no_strace() {
    if (shell("strace -qq -o /dev/null true").exit_status != 0) {
      return "strace is not installed, or may not trace here";
    }
    return std::nullopt;
  }

  // The number, as strace's when= counts, of the first `syscall` call whose
  // traced line holds `mark` in a run of the program on `arguments` (under
  // strace's `options`, as the run to inject into has them).
  int call_number(const std::string& syscall, const std::string& mark, const std::string& arguments,
                  const std::string& options = "") {
    shell("traced -y -o trace.log " + options + " -e trace=" + syscall + " $DBGPARSE " + arguments +
          " >/dev/null");
    std::istringstream lines(read_file(path("trace.log")));
    fs::remove(path("trace.log"));
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
      if (line.starts_with(syscall + "(") && (++number, line.find(mark) != std::string::npos)) {
        return number;
      }
    }
    ADD_FAILURE() << "no " << syscall << " call holds " << mark;
    return 0;
  }

  fs::path program_ = DBGPARSE_EXE;
};

// What the test's shell commands share: waits (twenty seconds at most)
// until strace, writing its log to `LOG`, has the program it started
// stopped by SIGSTOP, then tells that program's ID (strace's is `PID`).
const std::string wait_until_stopped =
    "wait_until_stopped() { for i in $(seq 2000); do "
    "grep -q 'stopped by SIGSTOP' \"$1\" 2>/dev/null && break; sleep 0.01; done; "
    "read -r held rest </proc/$2/task/$2/children; }; ";

std::string protected_symlinks() { return read_file("/proc/sys/fs/protected_symlinks"); }

TEST_F(hostile_ground, refuses_links_the_kernel_would_not_follow) {
  if (const auto reason = no_other_user()) {
    GTEST_SKIP() << *reason;
  }
  if (protected_symlinks() != "1\n") {
    GTEST_SKIP() << "fs.protected_symlinks is off here, so the kernel follows any link";
  }
  write_file(path("names.dbg"), golden("sample.dbg"));
  const fs::path elsewhere = folder_.string() + "_elsewhere";
  fs::create_directories(elsewhere);
  write_file(elsewhere / "precious", "precious");
  struct planted {
    std::string name;
    std::string command;
    std::string target;
  };
  const planted links[] = {
      {"link to an existing file", "ln -s '" + (elsewhere / "precious").string() + "'", "precious"},
      {"dangling link", "ln -s '" + (elsewhere / "new").string() + "'", "new"},
  };
  for (const planted& link : links) {
    for (const char* output : {"out.qb", "names.dbg.qb"}) {
      ASSERT_EQ(shell(link.command + " '" + std::string(output) + "'", nobody).exit_status, 0)
          << link.name;
    }
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"names.dbg", "out.qb"}, std::vector<std::string>{"names.dbg"}}) {
      const std::string output = arguments.size() == 2 ? "out.qb" : "names.dbg.qb";
      const run_result result = run_apart(arguments);
      EXPECT_EQ(result.output, banner + "Couldn't open " + output + "!\n") << link.name;
      EXPECT_TRUE(says_why(result.error, output, "Permission denied")) << link.name;
    }
    EXPECT_EQ(read_file(elsewhere / "precious"), "precious") << link.name;
    EXPECT_FALSE(fs::exists(elsewhere / "new")) << link.name;
    fs::remove(path("out.qb"));
    fs::remove(path("names.dbg.qb"));
  }
  fs::remove_all(elsewhere);
}

TEST_F(hostile_ground, writes_streams_and_pipes_as_they_are) {
  write_file(path("names.dbg"), golden("sample.dbg"));
  // A table larger than any pipe's buffer, so that its write must meet the
  // reader's end.
  std::string many = "[Checksums]\r\n";
  for (int i = 0; i < 20000; ++i) {
    many += "0x0000002A a_name_of_some_length\r\n";
  }
  write_file(path("many.dbg"), many);
  const std::string table = golden("sample.qb");
  const std::string said = banner + table + "Finished!\n";
  struct stream_case {
    std::string name;
    std::string command;
    std::string file;
    std::string contents;
  };
  const stream_case cases[] = {
      {"/dev/stdout appended to a log", "echo earlier >log; $DBGPARSE names.dbg /dev/stdout >>log",
       "log", "earlier\n" + said},
      {"/dev/stdout into a pipe", "$DBGPARSE names.dbg /dev/stdout | cat >log", "log", said},
      {"/dev/fd/3 appended", "echo earlier >log; $DBGPARSE names.dbg /dev/fd/3 3>>log >/dev/null",
       "log", "earlier\n" + table},
      {"a link to /dev/stderr", "ln -s /dev/stderr err.qb; $DBGPARSE names.dbg err.qb 2>log >&2",
       "log", said},
      {"a pipe as input", "cat names.dbg | $DBGPARSE /dev/stdin out.qb >/dev/null", "out.qb",
       table},
      {"a FIFO as input", "mkfifo f; cat names.dbg >f & $DBGPARSE f out.qb >/dev/null", "out.qb",
       table},
      {"writing into a closed pipe",
       "{ $DBGPARSE many.dbg /dev/stdout; echo $? >status; } | head -c 1 >/dev/null", "status",
       "141\n"},
  };
  for (const stream_case& c : cases) {
    fs::remove(path(c.file));
    const run_result result = shell(c.command);
    EXPECT_EQ(result.exit_status, 0) << c.name << ": " << result.output;
    EXPECT_EQ(read_file(path(c.file)), c.contents) << c.name;
  }
}

// The file the program's own standard output or error goes to, named as the
// output, is refused before anything is converted: the table would take the
// messages' place (and Finished! would go to a removed file), or follow them
// in a file that no program reads as a table. The file keeps the messages.
TEST_F(hostile_ground, refuses_the_file_its_own_messages_go_to) {
  write_file(path("names.dbg"), golden("sample.dbg"));
  const std::string why =
      "the program's own standard output or error goes to this file; give the output another "
      "name";
  struct own_file {
    std::string before;  // what sets the case up
    std::string command;
    std::string file;
    std::string contents;  // of `file` afterwards
    std::string error;     // standard error, when it is not in `file`
  };
  const own_file cases[] = {
      {"", "$DBGPARSE names.dbg log.txt >log.txt", "log.txt", banner + "Couldn't open log.txt!\n",
       "dbgparse: log.txt: " + why + "\n"},
      {"echo earlier >log.txt", "$DBGPARSE names.dbg log.txt >>log.txt", "log.txt",
       "earlier\n" + banner + "Couldn't open log.txt!\n", "dbgparse: log.txt: " + why + "\n"},
      {"", "$DBGPARSE names.dbg >names.dbg.qb", "names.dbg.qb",
       banner + "Couldn't open names.dbg.qb!\n", "dbgparse: names.dbg.qb: " + why + "\n"},
      {"", "$DBGPARSE names.dbg err.txt 2>err.txt >/dev/null", "err.txt",
       "dbgparse: err.txt: " + why + "\n", ""},
      {"ln -s log.txt link.qb", "$DBGPARSE names.dbg link.qb >log.txt", "log.txt",
       banner + "Couldn't open link.qb!\n", "dbgparse: link.qb: " + why + "\n"},
  };
  for (const own_file& c : cases) {
    const run_result result = shell_apart(c.before + "\n" + c.command + "; echo $? >status");
    fs::remove(path("link.qb"));
    EXPECT_EQ(read_file(path("status")), "255\n") << c.command;
    EXPECT_EQ(read_file(path(c.file)), c.contents) << c.command;
    EXPECT_EQ(result.error, c.error) << c.command;
    EXPECT_EQ(files(), (std::set<std::string>{"names.dbg", "status", c.file})) << c.command;
    fs::remove(path(c.file));
  }
}

std::optional<fs::path> temporary_file_in(const fs::path& folder) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == ".tmp") {
      return entry.path();
    }
  }
  return std::nullopt;
}

// Starts bash on `command` in `folder`, as the leader of a process group of
// its own (as a terminal's foreground job is), with the signals a terminal
// sends at their default actions and no core dump, standard output on
// /dev/null.
pid_t start_group(const fs::path& folder, const std::string& command) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::setpgid(0, 0);
    for (const int number : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) {
      ::signal(number, SIG_DFL);
    }
    sigset_t none{};
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const rlimit no_core{0, 0};
    if (::setrlimit(RLIMIT_CORE, &no_core) == 0 && ::chdir(folder.c_str()) == 0 &&
        std::freopen("/dev/null", "r+", stdout) != nullptr) {
      ::execl("/bin/bash", "bash", "-c", command.c_str(), static_cast<char*>(nullptr));
    }
    ::_exit(127);
  }
  ::setpgid(child, child);
  return child;
}

TEST_F(hostile_ground, dies_of_the_signal_that_ends_it) {
  if (::access("/bin/bash", X_OK) != 0) {
    GTEST_SKIP() << "bash is not installed";
  }
  // The input is a FIFO that the program blocks on until the test opens its
  // other end: then the program is halfway, and the signal is sent to its
  // process group, as the terminal sends Ctrl-C.
  write_file(path("second.dbg"), golden("sample.dbg"));
  const std::string dbgparse = "'" + program_.string() + "'";
  struct ending {
    std::string name;
    int signal;
    std::string command;
  };
  const ending endings[] = {
      {"Ctrl-C during a script's loop", SIGINT,
       "for f in names.dbg second.dbg; do " + dbgparse + " \"$f\" </dev/null; done; echo >went_on"},
      {"SIGINT", SIGINT, "exec " + dbgparse + " names.dbg out.qb"},
      {"SIGTERM", SIGTERM, "exec " + dbgparse + " names.dbg out.qb"},
      {"SIGHUP", SIGHUP, "exec " + dbgparse + " names.dbg out.qb"},
      // A sanitizer's own handler would report the signal and exit: it is
      // told to leave SIGSEGV alone, so that the program's handling shows.
      {"kill -SEGV, not caught", SIGSEGV,
       "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}handle_segv=0\" exec " + dbgparse +
           " names.dbg out.qb"},
  };
  for (const ending& e : endings) {
    for (const char* made : {"names.dbg", "second.dbg.qb", "went_on"}) {
      fs::remove(path(made));
    }
    ASSERT_EQ(::mkfifo(path("names.dbg").c_str(), 0600), 0);
    write_file(path("out.qb"), "older");
    const pid_t group = start_group(folder_, e.command);
    // Opens without waiting once the program has the FIFO open to read.
    int writer = -1;
    EXPECT_TRUE(test_support::wait_until([&] {
      writer = ::open(path("names.dbg").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      return writer >= 0;
    })) << e.name
        << ": the program never opened its input";
    ::kill(-group, e.signal);
    const std::optional<int> status = test_support::wait_for_end(group);
    ::close(writer);
    ASSERT_TRUE(status) << e.name << ": still running after the signal";
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == e.signal)
        << e.name << ": wait status " << *status;
    EXPECT_EQ(files(), (std::set<std::string>{"names.dbg", "out.qb", "second.dbg"})) << e.name;
    EXPECT_EQ(read_file(path("out.qb")), "older") << e.name;
  }
}

TEST_F(hostile_ground, writes_any_name_and_folder_that_takes_the_file) {
  write_file(path("names.dbg"), golden("sample.dbg"));
  const std::string longest(255, 'n');
  const std::string longest_input = std::string(252, 'i');
  write_file(path(longest_input), golden("sample.dbg"));
  EXPECT_EQ(run({"names.dbg", longest}).output, banner + "Finished!\n");
  EXPECT_EQ(run({longest_input}).output, banner + "Finished!\n");
  EXPECT_EQ(read_file(path(longest)), golden("sample.qb"));
  EXPECT_EQ(read_file(path(longest_input + ".qb")), golden("sample.qb"));
  const run_result no_name = run_apart({"names.dbg", ""});
  EXPECT_EQ(no_name.output, banner + "Couldn't open !\n");
  EXPECT_TRUE(says_why(no_name.error, "", "No such file or directory"));

  if (const auto reason = no_other_user()) {
    GTEST_SKIP() << *reason;
  }
  // A file the other user may write, in a folder where that user may not
  // create a file (then replace nothing), or where the file is root's in a
  // sticky folder (then rename nothing): written in place.
  struct in_place {
    std::string name;
    fs::perms folder_mode;
  };
  for (const in_place& c :
       {in_place{"read-only folder", fs::perms::owner_all | fs::perms::group_exec |
                                         fs::perms::others_read | fs::perms::others_exec},
        in_place{"sticky folder", fs::perms::all | fs::perms::sticky_bit}}) {
    write_file(path("old.qb"), "older");
    fs::permissions(path("old.qb"), fs::perms::all);
    fs::permissions(folder_, c.folder_mode);
    const run_result result = shell("$DBGPARSE names.dbg old.qb", nobody);
    fs::permissions(folder_, fs::perms::all | fs::perms::sticky_bit);
    EXPECT_EQ(result.output, banner + "Finished!\n") << c.name;
    EXPECT_EQ(read_file(path("old.qb")), golden("sample.qb")) << c.name;
  }
}

// A planted file longer than the table, so that a table written into it
// shows as a mix.
const std::string planted(1000, 'x');

TEST_F(hostile_ground, never_writes_into_a_file_another_run_created) {
  if (const auto reason = no_strace()) {
    GTEST_SKIP() << *reason;
  }
  write_file(path("names.dbg"), golden("sample.dbg"));
  // The file is planted before the run, and the run is told it is not there
  // as another run's file would appear: at the output's first open for
  // writing, at every open, and until the table is complete.
  write_file(path("out.qb"), planted);
  const int first_open =
      call_number("openat", "\"out.qb\", O_WRONLY", "names.dbg out.qb", "-P out.qb");
  struct race {
    std::string name;
    std::string injected;
    std::string said;
    std::string contents;
  };
  const race races[] = {
      {"taken after the open found nothing",
       "-e inject=openat:error=ENOENT:when=" + std::to_string(first_open), "Finished!",
       golden("sample.qb")},
      {"taken at every try", "-e inject=openat:error=ENOENT", "Couldn't open out.qb!", planted},
      {"taken before the table is complete",
       "-e inject=openat:error=ENOENT -e inject=newfstatat:error=ENOENT", "Couldn't write out.qb!",
       planted},
  };
  for (const race& r : races) {
    write_file(path("out.qb"), planted);
    const run_result result =
        shell("traced -o /dev/null -P out.qb " + r.injected + " $DBGPARSE names.dbg out.qb 2>&-");
    EXPECT_EQ(result.output, banner + r.said + "\n") << r.name;
    EXPECT_EQ(read_file(path("out.qb")), r.contents) << r.name;
    EXPECT_EQ(files(), (std::set<std::string>{"names.dbg", "out.qb"})) << r.name;
  }
}

TEST_F(hostile_ground, fails_the_write_when_the_name_loses_the_file) {
  if (const auto reason = no_other_user()) {
    GTEST_SKIP() << *reason;
  }
  if (const auto reason = no_strace()) {
    GTEST_SKIP() << *reason;
  }
  write_file(path("names.dbg"), golden("sample.dbg"));
  // The run is stopped at a call on out.qb, and goes on only once the name
  // has been taken from it: when the output has been opened for writing,
  // and when the table's first bytes are written into it.
  struct loss {
    std::string name;
    std::string syscall;
    std::string mark;
    std::string meanwhile;
    std::string left;  // in the folder under out.qb, if anything
  };
  const loss losses[] = {
      {"removed once opened", "openat", "\"out.qb\", O_WRONLY", "rm out.qb", ""},
      {"replaced once opened", "openat", "\"out.qb\", O_WRONLY", "echo other >o && mv o out.qb",
       "other\n"},
      {"removed while written in place", "write", "out.qb>, \"", "rm out.qb", ""},
  };
  for (const loss& l : losses) {
    write_file(path("out.qb"), "older");
    // Written in place by the other user: the folder takes no file of theirs.
    fs::permissions(path("out.qb"), fs::perms::all);
    fs::permissions(folder_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    const int number = call_number(l.syscall, l.mark, "names.dbg out.qb", "-u nobody");
    const run_result result =
        shell_apart(wait_until_stopped + "ASAN_OPTIONS=\"$TRACED_ASAN\" strace -qq -o trace.log" +
                    " -u nobody -e trace=" + l.syscall + " -e inject=" + l.syscall +
                    ":signal=STOP:when=" + std::to_string(number) +
                    " $DBGPARSE names.dbg out.qb & wait_until_stopped trace.log $!; " +
                    l.meanwhile + "; kill -CONT $held; wait $!; rm trace.log");
    fs::permissions(folder_, fs::perms::all | fs::perms::sticky_bit);
    EXPECT_EQ(result.output, banner + "Couldn't write out.qb!\n") << l.name;
    EXPECT_TRUE(says_why(result.error, "out.qb",
                         "the name no longer leads to the file opened at the start: it was "
                         "removed or replaced during the run"))
        << l.name;
    EXPECT_EQ(fs::exists(path("out.qb")) ? read_file(path("out.qb")) : "", l.left) << l.name;
  }
}

// A signal that comes while a table is written in place waits for that
// write to end: the file is the old one or the whole table, never the table
// over the start of the old file with the old tail behind it. The run, as
// another user in a folder that user may not write, writes in place; the
// signal is sent at its first write into the file.
TEST_F(hostile_ground, a_signal_waits_for_the_write_in_place) {
  if (const auto reason = no_other_user()) {
    GTEST_SKIP() << *reason;
  }
  if (const auto reason = no_strace()) {
    GTEST_SKIP() << *reason;
  }
  write_file(path("names.dbg"), golden("sample.dbg"));
  const std::string older(5000000, 'o');
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    const std::string name = "signal " + std::to_string(signal);
    write_file(path("out.qb"), older);
    fs::permissions(path("out.qb"), fs::perms::all);
    fs::permissions(folder_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    const int number = call_number("write", "out.qb>, \"", "names.dbg out.qb", "-u nobody");
    write_file(path("out.qb"), older);
    const run_result result = shell(
        "ulimit -c 0; ASAN_OPTIONS=\"$TRACED_ASAN\" exec strace -qq -o /dev/null -u nobody "
        "-e trace=write -e inject=write:signal=" +
        std::to_string(signal) + ":when=" + std::to_string(number) +
        " $DBGPARSE names.dbg out.qb >/dev/null");
    fs::permissions(folder_, fs::perms::all | fs::perms::sticky_bit);
    EXPECT_EQ(result.killed_by, signal) << name << ", exit status " << result.exit_status;
    const std::string after = read_file(path("out.qb"));
    EXPECT_TRUE(after == golden("sample.qb") || after == older)
        << name << ": " << after.size() << " bytes, neither the old file nor the whole table";
  }
}

// The access list as getfacl shows it, or nothing where getfacl is missing.
std::optional<std::string> access_list(const fs::path& file) {
  run_options options;
  options.arguments = {"-c", "getfacl -c '" + file.string() + "'"};
  const run_result result = run_program("/bin/sh", options);
  return result.exit_status == 0 ? std::optional(result.output) : std::nullopt;
}

TEST_F(hostile_ground, carries_access_lists_and_attributes_or_writes_in_place) {
  if (const auto reason = no_other_user()) {
    GTEST_SKIP() << *reason;
  }
  write_file(path("names.dbg"), golden("sample.dbg"));
  fs::create_directory(path("shared"));
  write_file(path("shared/names.dbg"), golden("sample.dbg"));
  if (shell("setfacl -m u:nobody:rwx shared && setfacl -d -m u:nobody:rwx shared").exit_status !=
      0) {
    GTEST_SKIP() << "setfacl (Debian's acl) is missing, or the file system has no access lists";
  }
  struct carried {
    std::string name;
    std::string access;  // given to the old file by setfacl
    std::optional<unsigned> user;
    bool replaced;  // else written in place
  };
  // In `shared` the other user may write and new files get a named user.
  const carried cases[] = {
      {"an access list", "setfacl -m u:nobody:rw-,g::---,m::rw-", std::nullopt, true},
      {"no access list beside a default one", "setfacl -b", std::nullopt, true},
      {"another user's file", "setfacl -m u:nobody:rw-,g::---,m::rw-", nobody, false},
  };
  for (const carried& c : cases) {
    write_file(path("shared/out.qb"), "older");
    fs::remove(path("shared/old"));
    fs::create_hard_link(path("shared/out.qb"), path("shared/old"));
    ASSERT_EQ(shell(c.access + " shared/out.qb").exit_status, 0) << c.name;
    ASSERT_EQ(::setxattr(path("shared/out.qb").c_str(), "user.note", "kept", 4, 0), 0) << c.name;
    const std::optional<std::string> before = access_list(path("shared/out.qb"));
    const run_result result = shell("cd shared && $DBGPARSE names.dbg out.qb", c.user);
    EXPECT_EQ(result.output, banner + "Finished!\n") << c.name;
    EXPECT_EQ(read_file(path("shared/out.qb")), golden("sample.qb")) << c.name;
    EXPECT_EQ(read_file(path("shared/old")), c.replaced ? "older" : golden("sample.qb")) << c.name;
    EXPECT_EQ(access_list(path("shared/out.qb")), before) << c.name;
    char note[8] = {};
    EXPECT_EQ(::getxattr(path("shared/out.qb").c_str(), "user.note", note, sizeof note), 4)
        << c.name;
  }
}

TEST_F(hostile_ground, touches_nothing_when_the_temporary_file_cannot_be_made_or_placed) {
  write_file(path("names.dbg"), golden("sample.dbg"));
  const bool strace = !no_strace();
  write_file(path("out.qb"), "older");
  const int create = strace ? call_number("openat", "O_EXCL", "names.dbg out.qb") : 0;
  // Real limits and failures brought about at the temporary file's creation
  // or its rename; only a folder that refuses the user gives writing in
  // place.
  struct failure {
    std::string name;
    std::string command;
    std::string said;
    std::string contents;
    std::string why;  // on standard error, after "dbgparse: out.qb: "; none on success
  };
  std::vector<failure> failures = {
      {"five descriptors", "ulimit -n 5; $DBGPARSE names.dbg out.qb", "Couldn't open out.qb!",
       "older", "Too many open files"},
      {"a refused rename",
       "traced -o /dev/null -e inject=renameat2:error=EPERM $DBGPARSE names.dbg out.qb",
       "Couldn't write out.qb!", "older", "Operation not permitted"},
  };
  const std::pair<const char*, const char*> errors[] = {
      {"EMFILE", "Too many open files"},     {"ENFILE", "Too many open files in system"},
      {"ENOSPC", "No space left on device"}, {"EDQUOT", "Disk quota exceeded"},
      {"ENOMEM", "Cannot allocate memory"},  {"EACCES", ""}};
  for (const auto& [error, words] : errors) {
    failures.push_back({error,
                        "traced -o /dev/null -e inject=openat:error=" + std::string(error) +
                            ":when=" + std::to_string(create) + " $DBGPARSE names.dbg out.qb",
                        error == std::string("EACCES") ? "Finished!" : "Couldn't open out.qb!",
                        error == std::string("EACCES") ? golden("sample.qb") : "older", words});
  }
  for (const failure& f : failures) {
    if ((!strace && f.command.starts_with("traced")) ||
        (sanitized && f.name == "five descriptors")) {
      continue;  // the sanitizers' own checks need descriptors too
    }
    write_file(path("out.qb"), "older");
    const run_result result = shell_apart(f.command);
    EXPECT_EQ(result.output, banner + f.said + "\n") << f.name;
    if (f.why.empty()) {
      EXPECT_EQ(result.error, "") << f.name;
    } else {
      EXPECT_TRUE(says_why(result.error, "out.qb", f.why)) << f.name;
    }
    EXPECT_EQ(read_file(path("out.qb")), f.contents) << f.name;
    EXPECT_EQ(files(), (std::set<std::string>{"names.dbg", "out.qb"})) << f.name;
  }
}

TEST_F(hostile_ground, reaches_the_folder_where_its_full_path_cannot) {
  if (const auto reason = no_other_user()) {
    GTEST_SKIP() << *reason;
  }
  write_file(path("names.dbg"), golden("sample.dbg"));
  // Replaced, not written in place: the hard link keeps the old contents.
  const std::string convert_and_show_old =
      "'" + program_.string() + "' '" + path("names.dbg").string() + "' out.qb && cat old";
  std::string deeper_than_path_max = "mkdir deep && cd deep";
  for (int i = 0; i < 25; ++i) {
    // -P: the shell's own idea of where it is would outgrow PATH_MAX.
    deeper_than_path_max +=
        " && mkdir " + std::string(200, 'd') + " && cd -P " + std::string(200, 'd');
  }
  EXPECT_EQ(shell(deeper_than_path_max + " && echo older >out.qb && ln out.qb old && " +
                  convert_and_show_old)
                .output,
            banner + "Finished!\nolder\n");
  shell("rm -rf deep");  // beyond what std::filesystem can remove

  // The other user's folder, entered as root before its parent is locked.
  fs::create_directories(path("locked/inner"));
  ASSERT_EQ(shell("cd locked/inner && echo older >out.qb && ln out.qb old && "
                  "chown -R nobody:nogroup . && chmod 700 ..")
                .exit_status,
            0);
  run_options options;
  options.arguments = {"-c", convert_and_show_old};
  options.working_directory = path("locked/inner");
  options.user_id = nobody;
  EXPECT_EQ(run_program("/bin/sh", options).output, banner + "Finished!\nolder\n");
}

TEST_F(hostile_ground, keeps_its_messages_out_of_files_when_streams_are_closed) {
  write_file(path("names.dbg"), golden("sample.dbg"));
  // A table whose first entry qbdump warns about and leaves out.
  write_file(path("warns.qb"), std::string("\x01\x2B\x01\x00\x00\x00"
                                           "a\rb"
                                           "\x00\x2B\x02\x00\x00\x00"
                                           "c\0\0",
                                           18));
  struct closed {
    std::string name;
    std::string command;
    std::string file;
    std::string contents;
  };
  const closed cases[] = {
      {"standard output", "$DBGPARSE names.dbg keep.qb >&-", "keep.qb", golden("sample.qb")},
      {"standard output over a linked file",
       "echo older >keep.qb && ln keep.qb old && $DBGPARSE names.dbg keep.qb >&-", "old",
       "older\n"},
      {"all three", "$DBGPARSE names.dbg keep.qb <&- >&- 2>&-", "keep.qb", golden("sample.qb")},
      {"qbdump's warning", "$QBDUMP warns.qb keep.txt 2>&- >/dev/null", "keep.txt",
       "[Checksums]\r\n0x00000002 c\r\n"},
      {"no standard output for /dev/stdout", "$DBGPARSE names.dbg /dev/stdout >&-; echo $? >keep",
       "keep", "255\n"},
  };
  for (const closed& c : cases) {
    fs::remove(path(c.file));
    fs::remove(path("keep.qb"));
    shell(c.command);
    EXPECT_EQ(read_file(path(c.file)), c.contents) << c.name;
  }
}

// A path that names a standard stream the program was started without
// names no file: it cannot be opened, as input or as output, and nothing is
// replaced. Given, the same paths read and write the stream as before.
TEST_F(hostile_ground, refuses_a_path_to_a_standard_stream_it_was_started_without) {
  write_file(path("names.dbg"), golden("sample.dbg"));
  struct closed_stream {
    std::string command;
    std::string output;  // standard output
    int status;
    std::string error;  // standard error
  };
  const auto bad = [](const std::string& path) {
    return "dbgparse: " + path + ": Bad file descriptor\n";
  };
  const closed_stream cases[] = {
      {"$DBGPARSE /dev/stdin keep.qb <&-", banner + "Couldn't open /dev/stdin!\n", 255,
       bad("/dev/stdin")},
      {"$DBGPARSE /dev/fd/0 keep.qb <&-", banner + "Couldn't open /dev/fd/0!\n", 255,
       bad("/dev/fd/0")},
      {"$DBGPARSE /proc/self/fd/0 keep.qb <&-", banner + "Couldn't open /proc/self/fd/0!\n", 255,
       bad("/proc/self/fd/0")},
      {"$DBGPARSE names.dbg /dev/stdin <&-", banner + "Couldn't open /dev/stdin!\n", 255,
       bad("/dev/stdin")},
      {"$DBGPARSE names.dbg /dev/fd/0 <&-", banner + "Couldn't open /dev/fd/0!\n", 255,
       bad("/dev/fd/0")},
      {"$DBGPARSE /dev/stdin keep.qb <names.dbg", banner + "Finished!\n", 0, ""},
  };
  for (const closed_stream& c : cases) {
    write_file(path("keep.qb"), "older");
    const run_result result = shell_apart(c.command);
    EXPECT_EQ(result.output, c.output) << c.command;
    EXPECT_EQ(result.error, c.error) << c.command;
    EXPECT_EQ(result.exit_status, c.status) << c.command;
    EXPECT_EQ(read_file(path("keep.qb")), c.status == 0 ? golden("sample.qb") : "older")
        << c.command;
  }
}

// The guard of DBG files judges the file the output's path opens: through a
// link, the file it leads to, by its name as by its bytes; and a typed name,
// up to its first zero byte, as the system reads it.
TEST_F(hostile_ground, keeps_the_dbg_file_that_the_output_path_opens) {
  write_file(path("names.dbg"), golden("sample.dbg"));
  // A DBG file that only its name tells: its header lies past 64 KiB.
  const std::string notes = std::string(70000, 'n') + "\r\n[Checksums]\r\n";
  const std::string kept_line = " is a DBG file: it is kept; give the table another name\n";
  struct linked {
    std::string name;
    std::string make;  // a shell command
    std::string output;
    std::string file;  // where the table would land
    bool kept;
  };
  const linked cases[] = {
      {"a link to a DBG file", "ln -s notes.dbg t.qb", "t.qb", "notes.dbg", true},
      {"a link through a link", "ln -s notes.dbg l1 && ln -s l1 t.qb", "t.qb", "notes.dbg", true},
      {"a link named .dbg to a table", "ln -s real.qb x.dbg", "x.dbg", "real.qb", false},
  };
  for (const linked& c : cases) {
    write_file(path("notes.dbg"), notes);
    write_file(path("real.qb"), "older");
    ASSERT_EQ(shell(c.make).exit_status, 0) << c.name;
    // Typed, as given as arguments a second DBG file is an input.
    const run_result result = run({}, "names.dbg " + c.output + "\n");
    EXPECT_EQ(result.output,
              banner + "Enter the filename: \nEnter the file to save as: \n" +
                  (c.kept ? "Couldn't open " + c.output + "!\ndbgparse: " + c.output + kept_line
                          : std::string("Finished!\n")))
        << c.name;
    EXPECT_EQ(read_file(path(c.file)), c.kept ? notes : golden("sample.qb")) << c.name;
    shell("rm -f t.qb l1 x.dbg");
  }
  // Typed, "x.dbg" and a zero byte and ".qb" names x.dbg for the system.
  write_file(path("x.dbg"), notes);
  const run_result typed = run({}, std::string("names.dbg\nx.dbg\0.qb\n", 20));
  EXPECT_EQ(typed.output, banner + "Enter the filename: \nEnter the file to save as: \n" +
                              "Couldn't open x.dbg!\ndbgparse: x.dbg" + kept_line);
  EXPECT_EQ(read_file(path("x.dbg")), notes);
}

// A file's name reaches the terminal on standard error as a warning's
// content does: its control bytes (an escape sequence among them) as \xhh,
// in every line there. The dialogue's own lines name it as it was given.
TEST_F(hostile_ground, escapes_control_bytes_of_a_file_name_on_standard_error) {
  const std::string name = "a\x1b[2Jb\x07.dbg";
  const std::string shown = "a\\x1b[2Jb\\x07.dbg";
  write_file(path(name), "[Checksums]\r\n0x0000002a trailing \r\n");
  write_file(path("names.dbg"), golden("sample.dbg"));
  struct named_case {
    std::string label;
    std::vector<std::string> arguments;
    std::string output;
    std::string error;
    std::string typed;  // the answers to the questions, with no arguments
  };
  const named_case cases[] = {
      {"a warning about its content",
       {name, "out.qb"},
       banner + "Finished!\n",
       "dbgparse: " + shown +
           ":2: warning: the name \"trailing \" ends in a blank or a tab, which the table keeps\n",
       ""},
      // Typed, as given as arguments a second DBG file is an input.
      {"a DBG file kept as the output",
       {},
       banner + "Enter the filename: \nEnter the file to save as: \nCouldn't open " + name + "!\n",
       "dbgparse: " + shown + " is a DBG file: it is kept; give the table another name\n",
       "names.dbg " + name + "\n"},
      {"a missing input",
       {"missing" + name},
       banner + "Error checking size of missing" + name + " are you sure it exists?\n",
       "dbgparse: missing" + shown + ": No such file or directory\n",
       ""},
  };
  for (const named_case& c : cases) {
    const run_result result = run_apart(c.arguments, c.typed);
    EXPECT_EQ(result.output, c.output) << c.label;
    EXPECT_EQ(result.error, c.error) << c.label;
  }
}

TEST_F(hostile_ground, removes_what_it_made_on_any_signal_that_ends_it) {
  if (const auto reason = no_strace()) {
    GTEST_SKIP() << *reason;
  }
  write_file(path("names.dbg"), golden("sample.dbg"));
  // The signal arrives as the file is being created (before the program
  // could note it) or when the table's first bytes are written, for an
  // existing output and a new one. strace is exec'd, so that the program's
  // death by the signal reaches the test as strace passes it on.
  struct moment {
    std::string name;
    std::string syscall;
    std::string mark;
  };
  const moment moments[] = {{"creating", "openat", "O_EXCL"}, {"writing", "write", ".tmp>"}};
  for (const moment& m : moments) {
    for (const bool existing : {true, false}) {
      write_file(path("out.qb"), "older");
      if (!existing) {
        fs::remove(path("out.qb"));
      }
      const int number = call_number(m.syscall, m.mark, "names.dbg out.qb");
      // 34 is the first real-time signal the C library leaves to programs.
      for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU,
                               SIGVTALRM, SIGPROF, 34}) {
        const std::string name = m.name + (existing ? " over a file" : " a new file") +
                                 ", signal " + std::to_string(signal);
        write_file(path("out.qb"), "older");
        if (!existing) {
          fs::remove(path("out.qb"));
        }
        const run_result result = shell(
            "ulimit -c 0; ASAN_OPTIONS=\"$TRACED_ASAN\" exec strace -qq -o /dev/null -e trace=" +
            m.syscall + " -e inject=" + m.syscall + ":signal=" + std::to_string(signal) +
            ":when=" + std::to_string(number) + " $DBGPARSE names.dbg out.qb >/dev/null");
        EXPECT_EQ(result.killed_by, signal) << name << ", exit status " << result.exit_status;
        const std::set<std::string> before = existing ? std::set<std::string>{"names.dbg", "out.qb"}
                                                      : std::set<std::string>{"names.dbg"};
        EXPECT_EQ(files(), before) << name;
        if (existing) {
          EXPECT_EQ(read_file(path("out.qb")), "older") << name;
        }
      }
    }
  }
  // A signal the caller has the program ignore, as nohup does SIGHUP, stays
  // ignored: the run goes on to its end.
  const int number = call_number("write", ".tmp>", "names.dbg out.qb");
  const run_result immune =
      shell("trap '' HUP; traced -o /dev/null -e trace=write -e inject=write:signal=" +
            std::to_string(SIGHUP) + ":when=" + std::to_string(number) +
            " $DBGPARSE names.dbg out.qb >/dev/null");
  EXPECT_EQ(immune.exit_status, 0);
  EXPECT_EQ(read_file(path("out.qb")), golden("sample.qb"));

  // SIGKILL, which nothing can catch, leaves the temporary file: no one
  // else may read it meanwhile.
  shell("traced -o /dev/null -e trace=write -e inject=write:signal=" + std::to_string(SIGKILL) +
        ":when=" + std::to_string(number) + " $DBGPARSE names.dbg out.qb >/dev/null");
  const std::optional<fs::path> left = temporary_file_in(folder_);
  ASSERT_TRUE(left) << "SIGKILL left no temporary file";
  struct stat mode {};
  ASSERT_EQ(::stat(left->c_str(), &mode), 0);
  EXPECT_EQ(mode.st_mode & 077, 0U) << "others may read the temporary file";
}

// A signal sent to the process (as kill and a terminal send it, not to one
// of its threads) the moment the temporary file appears, to a run at the
// lowest priority so that the moment stretches: whichever thread it
// reaches, the temporary file is gone and the output is the old file or
// the whole table. The input is large enough for every part of the
// run to take part.
TEST_F(hostile_ground, removes_its_temporary_file_when_a_signal_comes_as_it_appears) {
  // A small input, and one whose table a second thread writes.
  struct sized {
    int lines;
    int rounds;
  };
  int died = 0;
  int runs = 0;
  for (const sized& size : {sized{8000, 25}, sized{700000, 4}}) {
    std::string input = "[Checksums]\r\n";
    for (int i = 0; i < size.lines; ++i) {
      input += "0x0000002a name_number_" + std::to_string(i) + "\r\n";
    }
    write_file(path("names.dbg"), input);
    ASSERT_EQ(run({"names.dbg", "whole.qb"}).exit_status, 0);
    const std::string whole = read_file(path("whole.qb"));
    fs::remove(path("whole.qb"));
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
      for (int round = 0; round < size.rounds; ++round, ++runs) {
        const std::string name = std::to_string(size.lines) + " lines, signal " +
                                 std::to_string(signal) + ", round " + std::to_string(round);
        write_file(path("out.qb"), "older");
        const int watch = ::inotify_init1(IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        ASSERT_GE(::inotify_add_watch(watch, folder_.c_str(), IN_CREATE), 0);
        const pid_t child = ::fork();
        if (child == 0) {
          ::setpriority(PRIO_PROCESS, 0, 19);
          for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
            ::signal(number, SIG_DFL);
          }
          const int null = ::open("/dev/null", O_RDWR);
          if (null >= 0 && ::dup2(null, 0) == 0 && ::dup2(null, 1) == 1 && ::dup2(null, 2) == 2 &&
              ::chdir(folder_.c_str()) == 0) {
            ::execl(program_.c_str(), "dbgparse", "names.dbg", "out.qb",
                    static_cast<char*>(nullptr));
          }
          ::_exit(127);
        }
        // The first file created in the folder is the temporary file.
        alignas(inotify_event) char events[4096];
        const ssize_t got = ::read(watch, events, sizeof events);
        ::kill(child, signal);
        ::close(watch);
        ASSERT_GT(got, 0) << name;
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child) << name;
        EXPECT_FALSE(temporary_file_in(folder_)) << name << ": a temporary file was left";
        // Killed before its table was in place, or after (a run may end
        // between placing it and exiting), or finished: never anything else.
        const std::string output = read_file(path("out.qb"));
        EXPECT_TRUE(output == "older" || output == whole) << name << ": the output is neither";
        if (WIFSIGNALED(status)) {
          ++died;
          EXPECT_EQ(WTERMSIG(status), signal) << name;
        } else {
          EXPECT_EQ(WEXITSTATUS(status), 0) << name;
          EXPECT_TRUE(output == whole) << name << ": finished, but the table is not whole";
        }
      }
    }
  }
  std::cout << died << " of " << runs << " runs died of the signal\n";
}

// A run converts and warns on its one thread, and starts one more, the
// writer, only for an input of 16 MiB or more: strace -f sees no thread or
// process started below that, and one thread above.
TEST_F(hostile_ground, starts_a_thread_only_to_write_a_large_table) {
  if (const auto reason = no_strace()) {
    GTEST_SKIP() << *reason;
  }
  const auto lines = [](int count) {
    std::string input = "[Checksums]\r\n";
    for (int i = 0; i < count; ++i) {  // with warnings all along
      input += "0x0000002a name_with_a_blank_" + std::to_string(i) + " \r\n";
    }
    return input;
  };
  write_file(path("small.dbg"), golden("sample.dbg"));
  write_file(path("medium.dbg"), lines(100000));  // over 3 MiB
  write_file(path("large.dbg"), lines(500000));   // over 17 MiB
  struct run_of {
    std::string name;
    std::size_t threads;
  };
  for (const run_of& r : {run_of{"small.dbg", 0}, run_of{"medium.dbg", 0}, {"large.dbg", 1}}) {
    const run_result result =
        shell("traced -f -o trace.log -e trace=clone,clone3,fork,vfork $DBGPARSE " + r.name +
              " out.qb >/dev/null 2>&1");
    EXPECT_EQ(result.exit_status, 0) << r.name;
    std::istringstream trace(read_file(path("trace.log")));
    std::size_t threads = 0;
    std::size_t processes = 0;
    for (std::string line; std::getline(trace, line);) {
      if (line.find("fork(") != std::string::npos) {
        ++processes;
      } else if (line.find("clone") != std::string::npos && line.find("= ") != std::string::npos) {
        ++(line.find("CLONE_THREAD") != std::string::npos ? threads : processes);
      }
    }
    EXPECT_EQ(threads, r.threads) << r.name << ":\n" << read_file(path("trace.log"));
    EXPECT_EQ(processes, 0U) << r.name << ":\n" << read_file(path("trace.log"));
    EXPECT_EQ(read_file(path("out.qb")).size() > 2, true) << r.name;
  }
}

// An existing output replaced, then the file system shut down as a power
// loss would leave it (the journal written, file data not), on an ext4
// image mounted over a loop device: the name holds the old file or the
// whole new one, never an empty or short file. For dbgparse's table and
// qbdump's listing alike. Skipped where no loop mount can be made.
TEST_F(hostile_ground, keeps_the_old_or_the_new_output_through_a_power_loss) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "mounting a file system needs root";
  }
  if (shell("truncate -s 64M image && mkfs.ext4 -q -F image && mkdir mnt && "
            "mount -o loop image mnt")
          .exit_status != 0) {
    GTEST_SKIP() << "no ext4 image can be mounted over a loop device here";
  }
  // Unmounted however the test ends.
  const std::shared_ptr<void> unmount(nullptr, [this](void*) { shell("umount mnt 2>/dev/null"); });
  write_file(path("mnt/names.dbg"), golden("sample.dbg"));
  write_file(path("mnt/t.qb"), golden("sample.qb"));
  struct replacement {
    std::string command;
    std::string output;
    std::string made;
  };
  const replacement replacements[] = {
      {"$DBGPARSE names.dbg out.qb", "out.qb", golden("sample.qb")},
      {"$QBDUMP t.qb out.lst", "out.lst", shell("$QBDUMP mnt/t.qb").output},
  };
  // EXT4_IOC_SHUTDOWN with EXT4_GOING_FLAGS_LOGFLUSH.
  const unsigned long shut_down = _IOR('X', 125, std::uint32_t);
  for (const replacement& r : replacements) {
    for (int round = 0; round < 3; ++round) {
      const std::string name = r.command + ", round " + std::to_string(round);
      const std::string older = "fifteen bytes!!";
      write_file(path("mnt/" + r.output), older);
      ASSERT_EQ(shell("sync").exit_status, 0);
      ASSERT_EQ(shell("cd mnt && " + r.command + " </dev/null >/dev/null 2>&1").exit_status, 0)
          << name;
      const int folder = ::open(path("mnt").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      ASSERT_GE(folder, 0);
      std::uint32_t flags = 1;
      const int shut = ::ioctl(folder, shut_down, &flags);
      ::close(folder);
      if (shut != 0) {
        GTEST_SKIP() << "this kernel cannot shut an ext4 file system down";
      }
      ASSERT_EQ(shell("umount mnt && mount -o loop image mnt").exit_status, 0) << name;
      const std::string after = read_file(path("mnt/" + r.output));
      EXPECT_TRUE(after == older || after == r.made)
          << name << ": " << after.size() << " bytes, neither the old file nor the new one";
    }
  }
}

TEST_F(hostile_ground, writes_in_place_what_cannot_be_renamed_over) {
  write_file(path("names.dbg"), golden("sample.dbg"));
  fs::create_directory(path("sealed"));
  write_file(path("sealed/out.qb"), "older");
  write_file(path("mounted"), "older");
  write_file(path("out.qb"), "");
  struct unrenamable {
    std::string name;
    std::string make;
    std::string output;
    std::string file;  // where the table lands
    std::string undo;
  };
  const unrenamable cases[] = {
      {"a bind-mounted file", "mount --bind mounted out.qb", "out.qb", "mounted", "umount out.qb"},
      {"an append-only folder", "chattr +a sealed", "sealed/out.qb", "sealed/out.qb",
       "chattr -a sealed"},
      {"a new file in an append-only folder", "chattr +a sealed", "sealed/new.qb", "sealed/new.qb",
       "chattr -a sealed"},
  };
  for (const unrenamable& c : cases) {
    if (shell(c.make + " 2>/dev/null").exit_status != 0) {
      std::cout << "skipped " << c.name << ": '" << c.make << "' is not allowed here\n";
      continue;
    }
    const run_result result = shell("$DBGPARSE names.dbg " + c.output);
    const std::string in_folder = read_file(path(c.file));
    shell(c.undo);
    EXPECT_EQ(result.output, banner + "Finished!\n") << c.name;
    EXPECT_EQ(in_folder, golden("sample.qb")) << c.name;
    EXPECT_FALSE(temporary_file_in(folder_) || temporary_file_in(path("sealed"))) << c.name;
  }
}

TEST_F(hostile_ground, reads_a_socket_as_standard_input) {
  int ends[2] = {-1, -1};
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
  const std::string text = golden("sample.dbg");
  ASSERT_EQ(::write(ends[0], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ::close(ends[0]);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::dup2(ends[1], STDIN_FILENO) == 0 && ::chdir(folder_.c_str()) == 0 &&
        std::freopen("/dev/null", "w", stdout) != nullptr) {
      ::execl(DBGPARSE_EXE, DBGPARSE_EXE, "/dev/stdin", "out.qb", static_cast<char*>(nullptr));
    }
    ::_exit(127);
  }
  ::close(ends[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(read_file(path("out.qb")), golden("sample.qb"));
}

TEST_F(hostile_ground, pauses_only_before_someone_at_the_terminal) {
  write_file(path("names.dbg"), golden("sample.dbg"));
  struct pause_case {
    std::string name;
    std::string command;
    bool waits;
  };
  const pause_case cases[] = {
      {"at the terminal, ended by a signal", "exec $DBGPARSE names.dbg", true},
      {"standard output into a file", "exec $DBGPARSE names.dbg >log", false},
      {"in the background", "set -m; $DBGPARSE names.dbg & wait $!", false},
  };
  for (const pause_case& c : cases) {
    const std::string command = "DBGPARSE='" + program_.string() + "'; " + c.command;
    const auto [child, terminal] =
        test_support::start_at_terminal(folder_, "/bin/sh", {"-c", command});
    ASSERT_GE(child, 0);
    if (c.waits) {
      const std::string shown =
          test_support::read_terminal_until(terminal, "Press any key to continue . . . ");
      ASSERT_NE(shown.find("Press any key"), std::string::npos) << c.name << ": " << shown;
      ::kill(child, SIGTERM);
    }
    const std::optional<int> status = test_support::wait_for_end(child);
    EXPECT_TRUE(status) << c.name << ": still waiting for a key";
    if (status && c.waits) {
      EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM)
          << c.name << ": wait status " << *status;
    }
    termios settings{};
    ASSERT_EQ(::tcgetattr(terminal, &settings), 0);
    EXPECT_EQ(settings.c_lflag & (ECHO | ICANON), static_cast<tcflag_t>(ECHO | ICANON))
        << c.name << ": the terminal was left raw";
    ::close(terminal);
  }
}

// A DBG file of `count` checksum lines whose names start with `stem`: its
// table is about 50 bytes a line.
std::string checksum_lines(int count, const std::string& stem) {
  std::string text = "[Checksums]\r\n";
  for (int i = 0; i < count; ++i) {
    char head[16];
    std::snprintf(head, sizeof head, "0x%08x ", static_cast<unsigned>(i) * 2654435761U);
    text += head + stem + std::to_string(i) +
            std::string(static_cast<std::size_t>(40 + i % 9), 'n') + "\r\n";
  }
  return text;
}

// Files in the test's folder, as the other user may read and write them but
// not replace them: root's, in the sticky folder.
void plant_shared(const fs::path& file, const std::string& bytes) {
  write_file(file, bytes);
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::group_write | fs::perms::others_read |
                            fs::perms::others_write);
}

// A failed write says why on standard error, after the dialogue's line: in
// the system's words where a call failed, in the program's own where it
// decided not to write (another file took the name).
TEST_F(hostile_ground, says_why_a_write_fails) {
  write_file(path("names.dbg"), golden("sample.dbg"));
  write_file(path("big.dbg"), checksum_lines(3000, "big"));
  struct failure {
    std::string name;
    std::string folder;  // where the command runs and out.qb is
    std::string command;
    std::string said;  // after the banner
    std::string why;   // after "dbgparse: out.qb: "
  };
  std::vector<failure> failures;
  fs::create_directory(path("small"));
  if (shell("mount -t tmpfs -o size=64k dbgparse_test small 2>/dev/null").exit_status == 0) {
    failures.push_back({"a full disk", "small", "$DBGPARSE ../big.dbg out.qb",
                        "Couldn't write out.qb!", "No space left on device"});
  } else {
    std::cout << "skipped the full disk: mount is not allowed here\n";
  }
  // The program under strace, its standard error apart from strace's own
  // (which tells how it resolved the path it was given).
  const std::string apart_from_strace =
      R"(sh -c 'exec "$0" names.dbg out.qb 2>&3' "$DBGPARSE" 3>&2 2>/dev/null)";
  if (!no_strace()) {
    failures.push_back({"a new output's name taken before the table is complete", ".",
                        "traced -o /dev/null -P out.qb -e inject=openat:error=ENOENT "
                        "-e inject=newfstatat:error=ENOENT " +
                            apart_from_strace,
                        "Couldn't write out.qb!",
                        "another file took the name during the run and is left as it is"});
    failures.push_back(
        {"the name taken at each try", ".",
         "traced -o /dev/null -P out.qb -e inject=openat:error=ENOENT " + apart_from_strace,
         "Couldn't open out.qb!", "another file took the name at each attempt to create it"});
  } else {
    std::cout << "skipped the names taken: " << *no_strace() << "\n";
  }
  for (const failure& f : failures) {
    write_file(path(f.folder) / "out.qb", planted);
    const run_result result = shell_apart("cd " + f.folder + " && " + f.command);
    EXPECT_EQ(result.output, banner + f.said + "\n") << f.name;
    EXPECT_TRUE(says_why(result.error, "out.qb", f.why)) << f.name;
    EXPECT_EQ(read_file(path(f.folder) / "out.qb"), planted) << f.name;
  }
  shell("umount small 2>/dev/null");
}

TEST_F(hostile_ground, leaves_a_file_written_in_place_as_it_was_when_the_table_cannot_fit) {
  if (const auto reason = no_other_user()) {
    GTEST_SKIP() << *reason;
  }
  write_file(path("big.dbg"), checksum_lines(3000, "big"));
  write_file(path("names.dbg"), golden("sample.dbg"));
  ASSERT_EQ(shell("$DBGPARSE big.dbg big.qb").exit_status, 0);
  const std::string big_table = read_file(path("big.qb"));
  ASSERT_GT(big_table.size(), std::size_t{100} << 10);
  const std::string old(30000, 'o');

  // A full disk: a small file system, where the old file and its table
  // cannot both be held.
  fs::create_directory(path("small"));
  const bool mounted =
      shell("mount -t tmpfs -o size=64k,mode=1777 dbgparse_test small 2>/dev/null").exit_status ==
      0;
  // The input as its own output, in a folder that its user may not write,
  // under a file size limit the table would pass.
  fs::create_directory(path("ro"));
  struct failure {
    std::string name;
    std::string output;
    std::string input;
    std::optional<std::uint64_t> file_size_limit;
    std::string said;  // after the banner
    bool fits;         // a control: the same path, with room for the table
    std::string why;   // on standard error, after "dbgparse: OUTPUT: "
  };
  std::vector<failure> failures = {
      {"the input as its own output past the file size limit", "ro/mine.dbg", "ro/mine.dbg",
       std::uint64_t{100} << 10, "Couldn't write ro/mine.dbg!", false,
       "the table is larger than the file size limit (ulimit -f) allows; the file is left as it "
       "was"},
      {"the input as its own output within the file size limit", "ro/mine.dbg", "ro/mine.dbg",
       std::uint64_t{1} << 20, "Finished!", true, ""},
  };
  if (mounted) {
    failures.push_back({"a full disk", "small/shared.qb", "big.dbg", std::nullopt,
                        "Couldn't write small/shared.qb!", false,
                        "its space could not be reserved (No space left on device); the file is "
                        "left as it was"});
    failures.push_back({"a table that fits on the small disk", "small/shared.qb", "names.dbg",
                        std::nullopt, "Finished!", true, ""});
  } else {
    std::cout << "skipped the full disk: mount is not allowed here\n";
  }
  for (const failure& f : failures) {
    const std::string before = f.input == f.output ? checksum_lines(3000, "big") : old;
    plant_shared(path(f.output), before);
    if (f.output.starts_with("ro/")) {
      EXPECT_EQ(::chown(path(f.output).c_str(), nobody, nobody), 0);
      fs::permissions(path("ro"), fs::perms::owner_all | fs::perms::group_read |
                                      fs::perms::group_exec | fs::perms::others_read |
                                      fs::perms::others_exec);
    }
    run_options options;
    options.arguments = {f.input, f.output};
    options.working_directory = folder_;
    options.user_id = nobody;
    options.file_size_limit = f.file_size_limit;
    options.error_apart = true;
    const run_result result = run_program(program_, options);
    EXPECT_EQ(result.output, banner + f.said + "\n") << f.name;
    if (f.why.empty()) {
      EXPECT_EQ(result.error, "") << f.name;
    } else {
      EXPECT_TRUE(says_why(result.error, f.output, f.why)) << f.name;
    }
    const std::string after = read_file(path(f.output));
    if (f.fits) {
      EXPECT_EQ(after, f.input == "names.dbg" ? golden("sample.qb") : big_table) << f.name;
    } else {
      EXPECT_TRUE(after == before) << f.name << ": " << after.size() << " bytes now";
    }
    fs::remove(path(f.output));
  }
  if (mounted) {
    shell("umount small");
  }
}

TEST_F(hostile_ground, leaves_a_file_written_in_place_whole_or_as_it_was_at_any_memory_limit) {
  if (sanitized) {
    GTEST_SKIP() << "the sanitizers' shadow memory needs more address space than any limit here";
  }
  if (const auto reason = no_other_user()) {
    GTEST_SKIP() << *reason;
  }
  write_file(path("big.dbg"), checksum_lines(3000, "big"));
  ASSERT_EQ(shell("$DBGPARSE big.dbg big.qb").exit_status, 0);
  const std::string table = read_file(path("big.qb"));
  const std::string old(18392, 'o');
  // From below what the program needs to start, to more than the run needs.
  int finished = 0;
  int refused = 0;
  for (int limit = 1000; limit <= 16000; limit += 250) {
    plant_shared(path("shared.qb"), old);
    const run_result result = shell_apart(
        "ulimit -v " + std::to_string(limit) + " && $DBGPARSE big.dbg shared.qb", nobody);
    const std::string after = read_file(path("shared.qb"));
    const std::string at = "at " + std::to_string(limit) + " KiB: " + result.output;
    if (result.output == banner + "Finished!\n") {
      ++finished;
      EXPECT_TRUE(after == table) << at;
      continue;
    }
    EXPECT_TRUE(after == old) << at << after.size() << " bytes now";
    if (result.output == banner + "Not enough memory for big.dbg!\n") {
      ++refused;
      EXPECT_TRUE(
          says_why(result.error, "big.dbg", "there is not enough memory to read and convert it"))
          << at;
    } else if (result.output == banner + "Couldn't write shared.qb!\n") {
      ++refused;
      EXPECT_TRUE(result.error.starts_with("dbgparse: shared.qb: ")) << at << result.error;
    }
  }
  EXPECT_GT(finished, 0) << "no limit was high enough";
  EXPECT_GT(refused, 0) << "no limit made the run fail";
}

TEST_F(hostile_ground, runs_writing_one_file_in_place_take_turns) {
  if (const auto reason = no_other_user()) {
    GTEST_SKIP() << *reason;
  }
  // Tables of different lengths, so that any mix of the two shows.
  write_file(path("a.dbg"), checksum_lines(3000, "a"));
  write_file(path("b.dbg"), checksum_lines(1500, "b"));
  ASSERT_EQ(shell("$DBGPARSE a.dbg a.qb && $DBGPARSE b.dbg b.qb").exit_status, 0);
  plant_shared(path("shared.qb"), "older");
  // Pairs started together; each pair must leave one whole table, and each
  // run must finish.
  constexpr int pairs = 100;
  const run_result result =
      shell("for i in $(seq " + std::to_string(pairs) +
                "); do "
                "$DBGPARSE a.dbg shared.qb >a.said & $DBGPARSE b.dbg shared.qb >b.said; wait $!; "
                "grep -q Finished a.said || echo \"pair $i: a $(cat a.said)\"; "
                "grep -q Finished b.said || echo \"pair $i: b $(cat b.said)\"; "
                "cmp -s shared.qb a.qb || cmp -s shared.qb b.qb || echo \"pair $i: mixed\"; "
                "done",
            nobody);
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(result.exit_status, 0);
}

TEST_F(hostile_ground, reads_dbg_text_piped_after_the_typed_words) {
  write_file(path("names.dbg"), golden("sample.dbg"));
  const std::string asked = "Enter the filename: \nEnter the file to save as: \n";
  for (const char* words : {"/dev/stdin\\nout.qb\\n", "  /dev/stdin out.qb\\n"}) {
    fs::remove(path("out.qb"));
    const run_result result =
        shell("(printf '" + std::string(words) + "'; cat names.dbg) | $DBGPARSE");
    EXPECT_EQ(result.output, banner + asked + "Finished!\n") << words;
    EXPECT_EQ(fs::exists(path("out.qb")) ? read_file(path("out.qb")) : "", golden("sample.qb"))
        << words;
  }
}

}  // namespace
