#include "table_input.h"

#include <string_view>

#include "dbg_line.h"
#include "header_forms.h"
#include "messages.h"

namespace dbgparse::qbdump {

std::optional<platform::input_bytes> read_table(const std::string& path) {
  using platform::read_result;
  platform::input_bytes input;
  const read_result result =
      path == "-" ? platform::read_standard_input(input) : platform::read_input(path, input);
  switch (result) {
    case read_result::ok:
      return input;
    case read_result::not_found:
    case read_result::cannot_read:
      say_error(shown_name(path) + ": cannot read it" + because());
      return std::nullopt;
    case read_result::no_memory:
      say_error(shown_name(path) + ": not enough memory for it");
      return std::nullopt;
  }
  return std::nullopt;
}

void report_fault(const std::string& table, std::span<const unsigned char> bytes,
                  const qb::fault& fault) {
  say_error(shown_name(table) + ": byte " + std::to_string(fault.offset) + ": expected " +
            fault.expected);
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  // The title anywhere, or a header line in any form an editor saves it in
  // (another case, UTF-16).
  if (text.find(dbg::section_title) != std::string_view::npos || dbg::find_header(bytes)) {
    say_error(shown_name(table) + ": it looks like DBG text, not a QB table; " +
              "dbgparse converts it into one");
  }
}

}  // namespace dbgparse::qbdump
