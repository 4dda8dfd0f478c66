// The console dialogue: settles the paths, reads the input, writes the table
// and tells the outcome, pausing before the window closes.
#include <algorithm>
#include <cstdio>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "diagnosis.h"
#include "kept_outputs.h"
#include "platform.h"
#include "table_output.h"
#include "text.h"
#include "warning_report.h"

namespace {

namespace platform = dbgparse::platform;

constexpr int exit_success = 0;
constexpr int exit_failure = -1;  // arrives as 255 on POSIX, 0xFFFFFFFF on Windows

struct paths {
  std::string input;
  std::string output;
};

// Prints one line of the dialogue on standard output.
void say(const std::string& line) {
  platform::write_text(platform::standard_stream::output, line + "\n");
}

// Prints one line on standard error, after what standard output holds.
void tell(const std::string& line) {
  std::fflush(stdout);
  platform::write_text(platform::standard_stream::error, "dbgparse: " + line + "\n");
  std::fflush(stderr);
}

// Ends the run with the dialogue's line for the failure and, on standard
// error after it, why: "dbgparse: PATH: REASON".
int failed(const std::string& message, const std::string& path, const std::string& why) {
  say(message);
  tell(dbgparse::text::shown_path(path) + ": " +
       (why.empty() ? std::string("the system gave no reason") : why));
  return exit_failure;
}

// Why a run lacking memory failed, however it came to lack it.
constexpr const char* no_memory = "there is not enough memory to read and convert it";

// Puts a question and reads the answer, one word. The question is flushed
// first, so that a program driving us through a pipe sees it before we wait.
bool ask(const std::string& question, std::string& answer) {
  say(question);
  std::fflush(stdout);
  if (!platform::read_word(answer)) {
    return false;
  }
  // The system reads a path up to its first zero byte: so does every check
  // made of the name, the guard of DBG files among them.
  answer.resize(std::min(answer.find('\0'), answer.size()));
  return true;
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

enum class write_outcome { written, kept, cannot_open, cannot_write };

struct write_result {
  write_outcome outcome;
  std::string why;  // when it failed
};

// Writes the table of `input` to the output, handing its warnings to
// `warnings` in the same pass (or in a pass of their own where no table is
// written). Whatever a failed run made (a temporary file, a new output) is
// gone once this returns, before the pause.
write_result write_output(const paths& files, std::span<const unsigned char> input,
                          dbgparse::warning_report& warnings) {
  const dbgparse::warning_sink warn = warnings.sink();
  platform::output_file output;
  if (dbgparse::is_kept_output(files.output, files.input)) {
    dbgparse::diagnose(input, warn, dbgparse::warning_report::most_shown);
    return {write_outcome::kept, {}};
  }
  if (!output.open(files.output)) {
    dbgparse::diagnose(input, warn, dbgparse::warning_report::most_shown);
    return {write_outcome::cannot_open, output.failure().reason};
  }
  dbgparse::table_output table(output, input.size());
  const bool converted =
      dbgparse::convert_and_diagnose(input, table, warn, dbgparse::warning_report::most_shown);
  if (!table.finish() || !converted || !output.commit()) {
    if (output.failure().no_memory) {
      // The table, held whole before it goes over a file written in place.
      throw std::bad_alloc();
    }
    return {write_outcome::cannot_write, output.failure().reason};
  }
  return {write_outcome::written, {}};
}

// Converts one input to its output and says the outcome, without pausing.
int convert(const paths& files) {
  platform::input_bytes input;
  const platform::read_result read = platform::read_input(files.input, input);
  const std::string why = platform::failure_reason();
  switch (read) {
    case platform::read_result::ok:
      break;
    case platform::read_result::not_found:
      return failed("Error checking size of " + files.input + " are you sure it exists?",
                    files.input, why);
    case platform::read_result::cannot_read:
      return failed("Couldn't open " + files.input + "!", files.input, why);
    case platform::read_result::no_memory:
      return failed("Not enough memory for " + files.input + "!", files.input, no_memory);
  }
  // What the conversion did that the file's author may not expect, found
  // while the table is written and told before the outcome, so that it
  // shows above Finished! in a dropped file's window. The output is opened
  // only once the input is read whole, so the output may be the input.
  dbgparse::warning_report warnings(files.input);
  const write_result result = write_output(files, input.bytes, warnings);
  warnings.print();
  switch (result.outcome) {
    case write_outcome::written:
      break;
    case write_outcome::kept:
      // The dialogue's line as for any output that cannot be opened, and
      // why on standard error.
      say("Couldn't open " + files.output + "!");
      tell(dbgparse::text::shown_path(files.output) +
           " is a DBG file: it is kept; give the table another name");
      return exit_failure;
    case write_outcome::cannot_open:
      return failed("Couldn't open " + files.output + "!", files.output, result.why);
    case write_outcome::cannot_write:
      return failed("Couldn't write " + files.output + "!", files.output, result.why);
  }
  say("Finished!");
  return exit_success;
}

int convert_or_say_no_memory(const paths& files) {
  try {
    return convert(files);
  } catch (const std::bad_alloc&) {
    return failed("Not enough memory for " + files.input + "!", files.input, no_memory);
  }
}

// Several DBG files given at once (dropped on the program together, the
// second being a DBG file): each is converted to its own NAME.qb beside it,
// in order. An argument that is no DBG file is not converted.
int convert_each(std::span<const std::string> inputs) {
  int status = exit_success;
  for (const std::string& input : inputs) {
    if (!dbgparse::is_dbg_file(input)) {
      say("Couldn't open " + input + "!");
      tell(input +
           " is not a DBG file: of several files given at once, only DBG files are converted");
      status = exit_failure;
    } else if (convert_or_say_no_memory(paths{input, input + ".qb"}) != exit_success) {
      status = exit_failure;
    }
  }
  return status;
}

int run(const std::vector<std::string>& args) {
  say("Zav's DBG converter");
  int status = exit_failure;
  if (args.size() >= 3 && dbgparse::is_kept_output(args[2], args[1])) {
    status = convert_each(std::span(args).subspan(1));
  } else if (const std::optional<paths> files = settle_paths(args)) {
    status = convert_or_say_no_memory(*files);
  } else {
    failed("No filename given!", "standard input", "it ended before a path was read");
  }
  // One pause, after the last outcome, whatever it was.
  platform::pause();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  platform::prepare_process();
  platform::write_standard_error_as_bytes();
  return run(platform::arguments(argc, argv));
}
