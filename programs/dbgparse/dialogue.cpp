// The console dialogue: settles the paths, reads the input, writes the table
// and tells the outcome, pausing before the window closes.
#include <cstdio>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "conversion.h"
#include "dbg_line.h"
#include "platform.h"
#include "warning_report.h"

namespace {

namespace platform = dbgparse::platform;

constexpr int exit_success = 0;
constexpr int exit_failure = -1;  // arrives as 255 on POSIX, 0xFFFFFFFF on Windows

// How far into an existing output the DBG header is looked for. Two DBG
// files dropped on the program at once arrive as input and output; the
// second is refused, not replaced by the first one's table.
constexpr std::size_t dbg_header_window = std::size_t{64} << 10;

struct paths {
  std::string input;
  std::string output;
};

// Prints one line of the dialogue on standard output.
void say(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
}

int fail(const std::string& message) {
  say(message);
  platform::pause();
  return exit_failure;
}

// Puts a question and reads the answer, one word. The question is flushed
// first, so that a program driving us through a pipe sees it before we wait.
bool ask(const std::string& question, std::string& answer) {
  say(question);
  std::fflush(stdout);
  return platform::read_word(answer);
}

// No argument: both paths are asked for. One: the output is named after the
// input. Two or more: the first two are taken.
std::optional<paths> settle_paths(const std::vector<std::string>& args) {
  if (args.size() <= 1) {
    paths asked;
    if (!ask("Enter the filename: ", asked.input) ||
        !ask("Enter the file to save as: ", asked.output)) {
      return std::nullopt;
    }
    return asked;
  }
  if (args.size() == 2) {
    return paths{args[1], args[1] + ".qb"};
  }
  return paths{args[1], args[2]};
}

enum class write_outcome { written, cannot_open, cannot_write };

// Writes the table of `input` to the output. Whatever a failed run made (a
// temporary file, a new output) is gone once this returns, before the pause.
write_outcome write_output(const paths& files, std::span<const unsigned char> input) {
  if (platform::other_file_holds(files.output, files.input, dbgparse::dbg::section_header,
                                 dbg_header_window)) {
    return write_outcome::cannot_open;
  }
  platform::output_file output;
  if (!output.open(files.output)) {
    return write_outcome::cannot_open;
  }
  const bool written = dbgparse::write_table(
      input, [&output](std::span<const unsigned char> piece) { return output.write(piece); });
  return written && output.commit() ? write_outcome::written : write_outcome::cannot_write;
}

int convert(const paths& files) {
  platform::input_bytes input;
  switch (platform::read_input(files.input, input)) {
    case platform::read_result::ok:
      break;
    case platform::read_result::not_found:
      return fail("Error checking size of " + files.input + " are you sure it exists?");
    case platform::read_result::cannot_read:
      return fail("Couldn't open " + files.input + "!");
    case platform::read_result::no_memory:
      return fail("Not enough memory for " + files.input + "!");
  }
  // What the conversion will do that the file's author may not expect, told
  // before the outcome so that it shows above Finished! in a dropped file's
  // window.
  dbgparse::report_warnings(files.input, input.bytes);
  // The output is opened only once the input is read whole, so the output
  // may be the input.
  switch (write_output(files, input.bytes)) {
    case write_outcome::written:
      break;
    case write_outcome::cannot_open:
      return fail("Couldn't open " + files.output + "!");
    case write_outcome::cannot_write:
      return fail("Couldn't write " + files.output + "!");
  }
  say("Finished!");
  platform::pause();
  return exit_success;
}

int run(const std::vector<std::string>& args) {
  say("Zav's DBG converter");
  const std::optional<paths> files = settle_paths(args);
  if (!files) {
    return fail("No filename given!");
  }
  try {
    return convert(*files);
  } catch (const std::bad_alloc&) {
    return fail("Not enough memory for " + files->input + "!");
  }
}

}  // namespace

int main(int argc, char** argv) {
  platform::prepare_process();
  return run(platform::arguments(argc, argv));
}
