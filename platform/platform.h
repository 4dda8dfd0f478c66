// What the console program needs from the operating system, kept apart from
// the dialogue so that each platform's details stay in one small file.
// Paths are byte strings (UTF-8 where the platform's own names are wide).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dbgparse::platform {

// Sets the console up for the run (text encoding, signals that would end the
// process halfway through a write).
void prepare_console();

// The command line as UTF-8 strings, the program's own name first.
std::vector<std::string> arguments(int argc, char** argv);

// Reads one white-space-delimited word from standard input; false at its end.
bool read_word(std::string& word);

// Size in bytes from the file's status, or nothing when it cannot be examined.
std::optional<std::uint64_t> file_size(const std::string& path);

// The input's bytes, held until the process ends. `owner` keeps the memory
// behind `bytes` alive, however the platform obtained it.
struct input_bytes {
  std::span<const unsigned char> bytes;
  std::shared_ptr<const void> owner;
};

enum class read_result { ok, cannot_open, no_memory };

// Reads up to `expected_size` bytes of the file; a file that turned out
// shorter gives what it holds. A folder or a read error is cannot_open.
read_result read_input(const std::string& path, std::uint64_t expected_size, input_bytes& input);

// Reads standard input to its end, in binary, as read_input reads a file.
read_result read_standard_input(input_bytes& input);

// Whether `path` names an existing regular file, other than the one `input`
// names, whose first `window` bytes hold `text`. False whenever that cannot
// be told (no such file, a device, a file we may not read): only a file
// known to hold it answers true.
bool other_file_holds(const std::string& path, const std::string& input, std::string_view text,
                      std::size_t window);

// The output file. A regular file (or a new one) is written to a temporary
// file beside it and put in its place by commit() only when complete, so a
// failed run leaves an existing file as it was. Anything else (a device, a
// pipe) is written directly.
class output_file {
 public:
  output_file();
  output_file(const output_file&) = delete;
  output_file& operator=(const output_file&) = delete;
  ~output_file();  // removes the temporary file unless committed

  // False when the output cannot be written at all.
  [[nodiscard]] bool open(const std::string& path);
  [[nodiscard]] bool write(std::span<const unsigned char> bytes);
  // Closes the file and, for a replaced file, renames it into place.
  [[nodiscard]] bool commit();

 private:
  struct state;
  std::unique_ptr<state> state_;
};

// Keeps the console window open until a key is pressed. Standard output is
// flushed first.
void pause();

// Standard error passes a message's bytes as they are: on Windows no CR is
// put before its LF, as on every other platform.
void write_standard_error_as_bytes();

// The system's own words for why the last call into this layer (or a write
// to a standard stream) failed, such as "No such file or directory"; ask
// right after that call. Empty when the system gave no reason.
std::string failure_reason();

}  // namespace dbgparse::platform
