#include "check.h"

#include <cstddef>
#include <new>
#include <optional>
#include <span>
#include <string_view>

#include "messages.h"
#include "platform.h"
#include "qb_listing.h"
#include "table_input.h"

namespace dbgparse::qbdump {
namespace {

std::string count_of(std::size_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

// The check's line for one table ("N entries, M bytes" and what a listing
// would leave out), or nothing after saying what is wrong with it.
std::optional<std::string> check_line(const std::string& table) {
  const std::optional<platform::input_bytes> input = read_table(table);
  if (!input) {
    return std::nullopt;
  }
  const qb::listing_outcome outcome = qb::write_listing(
      input->bytes, [](std::span<const unsigned char>) { return true; },
      [](const qb::listing_warning&) {});
  if (outcome.fault) {
    report_fault(table, input->bytes, *outcome.fault);
    return std::nullopt;
  }
  std::string line = count_of(outcome.entries, "entry", "entries") + ", " +
                     std::to_string(input->bytes.size()) + " bytes";
  if (outcome.left_out > 0) {
    line += ", " + std::to_string(outcome.left_out) + " that a listing leaves out";
  }
  return line;
}

}  // namespace

int check(const std::vector<std::string>& tables) {
  int status = exit_success;
  for (const std::string& table : tables) {
    std::optional<std::string> line;
    try {
      line = check_line(table);
    } catch (const std::bad_alloc&) {
      say_error(shown_name(table) + ": not enough memory for it");
    }
    if (!line) {
      status = exit_trouble;
      continue;
    }
    const std::string named = tables.size() > 1 ? shown_name(table) + ": " + *line : *line;
    if (!write_out(named + "\n")) {
      say_error("standard output: cannot write it" + because());
      return exit_trouble;
    }
  }
  return status;
}

}  // namespace dbgparse::qbdump
