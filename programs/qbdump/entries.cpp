#include "entries.h"

#include <optional>

#include "messages.h"
#include "qb_reader.h"
#include "table_input.h"
#include "text.h"

namespace dbgparse::qbdump {
namespace {

std::string entry_line(const qb::entry& item) {
  std::string line =
      std::to_string(item.offset) + " " + text::hex(item.value) + " " + text::quoted(item.name);
  if (item.padding > 0) {
    line += " padding " + std::to_string(item.padding);
  }
  line.push_back('\n');
  return line;
}

}  // namespace

int show_entries(const std::string& table, std::span<const unsigned char> bytes) {
  qb::table_reader reader(bytes);
  while (const std::optional<qb::entry> item = reader.next()) {
    if (!write_out(entry_line(*item))) {
      say_error("standard output: cannot write it" + because());
      return exit_trouble;
    }
  }
  if (reader.fault()) {
    report_fault(table, bytes, *reader.fault());
    return exit_trouble;
  }
  return exit_success;
}

}  // namespace dbgparse::qbdump
