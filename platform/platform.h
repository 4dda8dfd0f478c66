// What the programs need from the operating system, the same promises on
// every system: linux/ and windows/ each keep them, a file per concern.
// Paths are byte strings (UTF-8 where the platform's own names are wide).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace dbgparse::platform {

// Readies the process, first thing in main(): standard streams that are
// closed get the null device, so that no file opened later takes their
// place; the console's text encoding; and the cleanup that removes what
// the run made when a signal or console event ends it halfway.
void prepare_process();

// The command line as UTF-8 strings, the program's own name first.
std::vector<std::string> arguments(int argc, char** argv);

// Reads one white-space-delimited word from standard input; false at its end.
bool read_word(std::string& word);

// The input's bytes, held until the process ends. `owner` keeps the memory
// behind `bytes` alive, however the platform obtained it.
struct input_bytes {
  std::span<const unsigned char> bytes;
  std::shared_ptr<const void> owner;
};

enum class read_result {
  ok,
  not_found,    // nothing answers to the path, or it cannot be examined
  cannot_read,  // it is there, but cannot be opened or read (a folder, a
                // file we may not read, an I/O error)
  no_memory,    // there is not enough memory for all of it
};

// Opens the file once and reads it to its end, however large its status
// said it was (a pipe, a FIFO or a file under /proc says 0, and a file may
// grow while it is read). failure_reason() tells why it failed.
read_result read_input(const std::string& path, input_bytes& input);

// Reads standard input to its end, in binary, as read_input reads a file;
// never not_found.
read_result read_standard_input(input_bytes& input);

// The name of the file that `path` opens, as the system reads it: on
// Windows without the dots and blanks it drops at the end ("a.dbg." opens
// a.dbg); elsewhere the path its symbolic links lead to (t.qb -> notes.dbg
// opens notes.dbg), or `path` itself where it is no link.
std::string opened_name(const std::string& path);

// The first `window` bytes (fewer when it is shorter) of the existing
// regular file that `path` names, when it is not the file that `input`
// names. Nothing whenever that cannot be told (no such file, a device, a
// file we may not read) or it is the input.
std::optional<std::vector<unsigned char>> other_file_start(const std::string& path,
                                                           const std::string& input,
                                                           std::size_t window);

// The output file, decided at open() before anything is converted:
// - a regular file, existing or new, is written to a temporary file beside
//   it, which commit() puts in its place once complete, so that a failed
//   run leaves an existing file as it was and makes no new one;
// - where that cannot be done and the file may still be written (a folder
//   we may not write, a file held open by another program or mounted over
//   its name, another user's file whose owner or access list a replacement
//   could not keep), the file itself is written in place: write() holds
//   the bytes in memory and commit() puts them over the old contents, under
//   an exclusive lock on the file that every run writing it so takes, once
//   the name still holds the file, the file size limit allows them and
//   their space is reserved (where the file system can reserve it). Any
//   failure before that write leaves the old file as it was;
// - a stream given as a path (/dev/stdout and its kind) is written as it
//   is, and any other device or pipe in place;
// - the file that the process's own standard output or error goes to
//   (`dbgparse a.dbg log.txt > log.txt`) is refused: the table would take
//   the messages' place, or follow them in a file that no program could
//   read as a table.
// Whatever a failed run made is removed when the object goes.
//
// Why open(), write() or commit() failed, to follow the file's name in a
// message: the system's own words ("No space left on device"), or a
// sentence of this layer's own where it decided to fail (the name now holds
// another file, the table is past the file size limit).
struct output_failure {
  std::string reason;
  // write() had no memory to hold the table for a file written in place.
  bool no_memory = false;
};

class output_file {
 public:
  output_file();
  output_file(const output_file&) = delete;
  output_file& operator=(const output_file&) = delete;
  ~output_file();  // removes the temporary file unless committed

  // False when the output cannot be written at all; nothing is touched then.
  [[nodiscard]] bool open(const std::string& path);
  // False when the bytes could not all be written (or, in place, held).
  [[nodiscard]] bool write(std::span<const unsigned char> bytes);
  // Closes the file and puts a temporary file in the output's place. False
  // when that failed, or when the output's name no longer holds the file
  // that open() found: the table then went nowhere.
  [[nodiscard]] bool commit();
  // Why open(), write() or commit() failed.
  [[nodiscard]] const output_failure& failure() const;

 private:
  struct state;
  std::unique_ptr<state> state_;
};

// A thread for work beside the run, such as writing the table while it is
// converted. It takes none of the signals or console events that end a run:
// those reach the thread that handles them for the whole process, which
// removes what the run made, so that none finds a thread with nothing to
// clean up. The work must not throw.
class worker_thread {
 public:
  worker_thread() = default;
  worker_thread(const worker_thread&) = delete;
  worker_thread& operator=(const worker_thread&) = delete;
  ~worker_thread() { join(); }

  // Starts `work`; false when no thread could be had (nothing runs then).
  [[nodiscard]] bool start(std::function<void()> work);
  // Waits until the work is done; at once when none was started.
  void join() {
    if (thread_.joinable()) {
      thread_.join();
    }
  }

 private:
  std::thread thread_;
};

// Keeps the console window open until a key is pressed. Standard output is
// flushed first.
void pause();

// Where the programs' messages and listings go.
enum class standard_stream { output, error };

// Writes `text` (whole lines, or at least whole characters, of UTF-8) to
// standard output or error. A file or a pipe gets its bytes exactly as they
// are, through the C library's buffer; a Windows console gets it as one
// piece of wide text, so that every name shows as typed whatever the
// console's code page and however the console would split bytes. False when
// not all of it was written.
bool write_text(standard_stream stream, std::string_view text);

// Standard error passes a message's bytes as they are: on Windows no CR is
// put before its LF, as on every other platform.
void write_standard_error_as_bytes();

// The system's own words for why the last call into this layer (or a write
// to a standard stream) failed, such as "No such file or directory"; ask
// right after that call. Empty when the system gave no reason.
std::string failure_reason();

}  // namespace dbgparse::platform
