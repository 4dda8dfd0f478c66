// qbdump: reads a QB checksum table back. Lists it as DBG text that dbgparse
// converts to the same table, finds the names of a checksum or the checksums
// of a name, or only checks the table. Exit status as grep and cmp have it.
#include <cstdio>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "check.h"
#include "entries.h"
#include "listing.h"
#include "look_up.h"
#include "messages.h"
#include "options.h"
#include "platform.h"
#include "table_input.h"

namespace dbgparse::qbdump {
namespace {

int run(const std::vector<std::string>& args) {
  std::string error;
  const std::optional<command> parsed = parse_command(args, error);
  if (!parsed) {
    return usage_error(error);
  }
  if (parsed->what == action::help) {
    return write_out(usage_text) ? exit_success : exit_trouble;
  }
  if (parsed->what == action::version) {
    return write_out("qbdump " QBDUMP_VERSION "\n") ? exit_success : exit_trouble;
  }
  if (parsed->what == action::check) {
    return check(parsed->operands);
  }
  const std::string& table = parsed->operands.front();
  try {
    const std::optional<platform::input_bytes> input = read_table(table);
    if (!input) {
      return exit_trouble;
    }
    if (parsed->what == action::look_up) {
      return look_up(table, input->bytes, parsed->queries);
    }
    if (parsed->what == action::entries) {
      return show_entries(table, input->bytes);
    }
    // "-" as the listing is standard output, as in lz4, zstd and xxd.
    std::optional<std::string> listing_path;
    if (parsed->operands.size() > 1 && parsed->operands[1] != "-") {
      listing_path = parsed->operands[1];
    }
    return list(table, input->bytes, listing_path, parsed->force);
  } catch (const std::bad_alloc&) {
    say_error(shown_name(table) + ": not enough memory for it");
    return exit_trouble;
  }
}

}  // namespace
}  // namespace dbgparse::qbdump

int main(int argc, char** argv) {
  namespace platform = dbgparse::platform;
  namespace qbdump = dbgparse::qbdump;
  platform::prepare_process();
  platform::write_standard_error_as_bytes();
  const int status = qbdump::run(platform::arguments(argc, argv));
  if (std::fflush(stdout) != 0 && status != qbdump::exit_trouble) {
    qbdump::say_error("standard output: cannot write it" + qbdump::because());
    return qbdump::exit_trouble;
  }
  return status;
}
