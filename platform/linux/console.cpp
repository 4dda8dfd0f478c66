// The console side on POSIX systems: arguments as given, words from
// standard input, signals, and a raw-mode key press for the pause.
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "own_stream.h"
#include "platform.h"
#include "signal_cleanup.h"

namespace dbgparse::platform {
namespace {

// Someone can see the prompt and answer it: both streams are the terminal
// and we are its foreground job (not started with & or sent to the
// background, where reading the terminal would stop us).
bool someone_at_the_terminal() {
  return ::isatty(STDIN_FILENO) != 0 && ::isatty(STDOUT_FILENO) != 0 &&
         ::tcgetpgrp(STDIN_FILENO) == ::getpgrp();
}

// One byte of standard input; false at its end or on an error.
bool read_byte(int& byte) {
  unsigned char got = 0;
  ssize_t count = 0;
  while ((count = ::read(STDIN_FILENO, &got, 1)) < 0 && errno == EINTR) {
  }
  byte = got;
  return count == 1;
}

}  // namespace

void prepare_process() {
  posix::hold_closed_standard_streams();
  // Past a file size limit, a write should fail and be reported (and the
  // temporary file removed) rather than end the process.
  std::signal(SIGXFSZ, SIG_IGN);
  posix::install_signal_cleanup();
}

std::vector<std::string> arguments(int argc, char** argv) {
  return {argv, argv + std::max(argc, 0)};
}

// As scanf's "%s" reads a word: white space skipped, then every byte up to the
// next white space, which is taken too. Byte by byte, straight from the
// descriptor: nothing past that white space is read, so that what follows
// the words in a pipe is still there for /dev/stdin. Standard input is never
// read through stdio, whose buffer would take it.
bool read_word(std::string& word) {
  int byte = 0;
  bool more = read_byte(byte);
  while (more && std::isspace(byte) != 0) {
    more = read_byte(byte);
  }
  if (!more) {
    return false;
  }
  word.clear();
  while (more && std::isspace(byte) == 0) {
    word.push_back(static_cast<char>(byte));
    more = read_byte(byte);
  }
  return true;
}

void pause() {
  std::fflush(stdout);
  // A script, a pipe, a log file or a background job has no one to press a
  // key: never wait there.
  if (!someone_at_the_terminal()) {
    return;
  }
  termios saved{};
  if (::tcgetattr(STDIN_FILENO, &saved) != 0) {
    return;
  }
  termios raw = saved;
  // Ctrl-C is a key like any other here; a signal from elsewhere still puts
  // the settings back on its way out.
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  posix::restore_terminal_on_signal(STDIN_FILENO, saved);
  // Raw before the prompt shows, so that a key pressed at once is not echoed.
  ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  // Keys typed while the program worked are not the answer: only a key
  // pressed once the prompt shows ends the pause.
  ::tcflush(STDIN_FILENO, TCIFLUSH);
  std::fputs("Press any key to continue . . . ", stdout);
  std::fflush(stdout);
  char key = 0;
  while (::read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
  }
  // A key such as an arrow sends several bytes; drop the rest of them.
  ::tcflush(STDIN_FILENO, TCIFLUSH);
  ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  posix::leave_terminal_on_signal();
  std::fputs("\n", stdout);
  std::fflush(stdout);
}

}  // namespace dbgparse::platform
