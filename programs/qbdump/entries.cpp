#include "entries.h"

#include <optional>

#include "messages.h"
#include "qb_reader.h"
#include "table_input.h"
#include "text.h"

namespace dbgparse::qbdump {

int show_entries(const std::string& table, std::span<const unsigned char> bytes) {
  qb::table_reader reader(bytes);
  while (const std::optional<qb::entry> item = reader.next()) {
    if (!write_out(text::entry_line(item->offset, item->checksum, item->name, item->padding))) {
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
