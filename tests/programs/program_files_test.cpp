// Process-level tests of the program on hostile ground, on POSIX systems:
// links planted by another user, the standard streams and pipes as files,
// signals halfway through a write, long names, folders that take no
// temporary file, and when the pause may wait.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <thread>
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
using test_support::write_file;

constexpr unsigned nobody = 65534;

class hostile_ground : public test_support::program_fixture {
 protected:
  // Runs a shell command line in the test's folder; $DBGPARSE is the program.
  run_result shell(const std::string& command, std::optional<unsigned> user = std::nullopt) {
    run_options options;
    options.arguments = {"-c", "DBGPARSE='" + program_.string() + "'; " + command};
    options.working_directory = folder_;
    options.user_id = user;
    return run_program("/bin/sh", options);
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

  fs::path program_ = DBGPARSE_EXE;
};

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
    EXPECT_EQ(run({"names.dbg", "out.qb"}).output, banner + "Couldn't open out.qb!\n") << link.name;
    EXPECT_EQ(run({"names.dbg"}).output, banner + "Couldn't open names.dbg.qb!\n") << link.name;
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

// Starts the program on `arguments` in `folder` with no standard streams
// worth the name.
pid_t start(const fs::path& folder, const std::vector<std::string>& arguments) {
  const pid_t child = ::fork();
  if (child == 0) {
    std::vector<char*> argv{const_cast<char*>(DBGPARSE_EXE)};
    for (const std::string& argument : arguments) {
      argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    if (::chdir(folder.c_str()) == 0 && std::freopen("/dev/null", "r+", stdout) != nullptr) {
      ::execv(DBGPARSE_EXE, argv.data());
    }
    ::_exit(127);
  }
  return child;
}

std::optional<fs::path> temporary_file_in(const fs::path& folder) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == ".tmp") {
      return entry.path();
    }
  }
  return std::nullopt;
}

TEST_F(hostile_ground, removes_the_temporary_file_on_a_signal) {
  // Each "0x" in a text starts another entry of a long text: a table more
  // than a hundred times the input's size, long enough to be caught halfway.
  std::string nested = "[Checksums]\r\n";
  for (int i = 0; i < (1 << 20); ++i) {
    nested += "0x";
  }
  write_file(path("names.dbg"), nested + "\r\n");
  for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    // A busy machine may let a run finish before it is seen halfway: such a
    // run proves nothing and is tried again.
    bool caught = false;
    for (int attempt = 0; attempt < 5 && !caught; ++attempt) {
      write_file(path("out.qb"), "older");
      fs::permissions(path("out.qb"), fs::perms::owner_read | fs::perms::owner_write);
      const pid_t child = start(folder_, {"names.dbg", "out.qb"});
      std::optional<fs::path> temporary;
      int status = 0;
      while (!temporary && ::waitpid(child, &status, WNOHANG) == 0) {
        temporary = temporary_file_in(folder_);
      }
      if (!temporary) {
        continue;
      }
      caught = true;
      struct stat mode {};
      if (::stat(temporary->c_str(), &mode) == 0) {
        EXPECT_EQ(mode.st_mode & 077, 0U) << "others may read the temporary file";
      }
      ::kill(child, number);
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + number) << number;
      EXPECT_EQ(files(), (std::set<std::string>{"names.dbg", "out.qb"})) << number;
      EXPECT_EQ(read_file(path("out.qb")), "older") << number;
    }
    EXPECT_TRUE(caught) << "no run was seen halfway in five tries";
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
  EXPECT_EQ(run({"names.dbg", ""}).output, banner + "Couldn't open !\n");

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
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
      const std::string command = "DBGPARSE='" + program_.string() + "'; " + c.command;
      if (::chdir(folder_.c_str()) == 0) {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      }
      ::_exit(127);
    }
    int status = 0;
    if (c.waits) {
      const std::string shown =
          test_support::read_terminal_until(terminal, "Press any key to continue . . . ");
      ASSERT_NE(shown.find("Press any key"), std::string::npos) << c.name << ": " << shown;
      ::kill(child, SIGTERM);
    }
    for (int i = 0; i < 100 && ::waitpid(child, &status, WNOHANG) == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (::kill(child, 0) == 0) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      ADD_FAILURE() << c.name << ": still waiting for a key";
    }
    termios settings{};
    ASSERT_EQ(::tcgetattr(terminal, &settings), 0);
    EXPECT_EQ(settings.c_lflag & (ECHO | ICANON), static_cast<tcflag_t>(ECHO | ICANON))
        << c.name << ": the terminal was left raw";
    ::close(terminal);
  }
}

}  // namespace
