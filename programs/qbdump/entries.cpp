#include "entries.h"

#include <array>
#include <cstdio>
#include <optional>

#include "messages.h"
#include "qb_reader.h"
#include "table_input.h"

namespace dbgparse::qbdump {
namespace {

// A name as it is stored, in double quotes: the bytes that a terminal would
// not show as themselves, and the quote and the backslash, as \xHH.
std::string quoted_name(std::span<const unsigned char> name) {
  std::string out = "\"";
  for (const unsigned char c : name) {
    if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
      std::array<char, 8> escape{};
      std::snprintf(escape.data(), escape.size(), "\\x%02x", static_cast<unsigned>(c));
      out += escape.data();
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  out.push_back('"');
  return out;
}

std::string entry_line(const qb::entry& item) {
  std::array<char, 16> value{};
  std::snprintf(value.data(), value.size(), "0x%08x", static_cast<unsigned>(item.value));
  std::string line =
      std::to_string(item.offset) + " " + value.data() + " " + quoted_name(item.name);
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
